// The steps of a run that the Windows host and the native program take alike, and the event
// lines they write the same way, one JSON object per line (event_log.h). What each does its own
// way lies behind player_platform.h; each keeps its own frame loop, since they pace frames
// differently (the host decides from the plug-in's first frame and waits for plug-ins that draw on
// their own threads; the native program follows the sound it plays).
#pragma once

#include <string>

#include "host/event_log.h"
#include "host/frame_files.h"
#include "host/run_options.h"
#include "shell/vis_module.h"

struct RunTotals {
    int frames = 0;
    double loop_seconds = 0;  // from the first Render to the end of the last frame's work
    bool video_failed = false;
    bool init_failed = false;
};

// An "error" event, and the same text on stderr after the program's name.
void log_error(const char *program, const char *what, const char *text);

// Loads the stream of a --spectrum stream:FILE, which then sets the frames and channels that were
// not given. False, with an "error" event, the event log closed and a line on stderr, when it is bad.
bool spectrum_stream_prepare(RunOptions *options, const char *program);

// Asks the header for module 0 (twice), 1 and -1, as the player does, and writes the "loaded"
// event begun in line (with what the program knows of the library) with what they are. Returns
// module 0.
VisModule *log_loaded(VisHeader *header, JsonLine &line);

// Adds the deterministic clock's start and step to a "clock" event.
void json_clock(JsonLine &line, const VirtualClockSetting &clock);

// Where in the track a row of the stream lies, and the track's length, for the plug-in's
// questions; without a stream, 0 and 0.
void tell_player_time(const RunOptions &options, long long row);
// What the player holds for a frame: the rows of the stream (or the synthetic ones), the clock,
// and where in the track the frame lies.
void feed_frame(const RunOptions &options, VisModule *module, long long row);

// Init, logged as "init" (with what a failed one left behind). Returns its result.
int init_module(VisModule *module);
// Quit, logged as "quit" with what the process holds after it.
void quit_module(VisModule *module);

// After Init: logs "ready" and waits (up to 2 minutes) until the file at path exists, so that the
// first frame and the sound start together. False, with the reason ("quit_message", "no_start"),
// when the wait ended otherwise.
bool wait_for_start(const char *path, const char **reason);

void log_quit_message(long long exit_code, int after_frames);
// Escape or close posted to the render window (window: its handle, 0 for none) before a frame.
void log_poke(const char *what, int frame, intptr_t window, bool posted);
// How frames follow each other (wall or clock), and whether the plug-in draws with GL on the
// player's thread, which decides it in automatic pacing.
void log_pacing(bool wall, bool gl_on_player_thread);
void log_frame(const RunOptions &options, int frame, int result, long long row);
void log_capture(int frame, const CaptureResult &capture);
// After Quit, as a careless player might: options.render_after_quit more frames from frame on.
void render_after_quit(const RunOptions &options, VisModule *module, int frame);
void log_end(const char *reason, const RunTotals &totals, int dialogs, bool parent_minimized);
