// The raw video stream (frame_files.h) of the frames the host reads back, to a file or a pipe.
#pragma once

#include "player/player_platform.h"

bool video_out_open(const char *path);
// After Init: fixes the size from the viewport of the plug-in's context, when it has one, and
// writes the header, so that the encoder starts while the first frame is drawn.
bool video_out_begin();
// video_out_frame (player_platform.h) writes each frame.
void video_out_close();
