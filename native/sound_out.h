// The sound of live play: an audio file decoded as it plays (libsndfile) and played through SDL2
// (PulseAudio, PipeWire or ALSA), with the position of the sample being heard, so that the frame
// shown takes the spectrum of the sound heard at that moment.
#pragma once

#include <string>

// Opens the file at start_seconds and the sound output, silent until sound_start. False with a
// reason when the file cannot be read or there is no output to play on.
bool sound_open(const char *path, double start_seconds, std::string *error);
// What the output's latency leaves out (a Bluetooth headset's own buffer, which no API reports),
// added to what the sound server reports; any time.
void sound_extra_latency(double seconds);
// The latency the clock takes off now: the server's last answer (0 before one), and the extra.
void sound_latency_seconds(double *reported, double *extra);
void sound_start();
// Seconds of the sound heard since sound_start: what the device has played, less the output's
// latency (the server's buffer and its sink's, asked now and then, and the extra above). Never
// goes back; a device that stops asking for sound leaves the clock to the wall clock.
double sound_heard_seconds();
// Whether the file has been played to its end, and heard.
bool sound_finished();
void sound_close();
