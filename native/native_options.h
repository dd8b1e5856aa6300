// The native player's command line: the Windows host's options that make sense for our plug-in
// linked in (same names, same meaning), and the few a native program needs besides.
#pragma once

#include <string>

#include "player/run_options.h"
#include "shell/platform_linux_egl.h"

struct NativeOptions {
    RunOptions run;                       // as the host's, parsed by the same code
    const char *plugin_folder = nullptr;  // holds vis_halcyonsphere_assets; null: beside the program
    const char *options_file = nullptr;   // a useropt.cfg for this run
    int width = 0, height = 0;            // the window's size for this run; 0: the options'
    bool window = false;                  // on the user's display, else offscreen
    EglDisplayChoice gl = EglDisplayChoice::best;
    int gl_device = 0;
    const char *sound = nullptr;          // play this audio in step with the frames
    double sound_latency_ms = 0;          // what the output's reported latency leaves out
    int lose_gl_at = -1;                  // a test's lost GL context: that swap fails
};

extern const char kNativeUsage[];

// False with a message in *error for a bad or missing argument; an empty message for --help.
bool native_options_parse(int argc, char **argv, NativeOptions *options, std::string *error);
