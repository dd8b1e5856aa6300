// The host's command line.
#pragma once

#include <string>

#include "host/dialog_script.h"
#include "player/run_options.h"

struct HostOptions {
    RunOptions run;                     // what the native program takes too
    const char *dll = nullptr;
    bool config = false;                // run Config
    bool init = true;                   // run Init, the frames and Quit
    bool config_reenter = false;        // call Config again from inside the first dialog
    DialogScript dialog;                // what to do to the plug-in's first dialog
    int dialog_template = -1;           // dialog resource to read back from the DLL; -1: none
};

extern const char kHostUsage[];

// False with a message in *error for a bad or missing argument.
bool host_options_parse(int argc, char **argv, HostOptions *options, std::string *error);
