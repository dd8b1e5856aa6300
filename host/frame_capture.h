// Reads back what the plug-in just drew: through its GL context when one is current on the host's
// thread, else its last GL frame swapped on a thread of its own (swap_capture.h), else through
// GDI from the plug-in's window (see window_of_plugin).
#pragma once

#include <cstdint>
#include <vector>

#include "host/window_capture.h"
#include "player/frame_files.h"

// Whether the plug-in draws with GL on this thread: a context of its own is current here.
bool frame_has_gl_context();

// The drawn frame, top row first: at the viewport's size from GL, or at the window's client
// size; false when there is nothing to read. *source is "gl", "gl_thread" or "window". Alpha is as read from
// GL: the caller decides whether it counts.
bool frame_read_back(PixelOrder order, std::vector<uint8_t> *pixels, int *width, int *height, const char **source);

// Whether the plug-in's picture is there to read: a GL frame (its context on this thread, or a
// swap on a thread of its own once it has made a context current there), else its window. A plug-in
// that can draw with GL may still be starting it on its own thread, its window black until the
// first swap: its window counts once it shows something, or after gl_start_seconds of waiting.
bool frame_picture_ready(double waited_seconds, double gl_start_seconds);

// Reads the frame with frame_read_back into folder\frame_NNNNN.png (frame_files.h), its source too.
CaptureResult frame_capture(const char *folder, int frame_index);
