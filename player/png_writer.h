// Writes RGBA8 pixels as a PNG file, through stb_image_write.
#pragma once

#include <cstdint>
#include <string>

// rows: height rows of width * 4 bytes, top row first. False, with the reason in *error and no
// file left behind, when the file could not be written whole (a full disk, a folder that takes no
// files).
bool png_write_rgba(const char *path, int width, int height, const uint8_t *rows, std::string *error);
