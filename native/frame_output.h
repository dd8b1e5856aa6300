// What the plug-in just drew, read back through its GL context (current on the player's thread)
// at the viewport's size: as PNG captures and as the raw video stream for an encoder
// (host/frame_files.h), as the Windows host writes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "player/player_platform.h"

// The frame, top row first, BGRA or RGBA; false when no context is current or the viewport is odd.
bool frame_read_back(bool bgra, std::vector<uint8_t> *pixels, int *width, int *height);

// frame_capture and video_out_frame (host/player_platform.h) read the frame the same way; a
// capture's source is "gl".

// The raw video stream to path, a file or a FIFO; "-" is stdout.
bool video_out_open(const char *path);
// After Init: the header from the viewport, so the encoder starts while the first frame is drawn.
bool video_out_begin();
void video_out_close();
