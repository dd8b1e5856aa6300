// What the two players do each their own way, for the steps of a run they share (run_steps.h;
// the frame loop's own seams are in frame_loop.h):
// the Windows host through Win32 (host/host_main.cpp, message_pump.cpp, player_files.cpp,
// parent_window.cpp, process_figures.cpp, frame_capture.cpp, video_out.cpp), the native program
// over the Linux platform seam (native/native_main.cpp, native/player_platform_linux.cpp,
// native/player_window.cpp, native/frame_output.cpp).
#pragma once

#include <cstdint>

#include "player/event_log.h"

extern const char kProgramName[];  // before each line on stderr

double seconds_now();  // a monotonic clock, in seconds
void sleep_seconds(double seconds);  // none for 0 or less

// Runs the player's message queue; true when the plug-in's quit message came out of it (logged
// with log_quit_message).
bool pump_messages(int after_frames);

bool file_exists(const char *path);

// After Quit (or a failed Init): whether the window the plug-in registered last (WM_USER/611)
// still exists, and whether its class is still registered.
bool registered_window_alive();
bool registered_class_alive();

// Adds what the process holds (its memory, its windows, ...) to a line, so that many starts can
// be seen to leak nothing.
void json_process_figures(JsonLine &line);

// Posts a message to the plug-in's render window (the one it registered; the host also finds the
// window it draws in otherwise). Returns that window, 0 for none, and whether the post went.
intptr_t post_to_render_window(uint32_t message, uintptr_t wparam, intptr_t lparam, bool *posted);
