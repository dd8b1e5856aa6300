// The frame loop both players run for each cycle: Init, the frames, Quit. What differs between
// the players comes in as plain records of functions: how the frames are paced and how far into
// the stream a real-time frame lies (FramePacing, each player's own), where each frame's rows come
// from (RowSource) and what becomes of a frame that is kept (FrameOutlet: its capture and video).
#pragma once

#include <cstdint>
#include <string>

#include "player/frame_files.h"
#include "player/run_options.h"
#include "player/run_steps.h"
#include "shell/vis_module.h"

// The loop's timing, which the pacing may change.
struct FrameTiming {
    double started = 0;  // seconds_now() when frame 0 began; a pacing that waits may move it
    bool wall = false;   // each frame takes its clock step of real time, and no module delay
};

struct FramePacing {
    // After Init and the wait for the start, just before frame 0 (frames_follow: unless the run
    // ends there): decides the pacing where it is known beforehand.
    void (*start)(const RunOptions &options, bool frames_follow, FrameTiming *timing);
    // After a frame's Render, before its end is logged: the wait its pacing asks for. True when
    // the plug-in's quit message came meanwhile.
    bool (*after_render)(const RunOptions &options, int frame, FrameTiming *timing);
    // In real time: the seconds into the stream that the frame shows (the sound heard, or the clock
    // since timing.started); false when the sound has ended.
    bool (*stream_seconds)(const FrameTiming &timing, double *seconds);
    // Optional steps of the player's own around them (null: none): before Init; after a
    // successful Init; after Quit, once the queue has run.
    void (*before_init)();
    void (*after_init)(const RunOptions &options);
    void (*after_quit)();
    // Optional: just before each Render (the host takes back the crash filter a plug-in set).
    void (*before_render)();
    // Optional: after a frame, the reason nothing more can be shown (its error already logged),
    // else null: the native window's GL context lost.
    const char *(*cannot_go_on)();
};

// Where each frame's spectrum and waveform rows come from.
struct RowSource {
    // Hands the module the rows of row, with the clock and the track's time of that row.
    void (*feed)(const RunOptions &options, VisModule *module, long long row);
    // Rows a second, as a fraction, and how many there are: a real-time frame takes the row of the
    // time played, and the run ends past the last.
    uint32_t rate_numerator = 0, rate_denominator = 1;
    long long count = 0;
    // Optional: after feed, why there are no rows for that frame (the run ends), or null; *failed
    // when that is a fault of the source, not its end.
    const char *(*stopped)(bool *failed) = nullptr;
    // Optional: a live source's row that the frame just fed shows (-1: none, or not live).
    long long (*newest)() = nullptr;
};
// The rows of the options' spectrum (spectrum_fill.h): the loaded stream, or a synthetic kind.
RowSource rows_of_spectrum();

// What becomes of a kept frame, read back from where the plug-in drew it.
struct FrameOutlet {
    // Writes the frame into folder/frame_NNNNN.png; nothing read: not captured, no source.
    CaptureResult (*capture)(const char *folder, int frame_index);
    // After Init: the video's header, so that the encoder starts while the first frame is drawn.
    bool (*video_begin)();
    // Appends the frame to the raw video; false with the reason in *error.
    bool (*video_frame)(std::string *error);
    // Optional: after the last frame, before Quit, while the GL is still there: writes the frames
    // still being read back; false with the reason in *error.
    bool (*video_end)(std::string *error) = nullptr;
};

// Init, the frames and Quit of one cycle; returns the reason the run ended ("frames",
// "quit_message", "init_failed", "stream_end", "stream_failed", "render_ended", "video_failed",
// "capture_failed", "interrupted", "no_start", or cannot_go_on's).
const char *run_module(const RunOptions &options, VisModule *module, int cycle, const FramePacing &pacing,
                       const RowSource &rows, const FrameOutlet &outlet, RunTotals *totals);
