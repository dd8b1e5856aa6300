// minimal_vis.dll's pieces: what minimal_vis.txt asks of it, its log, and its picture.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "shell/vis_module.h"

struct BoxRequest {
    UINT type;
    std::string caption;
    std::string text;
};

enum class Drawing { none, gl, gdi, ddraw };

// The player's embedded-window record, declared here as a plug-in declares it from the player's
// interface: the frame, flags, its rectangle, the plug-in's pointer, the player's 64 words.
struct EmbedState {
    HWND me; int flags; RECT r; void *user_ptr; intptr_t extra_data[64];
};

struct MinimalConfig {
    int quit_after = 0;
    bool quit_in_init = false;
    int init_result = 0;
    int render_result = 0;
    int end_after = 0;
    int crash_at = -1;                 // 0: in Init; N: in the N-th Render; kCrashOnThread
    bool crash_overflow = false;       // by running out of stack rather than a null write
    bool recover = false;              // take the fault itself and go on (minimal_faults.cpp)
    std::string own_filter;            // "", "import", "lookup" or "dllmain": a top-level filter of its own
    bool filter_chains = true;         // that filter calls the one it replaced
    bool probe = true;
    bool window = false;
    std::string embed;                 // "", "1" (through the function) or "direct"
    int embed_resize[2] = {0, 0};
    bool embed_rect_given = false;
    int embed_rect[4] = {0, 0, 0, 0};
    std::vector<BoxRequest> boxes;
    std::string config = "dialog";
    int delay = 10;
    Drawing drawing = Drawing::none;
    float clear[3] = {0, 0, 0};
    bool meter = false;
    bool wave = false;
    int wave_channels = 2;
    int size[2] = {200, 150};
    int render_sleep = 0;
    int gl_load = 0;
    bool leak = false;
    std::string thread;                // "", "1" (draws on its own thread) or "own" (also makes the windows)
    int thread_open_wait = 0;          // ms the thread waits before opening its drawing
    int thread_wait = 0;               // ... and between opening it and its first frame
    bool gl_state = false;
    bool lookup = false;
    std::vector<BoxRequest> thread_boxes;
    bool ini = false;
    std::vector<std::string> ask;      // "104", "105:1", ...: asked at Init, every Render and Quit
};

const int kCrashOnThread = -2;

extern MinimalConfig g_config;
extern HINSTANCE g_instance;

void log_line(const char *format, ...);
std::string beside_dll(const char *name);

// What one frame shows, from the module's rows: the clear colour (with meter=1, its red and green
// follow the loudness of the two spectrum rows), the top-left quadrant white, and with wave=1 the
// first waveform row as a yellow line across the middle.
struct FrameData {
    uint8_t spectrum[2][kSpectrumBins];
    uint8_t waveform[2][kSpectrumBins];
};

// The drawing on window: opened on the thread that draws (GL's context is that thread's). With
// gl_state, it sets a GL pack state of its own and logs it before every frame.
bool drawing_open(HWND window);
void drawing_frame(const FrameData &data);
void drawing_close();

// A plug-in's bug, as the host meets it: in the way g_config asks, and taken by the plug-in itself
// with recover=1 (then it returns, and the next log_recovery logs "recovered code=..").
void crash();
void log_recovery();  // in every Render and Quit
// Sets the top-level filter of its own that g_config asks for, in the way it asks ("dllmain" only
// from DllMain). Its filter logs "own_filter code=..".
void set_own_filter(bool in_dll_main);

#if defined(MINIMAL_VIS_MERGED)
// merged_vis.dll's page of code among its imports (merged_page.cpp): started from DllMain, waited
// for before the header is handed over, logged ("merged" and "host_protect" lines) and stopped by
// Init, undone when the DLL is unloaded.
void merged_attach();
void merged_wait_spinning();
void merged_report_and_stop();
void merged_detach();
#endif

#if defined(MINIMAL_VIS_LOOKALIKE)
// timeGetTime as lookalike_clock.dll exports it: another DLL's function of a patched name.
unsigned long lookalike_time();
#endif
