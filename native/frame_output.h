// What the plug-in just drew, read back through its GL context (current on the player's thread)
// at the viewport's size: as PNG captures and as raw frames for an encoder, in the layouts the
// Windows host writes (host/frame_capture.h, host/video_out.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The frame, top row first, BGRA or RGBA; false when no context is current or the viewport is odd.
bool frame_read_back(bool bgra, std::vector<uint8_t> *pixels, int *width, int *height);

struct FrameCapture {
    bool captured = false;
    int width = 0, height = 0;
    double mean_red = 0, mean_green = 0, mean_blue = 0;  // 0..255
    std::string path;
};
// Reads the frame into FOLDER/frame_NNNNN.png (alpha made opaque, as the window shows it).
FrameCapture frame_capture(const char *folder, int frame_index);

// Raw frames: a 16-byte header ("HRAW", width and height as 32-bit little-endian numbers, "BGRA"),
// then width x height x 4 bytes a frame. The first frame fixes the size; a later frame of another
// size is cut or padded with black to it. path "-" is stdout.
bool frame_video_open(const char *path);
// After Init: the header from the viewport, so the encoder starts while the first frame is drawn.
bool frame_video_begin();
// False with a reason when there was nothing to read or the reader went away.
bool frame_video_write(std::string *error);
void frame_video_close();
