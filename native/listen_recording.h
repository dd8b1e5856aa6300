// `listen --record FILE`: what the window showed, at the pace it was drawn, with the sound that
// was heard, as a video. Each frame is the copy the swap kept, stamped with the moment it reached
// the screen; the sound is the captured samples stamped with the moments they were heard, so the
// two stay in step as they were on the desktop. Both go to ffmpeg in one timestamped stream
// (native/matroska_stream.h), which it encodes keeping each frame's own time (variable frame
// rate): no frame is repeated or dropped to fit a fixed rate.
//
// The file gets render's promises (native/render_output.h): checked before anything runs, written
// unnamed and linked into place only when whole, an old file of that name left as it was by any
// failure or stop, and no ffmpeg left behind by any way out.
#pragma once

#include <string>
#include <vector>

struct LiveCapture;

// Checks the name before anything runs; false with one line (*usage: the name itself is wrong).
bool recording_check(const std::string &path, const std::vector<std::string> &inputs, std::string *error,
                     bool *usage);
// Makes the unnamed file beside the name; from here every way out removes it.
bool recording_open(LiveCapture *capture, std::string *error);

// The frame loop's outlet (frame_loop.h): the encoder starts with the first frame, whose size
// the video keeps (a resized window's frames are scaled to it: a video has one size).
bool recording_begin();
bool recording_frame(std::string *error);

// After the user quit: the rest of the sound, ffmpeg's end, the file in place; false with one line.
bool recording_finish(std::string *error);
// After a failure or a stop: ffmpeg stopped, nothing left.
void recording_discard();
// What was written, in a sentence.
std::string recording_summary();
