// What the plug-in just drew, read back through its GL context (current on the player's thread)
// at the viewport's size: as PNG captures and as the raw video stream for an encoder
// (player/frame_files.h), as the Windows host writes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "player/frame_files.h"

// The frame, top row first, BGRA or RGBA; false when no context is current or the viewport is odd.
bool frame_read_back(bool bgra, std::vector<uint8_t> *pixels, int *width, int *height);

// Reads the frame into folder/frame_NNNNN.png; the capture's source is "gl".
CaptureResult frame_capture(const char *folder, int frame_index);

// The raw video stream to path, a file or a FIFO; "-" is stdout.
bool video_out_open(const char *path);
// After Init: the header from the viewport, so the encoder starts while the first frame is drawn.
bool video_out_begin();
// Reads the frame and appends it; false with the reason in *error when no frame could be read or
// the write failed (the reader went away).
bool video_out_frame(std::string *error);
void video_out_close();
