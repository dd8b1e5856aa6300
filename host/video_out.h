// Raw frames for an encoder, written to a file or a pipe as the frames are drawn, so that no
// frame goes through an image file. Layout: a 16-byte header ("HRAW", width and height as 32-bit
// little-endian numbers, "BGRA"), then width x height x 4 bytes per frame, top row first. The
// first frame fixes the size; a later frame of another size is cut or padded with black to it.
#pragma once

#include <string>

bool video_out_open(const char *path);
// After Init: fixes the size from the viewport of the plug-in's context, when it has one, and
// writes the header, so that the encoder starts while the first frame is drawn.
bool video_out_begin();
// Reads the frame just drawn and writes it; false with a reason in *error when there was nothing
// to read or the write failed (the reader went away).
bool video_out_frame(std::string *error);
void video_out_close();
// The size fixed by the first frame (0 before it).
int video_out_width();
int video_out_height();
