// The command line of `halcyonsphere listen`.
#pragma once

#include <string>

struct ListenOptions {
    std::string source;                  // "": the default output's monitor, followed
    bool list_sources = false;
    int width = 0, height = 0;           // 0: the options' size
    std::string options_file;            // "": the user's useropt.cfg
    std::string assets;                  // "": the shipped asset set
    bool fullscreen = false;
    int sound_latency_ms = 0;            // what the server does not report (Bluetooth on PipeWire)
    std::string record;                  // a video of what was shown and heard; "": none
    // For tests and benchmarks.
    std::string log;                     // the events, one JSON object per line; "": none
    std::string capture;                 // each frame as DIR/frame_NNNNN.png; "": none
    int frames = 0;                      // end after this many frames; 0: when the user quits
    bool help = false;
};

extern const char kListenUsage[];

// False with one line in *error for a bad command line.
bool listen_options_parse(int argc, char **argv, ListenOptions *options, std::string *error);
