// Reads back what the plug-in just drew, through its GL context (current on this thread).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class PixelOrder { rgba, bgra };

// The drawn frame, top row first, at the viewport's size; false when there is no context or the
// viewport is empty. Alpha is as read: the caller decides whether it counts.
bool frame_read_back(PixelOrder order, std::vector<uint8_t> *pixels, int *width, int *height);

struct CaptureResult {
    bool captured;
    int width, height;
    double mean_red, mean_green, mean_blue;  // 0..255, for quick checks in the log
    std::string path;
};

// Reads the back buffer of the current context into DIR/frame_NNNNN.png.
CaptureResult frame_capture(const char *folder, int frame_index);
