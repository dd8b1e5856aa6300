// The command line of `halcyonsphere listen`.
#pragma once

#include <string>

struct ListenOptions {
    const char *source = nullptr;        // null: the default output's monitor, followed
    bool list_sources = false;
    int width = 0, height = 0;           // 0: the options' size
    const char *options_file = nullptr;  // null: the user's useropt.cfg
    const char *assets = nullptr;        // null: the shipped asset set
    bool fullscreen = false;
    int sound_latency_ms = 0;            // what the server does not report (Bluetooth on PipeWire)
    // For tests and benchmarks.
    const char *log = nullptr;           // the events, one JSON object per line; null: none
    const char *capture = nullptr;       // each frame as DIR/frame_NNNNN.png
    int frames = 0;                      // end after this many frames; 0: when the user quits
};

extern const char kListenUsage[];

// False with one line in *error for a bad or missing argument; an empty one for --help.
bool listen_options_parse(int argc, char **argv, ListenOptions *options, std::string *error);
