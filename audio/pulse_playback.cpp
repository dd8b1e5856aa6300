#include "audio/pulse_playback.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "audio/live_capture.h"
#include "audio/pulse_client.h"

namespace {

struct Piece {
    size_t first = 0;  // in the queue's frames
    size_t count = 0;
    bool written = false;
    double written_at = 0;
    double heard_at = 0;
};

}  // namespace

// Guarded by the threaded loop's lock: its thread writes what the server asks for, the caller
// queues and asks.
struct PulsePlayback {
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    pa_stream *stream = nullptr;
    std::vector<float> queued;  // every frame queued, interleaved
    size_t handed = 0;          // frames of the queue written
    std::vector<Piece> pieces;
    double last_heard_at = 0;   // when the last frame written is heard
};

namespace {

void on_context_state(pa_context *, void *userdata) {
    pa_threaded_mainloop_signal(static_cast<PulsePlayback *>(userdata)->loop, 0);
}

void on_stream_state(pa_stream *, void *userdata) {
    pa_threaded_mainloop_signal(static_cast<PulsePlayback *>(userdata)->loop, 0);
}

// Only as much as the server asks for (more overflows its buffer and is lost), from the queue,
// silence when it is empty: the stream never runs dry and stops.
void on_write(pa_stream *stream, size_t bytes, void *userdata) {
    PulsePlayback *playback = static_cast<PulsePlayback *>(userdata);
    const size_t frames = bytes / (2 * sizeof(float));
    if (frames == 0) return;
    pa_usec_t usec = 0;
    int negative = 0;
    const double now = pulse_clock_now();
    double latency = 0;  // until what is written now is heard
    if (pa_stream_get_latency(stream, &usec, &negative) == 0 && !negative) latency = double(usec) / 1e6;
    std::vector<float> block(frames * 2, 0.0f);
    const size_t from_queue = std::min(frames, playback->queued.size() / 2 - playback->handed);
    if (from_queue > 0)
        std::memcpy(block.data(), &playback->queued[playback->handed * 2], from_queue * 2 * sizeof(float));
    // The frame at playback->handed is heard at now + latency. A stream's first report can
    // predate its start by tens of milliseconds; later ones correct it, so a piece takes each
    // report until it has been written whole (no silence can come between its frames till then).
    for (Piece &piece : playback->pieces) {
        const double heard = now + latency + (double(piece.first) - double(playback->handed)) / kLiveCaptureRate;
        if (!piece.written && piece.first < playback->handed + from_queue) {
            piece.written = true;
            piece.written_at = now;
            piece.heard_at = heard;
        } else if (piece.written && playback->handed < piece.first + piece.count) {
            piece.heard_at = heard;
        }
    }
    if (from_queue > 0) playback->last_heard_at = now + latency + double(from_queue) / kLiveCaptureRate;
    playback->handed += from_queue;
    pa_stream_write(stream, block.data(), frames * 2 * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
}

bool wait_ready(PulsePlayback *playback) {
    for (;;) {
        const pa_context_state_t context = pa_context_get_state(playback->context);
        if (context == PA_CONTEXT_FAILED || context == PA_CONTEXT_TERMINATED) return false;
        if (playback->stream) {
            const pa_stream_state_t stream = pa_stream_get_state(playback->stream);
            if (stream == PA_STREAM_READY) return true;
            if (stream == PA_STREAM_FAILED || stream == PA_STREAM_TERMINATED) return false;
        } else if (context == PA_CONTEXT_READY) {
            return true;
        }
        pa_threaded_mainloop_wait(playback->loop);
    }
}

}  // namespace

PulsePlayback *pulse_playback_open(const char *sink, double buffer_seconds, std::string *error) {
    PulsePlayback *playback = new PulsePlayback;
    playback->loop = pa_threaded_mainloop_new();
    playback->context = pa_context_new(pa_threaded_mainloop_get_api(playback->loop), "Halcyonsphere test sound");
    pa_context_set_state_callback(playback->context, on_context_state, playback);
    pa_threaded_mainloop_lock(playback->loop);
    bool ok = pa_threaded_mainloop_start(playback->loop) == 0 &&
              pa_context_connect(playback->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0 &&
              wait_ready(playback);
    if (!ok) {
        *error = "no sound server: tried " + pulse_server_tried() + ": " +
                 pa_strerror(pa_context_errno(playback->context));
    } else {
        const pa_sample_spec format = {PA_SAMPLE_FLOAT32NE, uint32_t(kLiveCaptureRate), 2};
        playback->stream = pa_stream_new(playback->context, "test sound", &format, nullptr);
        pa_stream_set_state_callback(playback->stream, on_stream_state, playback);
        pa_stream_set_write_callback(playback->stream, on_write, playback);
        pa_buffer_attr attributes;
        std::memset(&attributes, 0xff, sizeof attributes);
        attributes.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(buffer_seconds * 1e6), &format));
        // prebuf stays the server's (a full buffer): with 0, a writer that falls behind writes
        // below the read index, and the server drops what it writes there.
        const pa_stream_flags_t flags = pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                          PA_STREAM_ADJUST_LATENCY | PA_STREAM_NOT_MONOTONIC);
        ok = pa_stream_connect_playback(playback->stream, sink, &attributes, flags, nullptr, nullptr) == 0 &&
             wait_ready(playback);
        if (!ok) *error = std::string("cannot play into ") + (sink ? sink : "the default output") + ": " +
                          pa_strerror(pa_context_errno(playback->context));
    }
    pa_threaded_mainloop_unlock(playback->loop);
    if (!ok) {
        pulse_playback_close(playback);
        return nullptr;
    }
    return playback;
}

void pulse_playback_close(PulsePlayback *playback) {
    if (!playback) return;
    pa_threaded_mainloop_stop(playback->loop);
    if (playback->stream) {
        pa_stream_disconnect(playback->stream);
        pa_stream_unref(playback->stream);
    }
    pa_context_disconnect(playback->context);
    pa_context_unref(playback->context);
    pa_threaded_mainloop_free(playback->loop);
    delete playback;
}

int pulse_playback_queue(PulsePlayback *playback, const float *frames, size_t count) {
    pa_threaded_mainloop_lock(playback->loop);
    Piece piece;
    piece.first = playback->queued.size() / 2;
    piece.count = count;
    playback->queued.insert(playback->queued.end(), frames, frames + count * 2);
    playback->pieces.push_back(piece);
    const int number = int(playback->pieces.size()) - 1;
    pa_threaded_mainloop_unlock(playback->loop);
    return number;
}

bool pulse_playback_piece_times(PulsePlayback *playback, int piece, double *written_at, double *heard_at) {
    pa_threaded_mainloop_lock(playback->loop);
    const bool known = piece >= 0 && size_t(piece) < playback->pieces.size() && playback->pieces[size_t(piece)].written;
    if (known) {
        *written_at = playback->pieces[size_t(piece)].written_at;
        *heard_at = playback->pieces[size_t(piece)].heard_at;
    }
    pa_threaded_mainloop_unlock(playback->loop);
    return known;
}

bool pulse_playback_done(PulsePlayback *playback) {
    pa_threaded_mainloop_lock(playback->loop);
    const bool done = playback->handed * 2 == playback->queued.size() && pulse_clock_now() >= playback->last_heard_at;
    pa_threaded_mainloop_unlock(playback->loop);
    return done;
}
