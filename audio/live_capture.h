// Live capture of what the computer plays, in step with what is heard.
//
// By default it takes the monitor of the server's default output (what the desktop is playing)
// and follows the default when the user switches outputs; a named source (another output's
// monitor, a microphone) is taken instead when asked. A thread of its own keeps the last seconds
// of the source's first two channels (the server's stereo mix of it) together with the moment
// each sample is heard, and the caller asks for the rows of any moment: "now" for a live frame.
// When the server goes away it says so once, keeps trying, and says so again when it is back;
// meanwhile, like silence, the rows are zeros.
//
// Why libpulse: it reaches PulseAudio and PipeWire (through pipewire-pulse) alike, lists monitors
// as what they are (sources with monitor_of_sink set), names the default output, announces a
// change of default, and reports the stream's latency. SDL's capture lists monitors only with
// SDL_HINT_AUDIO_INCLUDE_MONITORS and only on its PulseAudio backend (its PipeWire backend lists
// none), tells neither which monitor belongs to the default output nor any latency. libpipewire
// would miss every desktop that runs PulseAudio itself.
//
// When a sample is heard. A record stream reports its latency as the time from the sample
// captured at the source to the one the client has read. On a monitor the sink hands the monitor
// each sample when it mixes it, a sink latency before the sample is played, so the reported
// latency is negative: what we read is heard later, by the sink's latency less our own buffering.
// The sample after the last one read is thus heard at now - latency (later than now when
// negative). PulseAudio reports exactly that (about -10 ms against a null sink running at the
// 10 ms we ask for); PipeWire's PulseAudio server leaves the sink's latency out and reports the
// monitor as a source of its own (0 to +5 ms), so there the picture leads a real device by its
// output latency. Two traps, both handled here: the first report of a stream predates its data
// (a report counts only once the server has pushed data past what was read at the stream's
// start or resume), and libpulse's smoothing holds its clock still for up to a second to stay
// monotonic (we let it go back, and ask for a fresh report every 100 ms).
//
// Threads: the capture thread writes the ring, the status and the notices; the caller reads them;
// one mutex guards all three. live_capture_rows runs the transform on the caller's thread, one
// caller at a time.
#pragma once

#include <cstdint>
#include <string>

#include "audio/spectrum_stream.h"

constexpr int kLiveCaptureRate = 44100;  // asked of the server, which converts to it

struct LiveCaptureOptions {
    const char *source = nullptr;  // a source's name; null: the default output's monitor, followed
    double ring_seconds = 2;       // how far back the rows can be asked for
    const char *app_name = "Halcyonsphere";
};

struct LiveCaptureStatus {
    bool connected = false;
    std::string server;              // name and version
    std::string source;              // the source captured now; empty when none
    std::string source_description;
    bool following_default = false;  // source is the default output's monitor, followed
    bool timed = false;              // the server has timed what is captured: rows can show it
    double latency_seconds = 0;      // the last latency report (negative: read before heard)
    int64_t frames = 0;              // captured since the start
    int server_losses = 0;           // times the server went away
};

struct LiveCapture;

// Connects and starts capturing. Null with one line in *error when there is no server (naming
// what was tried) or no source of that name.
LiveCapture *live_capture_open(const LiveCaptureOptions &options, std::string *error);
void live_capture_close(LiveCapture *capture);

// Seconds on the clock heard times are given in.
double live_capture_clock();

// The rows of the sound heard at heard_at: the spectrum stream's record layout; zeros for
// silence and for moments nothing was captured.
void live_capture_rows(LiveCapture *capture, double heard_at, uint8_t record[kStreamRecordSize]);

// The samples heard from heard_from on, count frames interleaved left and right (zeros where
// nothing was captured); returns how many of them have been captured so far.
int64_t live_capture_heard(LiveCapture *capture, double heard_from, int64_t count, float *interleaved);

// The next thing to tell the user, oldest first ("the sound server went away; reconnecting").
bool live_capture_notice(LiveCapture *capture, std::string *line);

LiveCaptureStatus live_capture_status(LiveCapture *capture);
