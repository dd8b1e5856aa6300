// What render and play of the installed program share around the frame loop: the plug-in's
// private folder (the assets linked, the options of this run written beside them), the platform
// seam started, the plug-in loaded and handed the player's window, and all of it ended again.
#pragma once

#include <string>

#include "player/run_options.h"
#include "settings/user_options.h"
#include "shell/platform_linux_egl.h"
#include "shell/vis_module.h"

struct PlayerSession {
    std::string asset_folder;      // the set to read
    UserOptions options = {};      // written for the plug-in, size included
    bool window = false;           // on the display (play), else offscreen
    EglDisplayChoice gl = EglDisplayChoice::best;
    int gl_device = 0;
    std::string log;               // the events; "" for none
    RunOptions run;                // the frame loop's options (clock, frames, track)
};

// False with one line; nothing is left to end then.
bool player_session_start(PlayerSession *session, VisModule **module, std::string *error);
void player_session_end();
// The text of the last message box the plug-in showed ("" for none): why its Init failed.
const std::string &player_session_last_box();
// For the frame loop: "gl_lost" once the plug-in's GL context is gone (a driver reset, a display
// that went away), else null; player_session_gl_lost_reason() then says why.
const char *player_session_gl_lost();
std::string player_session_gl_lost_reason();
// The GL that draws, in words ("llvmpipe (...): software rendering on the CPU, no display
// needed"), once a context exists; "" before.
std::string player_session_renderer();
