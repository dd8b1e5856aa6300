// Where the plug-in finds its asset folder: natively its module's name has no folder, so the
// player makes the plug-in's folder the current directory. A run with its own options or size
// reads the assets through a private folder instead (the asset files linked in, the options
// written there), so that the user's folder and its useropt.cfg stay as they are.
#pragma once

#include <string>

struct PluginFolderRequest {
    std::string folder;             // holds vis_halcyonsphere_assets
    const char *options_file;       // null: the folder's own options (or the defaults)
    int width, height;              // 0: the options' size
};

// Enters the folder (or a private one made from it); false with a reason.
bool plugin_folder_enter(const PluginFolderRequest &request, std::string *error);
// Removes the private folder, if one was made.
void plugin_folder_leave();

// The folder the program lies in.
std::string program_folder();
// path made absolute against the current directory (the player enters another one).
std::string absolute_path(const char *path);
