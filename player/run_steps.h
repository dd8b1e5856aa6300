// The steps of a run that the Windows host and the native program take alike, and the event
// lines they write the same way, one JSON object per line (event_log.h). What each does its own
// way lies behind player_platform.h; the frame loop that takes these steps is frame_loop.h.
#pragma once

#include <string>

#include "player/event_log.h"
#include "player/run_options.h"
#include "shell/vis_module.h"

struct RunTotals {
    int frames = 0;
    double loop_seconds = 0;  // from the first Render to the end of the last frame's work
    bool video_failed = false;
    bool capture_failed = false;  // a frame was read but its picture could not be written
    bool init_failed = false;
    bool stream_failed = false;  // the spectrum stream broke off or failed before a frame's row
};

// After the command line's parser said no (error empty for --help): the usage on stdout and exit
// status 0, else the error and the usage on stderr and 2.
int refuse_command_line(const std::string &error, const char *usage);
// Opens the event log (null: stdout); false after a line on stderr.
bool run_log_open(const char *path);

// An "error" event, and the same text on stderr after the program's name (unless the program
// tells its errors its own way: log_errors_on_stderr(false)).
void log_error(const char *what, const char *text);
void log_errors_on_stderr(bool on);

// Opens the stream of a --spectrum stream:FILE, which then sets the frames and channels that were
// not given (a live stream: frames without end). False, with an "error" event, the event log
// closed and a line on stderr, when it is bad.
bool spectrum_stream_prepare(RunOptions *options);

// Asks the header for module 0 (twice), 1 and -1, as the player does, and writes the "loaded"
// event begun in line (with what the program knows of the library) with what they are. Returns
// module 0.
VisModule *log_loaded(VisHeader *header, JsonLine &line);

// Hands module 0 the player's window and the plug-in's instance as the player does, with the
// sound's format and the first frame's rows; the track's time is known before its first frame.
void module_setup(VisModule *module, const RunOptions &options, void *parent_window, void *library_instance);

// Adds the deterministic clock's start and step to a "clock" event.
void json_clock(JsonLine &line, const VirtualClockSetting &clock);

// What the player holds for a frame: the rows of the stream (or the synthetic ones), the clock,
// and where in the track the frame lies (player_set_time; without a stream, 0 and 0).
void feed_frame(const RunOptions &options, VisModule *module, long long row);

// The start of a cycle of Init, frames and Quit, logged when a run has more than one.
void log_cycle(const RunOptions &options, int cycle);
// The clock at its start, Init, logged as "init" (with what a failed one left behind), and the
// queue run once (*quit_seen: the plug-in's quit message came). False when Init failed: then the
// player calls no Render, nor Quit unless asked to (--quit-after-failed-init).
bool start_module(const RunOptions &options, VisModule *module, bool *quit_seen, RunTotals *totals);
// Quit, logged as "quit" with what the process holds after it.
void quit_module(VisModule *module);

// After Init: logs "ready" and waits (up to 2 minutes) until the file at path exists, so that the
// first frame and the sound start together. False, with the reason ("quit_message", "no_start",
// "interrupted": a stop request), when the wait ended otherwise.
bool wait_for_start(const char *path, const char **reason);

// The plug-in's quit message, as pump_messages found it.
// cause: what the player saw the user do ("escape", "close"), or null where it cannot tell.
void log_quit_message(long long exit_code, int after_frames, const char *cause = nullptr);
// Before a frame: Escape (--escape-at) or WM_CLOSE (--close-at) posted to the render window, as a
// user would, each logged as "poke", and the queue run. True on the plug-in's quit message.
bool poke_before_frame(const RunOptions &options, int frame);
// How frames follow each other (wall or clock), and whether the plug-in draws with GL on the
// player's thread, which decides it in automatic pacing.
void log_pacing(bool wall, bool gl_on_player_thread);
void log_end(const char *reason, const RunTotals &totals, int dialogs, bool parent_minimized);
