// Frames a plug-in draws with GL on a thread of its own. Neither the host's thread (no context
// there) nor GDI (Wine keeps GL pictures out of the window's pixels) can read them, so the
// plug-in's buffer swaps go through the host, which reads the back buffer on the swapping thread
// just before the swap.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "host/window_capture.h"

// Routes the DLL's imports of SwapBuffers and wglSwapBuffers through the host; returns how many
// import slots it rewrote. Swaps on the host's own thread (the caller's) pass straight through.
// Its wglMakeCurrent goes through the host too, to tell when it starts GL on a thread of its own.
int swap_capture_install(HMODULE library);
// Forgets the kept frame and the thread's context (a new start of the plug-in).
void swap_capture_reset();
// Whether a swap on another thread has left a frame.
bool swap_capture_ready();
// Whether the plug-in can draw with GL: it imports a swap function or wglMakeCurrent.
bool swap_capture_gl_imported();
// Whether, since the last reset, it has made a GL context current on a thread other than the host's.
bool swap_capture_gl_elsewhere();
// The frame of the last swap on another thread, top row first, alpha 255; false when none came.
bool swap_capture_latest(PixelOrder order, std::vector<uint8_t> *pixels, int *width, int *height);
