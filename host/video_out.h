// The raw video stream (frame_files.h) of the frames the host reads back, to a file or a pipe.
#pragma once

#include <string>

bool video_out_open(const char *path);
// After Init: fixes the size from the viewport of the plug-in's context, when it has one, and
// writes the header, so that the encoder starts while the first frame is drawn.
bool video_out_begin();
// Reads the frame just drawn and appends it; false with the reason in *error when there was nothing
// to read or the write failed (the reader went away).
bool video_out_frame(std::string *error);
void video_out_close();
