// How long the sound play hands over takes to be heard, for play's picture to keep step with it.
//
// SDL reports no latency. The sound server does: whatever SDL plays through (its PulseAudio
// backend, its PipeWire backend under pipewire-pulse, ALSA through the pulse plug-in) shows up on
// the server as a playback stream of this process, whose buffer on the server and whose sink's
// latency add up to the wait of a sample handed over. What no API reports (a Bluetooth headset's
// own buffer) the user adds with --sound-latency MS.
//
// For play: the sample its clock calls heard at time t (native/sound_out.cpp's
// sound_heard_seconds) is heard output_delay_seconds() later, so the frame at t takes the
// spectrum of sound_heard_seconds() - delay. Ask again now and then: the server's buffer grows
// when the machine is loaded.
#pragma once

#include <string>
#include <sys/types.h>

struct OutputLatency {
    double seconds = 0;  // the mean, over the queries, of the stream's server buffer plus its sink's latency
    int streams = 0;     // this process's playback streams found (the first one counts)
    std::string sink;    // where it plays
};

// Queries the server `queries` times, 20 ms apart, for the playback streams of process pid (or,
// where a stream tells no process, of that application name: SDL's PipeWire backend, given
// SDL_HINT_AUDIO_DEVICE_APP_NAME). False with one line when there is no server or no such stream
// (play then has no output, or plays through something that is no server's).
// Found, not always telling: PipeWire's PulseAudio server reports 0 for streams on a null sink.
bool output_latency_query(pid_t pid, const char *app_name, int queries, OutputLatency *latency, std::string *error);

// What play shifts its picture by: the reported latency plus the user's own, in seconds.
double output_delay_seconds(const OutputLatency &latency, double user_latency_ms);

// --sound-latency MS: a number of milliseconds from 0 to 10000. False with a line otherwise.
bool parse_sound_latency_ms(const char *text, double *ms, std::string *error);
