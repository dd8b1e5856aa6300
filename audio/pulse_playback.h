// A playback stream of known sound into the sound server, for the probe's latency run and the
// live capture's tests: pieces of sound queued one after another and written as the server asks
// for them, silence when none is queued (so the stream never stops and a piece plays a buffer
// after its write), and for each piece when it was written and when the server said it would be
// heard.
#pragma once

#include <cstddef>
#include <string>

struct PulsePlayback;

// sink: a sink's name, or null for the default output. buffer_seconds: how much the stream keeps
// ahead on the server. Null with one line when there is no server.
PulsePlayback *pulse_playback_open(const char *sink, double buffer_seconds, std::string *error);
void pulse_playback_close(PulsePlayback *playback);

// Queues frames (interleaved stereo float at kLiveCaptureRate) after what is queued. Returns the
// piece's number, 0 for the first.
int pulse_playback_queue(PulsePlayback *playback, const float *frames, size_t count);

// On pulse_clock_now()'s clock. False until the piece's first frame has been written; the heard
// time is the server's latest word until the piece has been written whole.
bool pulse_playback_piece_times(PulsePlayback *playback, int piece, double *written_at, double *heard_at);

// Whether everything queued has been written and heard.
bool pulse_playback_done(PulsePlayback *playback);
