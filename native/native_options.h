// The native player's command line: the Windows host's options that make sense for our plug-in
// linked in (same names, same meaning), and the few a native program needs besides.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/clock_setting.h"
#include "host/spectrum_fill.h"
#include "shell/platform_linux_egl.h"

struct NativeOptions {
    // As the host's.
    const char *log = nullptr;       // null: stdout
    int frames = 50;
    bool frames_given = false;       // a stream otherwise sets the count
    intptr_t probe_answer = 0x5066;  // the answer to WM_USER/0
    bool embed = true;               // WM_USER/505 answered nonzero
    const char *track = nullptr;
    bool wall_pacing = false;        // --pacing wall: each frame takes its clock step of real time
    bool pacing_given = false;
    int sample_rate = 44100;
    int channels = 2;
    bool channels_given = false;
    int delay_override = -1;         // ms between frames; -1: the module's delay
    SpectrumSpec spectrum;
    std::vector<int> answers;        // button ids in order; 0 the box's default
    bool quit_after_failed_init = false;
    int escape_at = -1;
    int close_at = -1;
    const char *capture = nullptr;
    int capture_every = 1;
    int cycles = 1;
    int render_after_quit = 0;
    VirtualClockSetting clock;
    const char *video = nullptr;     // a file, a FIFO, or "-" for stdout
    bool realtime = false;
    const char *wait_for = nullptr;

    // The native player's own.
    const char *plugin_folder = nullptr;  // holds vis_halcyonsphere_assets; null: beside the program
    const char *options_file = nullptr;   // a useropt.cfg for this run
    int width = 0, height = 0;            // the window's size for this run; 0: the options'
    bool window = false;                  // on the user's display, else offscreen
    EglDisplayChoice gl = EglDisplayChoice::best;
    int gl_device = 0;
    const char *sound = nullptr;          // play this audio in step with the frames
};

extern const char kNativeUsage[];

// False with a message in *error for a bad or missing argument; an empty message for --help.
bool native_options_parse(int argc, char **argv, NativeOptions *options, std::string *error);
