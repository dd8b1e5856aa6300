// The frames of `listen` for the frame loop (frame_loop.h): each takes the rows of the sound heard
// at the moment the frame reaches the screen, from the live capture, and runs until the user
// quits (or for a set number of frames). A row is a microsecond since the first frame.
#pragma once

#include <string>

#include "audio/live_capture.h"
#include "player/frame_loop.h"

struct LiveRowsSetup {
    LiveCapture *capture = nullptr;
    int frames = 0;                                      // end after this many; 0: no end
    double sound_latency = 0;                            // seconds the output adds, unreported
    void (*notice)(const std::string &line) = nullptr;   // what the capture has to tell the user
    void (*before_frames)() = nullptr;                   // after a successful Init
    const char *(*cannot_go_on)() = nullptr;             // as FramePacing's
};

void live_rows_use(const LiveRowsSetup &setup);
RowSource rows_of_live_capture();
extern const FramePacing kLivePacing;

// When the last frame reached the screen, on the capture's clock (live_capture_clock).
double live_rows_shown_at();

// A frame reaches the screen about as long after its rows are taken as the last frames took to
// draw and swap: the estimate after one more such time, smoothed and bounded.
double live_rows_next_lead(double lead, double frame_seconds);
