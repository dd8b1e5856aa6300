// Reads back what the plug-in just drew, through its GL context (current on this thread).
#pragma once

#include <string>

struct CaptureResult {
    bool captured;
    int width, height;
    double mean_red, mean_green, mean_blue;  // 0..255, for quick checks in the log
    std::string path;
};

// Reads the back buffer of the current context into DIR/frame_NNNNN.png.
CaptureResult frame_capture(const char *folder, int frame_index);
