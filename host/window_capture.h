// Reads back what a window shows through GDI: for plug-ins that draw with GDI or DirectDraw, or
// from a thread of their own, and for dialogs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

enum class PixelOrder { rgba, bgra };

// The window's client area, top row first, alpha 255; false when it is gone, empty or larger than
// 16384 on a side.
bool window_read_back(HWND window, PixelOrder order, std::vector<uint8_t> *pixels, int *width, int *height);

// The window a plug-in that does not draw with GL on the host's thread shows its frames in: the
// render window it registered, else the embedded window it asked for, else the largest visible
// top-level window of this process besides the player's (parent) window and dialogs; null if none.
HWND window_of_plugin();
