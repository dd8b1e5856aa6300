// The options both players take, the Windows host (host/host_options.h) and the native program
// (native/native_options.h): same names, same meaning, parsed here once. Each program's parser
// keeps its own loop and options and asks these functions about the rest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "player/clock_setting.h"
#include "player/spectrum_fill.h"

// How frames follow each other. clock: as fast as the plug-in draws them (with the module's
// delay between them), each at its own tick of the deterministic clock; wall: each frame takes its
// clock step of real time, the capture at its end, for a plug-in that draws on its own schedule;
// automatic: wall unless the plug-in drew its first frame with GL on the player's thread.
enum class Pacing { clock, wall, automatic };

struct RunOptions {
    const char *log = nullptr;          // null: stdout
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
    std::vector<int> answers;           // dialog_answers.h's ids, one per box in order
    bool quit_after_failed_init = false;
    int escape_at = -1;                 // frame before which Escape goes to the registered window
    int close_at = -1;                  // frame before which WM_CLOSE goes to it
    const char *capture = nullptr;      // folder for PNG captures of the frames; null: none
    int capture_every = 1;              // capture frames 0, N, 2N, ...
    int cycles = 1;                     // Init, frames, Quit this many times in one process
    int render_after_quit = 0;          // Render calls after Quit, as a careless player might
    VirtualClockSetting clock;          // the plug-in's tick count, when enabled
    bool clock_start_given = false;
    const char *video = nullptr;        // raw frames for an encoder (frame_files.h); null: none
    bool realtime = false;              // stream rows follow the wall clock, not the frame count
    const char *wait_for = nullptr;     // after Init, wait until this file exists, then start
};

// A whole number in [low, high], decimal or 0x hex, the whole text.
bool option_number(const char *text, long long low, long long high, long long *value);

// True when arg is one of the shared options that take no value (and sets it).
bool run_option_flag(const char *arg, RunOptions *options);
// True when arg is one of the shared options that take a value; *ok false when value is bad.
bool run_option_value(const char *arg, const char *value, RunOptions *options, bool *ok);
// After the command line: the shared options that need others. False with a message in *error.
bool run_options_check(const RunOptions &options, std::string *error);
