// The sound of live play: an audio file decoded as it plays (libsndfile) and played through SDL2
// (PulseAudio, PipeWire or ALSA), with the position of the sample being heard, so that the frame
// shown takes the spectrum of the sound heard at that moment.
#pragma once

#include <string>

// Opens the file at start_seconds and the sound output, silent until sound_start. False with a
// reason when the file cannot be read or there is no output to play on.
bool sound_open(const char *path, double start_seconds, std::string *error);
void sound_start();
// Seconds of the sound heard since sound_start: what the device has played, not what was handed
// to it (the device's buffer is still ahead of the ear).
double sound_heard_seconds();
// Whether the file has been played to its end.
bool sound_finished();
void sound_close();
