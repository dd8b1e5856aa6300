// The host's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/dialog_script.h"
#include "host/spectrum_fill.h"
#include "host/virtual_clock.h"

// How frames follow each other. clock: as fast as the plug-in draws them (with the module's
// delay between them), each at its own tick of the deterministic clock; wall: each frame takes its
// clock step of real time, the capture at its end, for a plug-in that draws on its own schedule;
// automatic: wall unless the plug-in drew its first frame with GL on the host's thread.
enum class Pacing { clock, wall, automatic };

struct HostOptions {
    const char *dll = nullptr;
    const char *log = nullptr;          // null: stdout
    bool config = false;                // run Config
    bool init = true;                   // run Init, the frames and Quit
    bool config_reenter = false;        // call Config again from inside the first dialog
    int frames = 50;
    bool frames_given = false;          // a stream source otherwise sets the count
    intptr_t probe_answer = 0x5066;     // the version (WM_USER/0): what a 5.66 player answers
    bool embed = true;                  // WM_USER/505 hands out the embed function
    const char *track = nullptr;        // the audio file the player plays, as the plug-in sees it
    Pacing pacing = Pacing::clock;
    int sample_rate = 44100;
    int channels = 2;
    bool channels_given = false;        // a stream source otherwise sets the count
    int delay_override = -1;            // ms between frames; -1: the module's delay
    SpectrumSpec spectrum;
    std::vector<int> answers;
    bool quit_after_failed_init = false;
    int escape_at = -1;                 // frame before which Escape goes to the registered window
    int close_at = -1;                  // frame before which WM_CLOSE goes to it
    const char *capture = nullptr;      // folder for PNG captures of the frames; null: none
    int capture_every = 1;              // capture frames 0, N, 2N, ...
    int cycles = 1;                     // Init, frames, Quit this many times in one process
    int render_after_quit = 0;          // Render calls after Quit, as a careless player might
    VirtualClockSetting clock;             // the plug-in's tick count, when enabled
    const char *video = nullptr;        // raw frames for an encoder (see video_out.h); null: none
    bool realtime = false;              // stream rows follow the wall clock, not the frame count
    const char *wait_for = nullptr;     // after Init, wait until this file exists, then start
    DialogScript dialog;                // what to do to the plug-in's first dialog
    int dialog_template = -1;           // dialog resource to read back from the DLL; -1: none
};

extern const char kHostUsage[];

// False with a message in *error for a bad or missing argument.
bool host_options_parse(int argc, char **argv, HostOptions *options, std::string *error);
