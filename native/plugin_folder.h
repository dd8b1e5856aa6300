// Where the plug-in finds its asset folder: natively its module's name has no folder, so the
// player makes the plug-in's folder the current directory. A run with its own options or size
// reads the assets through a private folder instead (the asset files linked in, the options
// written there, in $TMPDIR), so that the user's folder and its useropt.cfg stay as they are. The
// private folder goes however the run ends: on its return or failure, on a stop signal
// (stop_signals.h), and what a run killed outright leaves, the next run removes.
#pragma once

#include <string>

#include "settings/user_options.h"

struct PluginFolderRequest {
    std::string folder;             // holds vis_halcyonsphere_assets
    const char *options_file;       // null: the folder's own options (or the defaults)
    int width, height;              // 0: the options' size
    std::string asset_folder = "";  // the assets to link; "": folder/vis_halcyonsphere_assets
    const UserOptions *record = nullptr;  // the options to write, in place of options_file's
};

// Enters the folder (or a private one made from it); false with a reason.
bool plugin_folder_enter(const PluginFolderRequest &request, std::string *error);
// Removes the private folder, if one was made.
void plugin_folder_leave();
// The same from a signal handler, on any thread, while the program may be anywhere.
void plugin_folder_remove_now();

// The folder the program lies in.
std::string program_folder();
// path made absolute against the current directory (the player enters another one).
std::string absolute_path(const char *path);
