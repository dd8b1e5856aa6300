// A picture of what the plug-in makes of an asset folder, drawn on the CPU: the sphere models
// placed as the scene places them, lit per pixel the way the fragment program lights them (normal
// map, parallax from the height in its alpha, decal, one coloured light), in several poses and
// light colours, with the flat maps underneath.
#pragma once

#include <string>

// False with a reason when a file of the folder cannot be read or the PNG cannot be written.
bool render_asset_preview(const char *folder, const char *png_path, std::string *error);
