#include "audio/live_capture.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/capture_ring.h"
#include "audio/capture_rows.h"
#include "audio/pulse_client.h"

namespace {

constexpr double kFragmentSeconds = 0.010;  // how often the server hands us what it captured
constexpr double kTimingInterval = 0.100;   // how often we ask for a fresh latency report
constexpr double kRetrySeconds = 0.5;       // between tries to reach a server or a source

}  // namespace

struct LiveCapture {
    // Set by open, read-only afterwards.
    std::string wanted_source;  // empty: follow the default output
    std::string app_name;

    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    // Guarded by mutex. The capture thread writes these; the caller reads them, and sets stop.
    bool stop = false;
    bool started = false;  // the first connection's outcome is known
    std::string start_error;
    CaptureRing ring;
    std::deque<std::string> notices;
    LiveCaptureStatus status;
    pa_mainloop *loop = nullptr;  // the thread's, while it runs, for close to wake it

    // The capture thread's alone.
    PulseClient client;
    pa_stream *stream = nullptr;
    std::string stream_source;  // what stream records
    bool resolve = true;        // the source to capture may have changed
    double retry_at = 0;
    double timing_at = 0;
    int64_t stream_bytes = 0;   // read from this stream
    int64_t fresh_after = 0;    // a latency report counts once the server has pushed past this
    bool timing_fresh = false;
    bool said_source_gone = false;

    // The caller's alone.
    CaptureRows rows;
    std::vector<float> window[2];
};

namespace {

void tell(LiveCapture *capture, const std::string &line) {
    std::lock_guard<std::mutex> lock(capture->mutex);
    capture->notices.push_back(line);
}

bool stopping(LiveCapture *capture) {
    std::lock_guard<std::mutex> lock(capture->mutex);
    return capture->stop;
}

// The latest reports stand for a stream again only after new data has come through the server.
void await_fresh_timing(LiveCapture *capture) {
    capture->fresh_after = capture->stream_bytes;
    capture->timing_fresh = false;
    if (capture->stream && pa_stream_get_state(capture->stream) == PA_STREAM_READY)
        if (pa_operation *operation = pa_stream_update_timing_info(capture->stream, nullptr, nullptr))
            pa_operation_unref(operation);
}

void on_read(pa_stream *stream, size_t, void *userdata) {
    LiveCapture *capture = static_cast<LiveCapture *>(userdata);
    const void *data = nullptr;
    size_t bytes = 0;
    int64_t frames = 0;
    std::lock_guard<std::mutex> lock(capture->mutex);
    while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        const int64_t chunk = int64_t(bytes / (2 * sizeof(float)));
        // A hole (no data, a length) is silence the server could not capture.
        capture_ring_append(&capture->ring, static_cast<const float *>(data), chunk);
        frames += chunk;
        capture->stream_bytes += int64_t(bytes);
        pa_stream_drop(stream);
    }
    capture->status.frames += frames;
    if (!capture->timing_fresh) return;
    pa_usec_t usec = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream, &usec, &negative) != 0) return;
    const double latency = (negative ? -1.0 : 1.0) * double(usec) / 1e6;
    // The frame after the last one read is heard a latency from now (later when it is negative).
    capture_ring_set_heard(&capture->ring, pulse_clock_now() - latency);
    capture->status.latency_seconds = latency;
}

void on_latency_update(pa_stream *stream, void *userdata) {
    LiveCapture *capture = static_cast<LiveCapture *>(userdata);
    const pa_timing_info *info = pa_stream_get_timing_info(stream);
    if (info && !info->write_index_corrupt && info->write_index > capture->fresh_after) capture->timing_fresh = true;
}

// A sink or source that suspends stops the stream's clock; a record buffer that overflowed lost
// frames we count: either way the frames from here on wait for a report of their own.
void on_stream_interrupted(pa_stream *, void *userdata) {
    await_fresh_timing(static_cast<LiveCapture *>(userdata));
}

void on_event(pa_context *, pa_subscription_event_type_t, uint32_t, void *userdata) {
    static_cast<LiveCapture *>(userdata)->resolve = true;
}

void on_stream_state(pa_stream *stream, void *userdata) {
    LiveCapture *capture = static_cast<LiveCapture *>(userdata);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        capture->resolve = true;
        capture->retry_at = pulse_clock_now() + kRetrySeconds;
    }
}

void stop_stream(LiveCapture *capture) {
    if (!capture->stream) return;
    pa_stream_set_state_callback(capture->stream, nullptr, nullptr);
    pa_stream_set_read_callback(capture->stream, nullptr, nullptr);
    pa_stream_set_latency_update_callback(capture->stream, nullptr, nullptr);
    pa_stream_set_suspended_callback(capture->stream, nullptr, nullptr);
    pa_stream_set_overflow_callback(capture->stream, nullptr, nullptr);
    pa_stream_disconnect(capture->stream);
    pa_stream_unref(capture->stream);
    capture->stream = nullptr;
    capture->stream_source.clear();
}

bool start_stream(LiveCapture *capture, const std::string &source) {
    const pa_sample_spec format = {PA_SAMPLE_FLOAT32NE, uint32_t(kLiveCaptureRate), 2};
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    pa_stream *stream = pa_stream_new(capture->client.context, "visualization", &format, &map);
    if (!stream) return false;
    capture->stream = stream;
    capture->stream_source = source;
    capture->stream_bytes = 0;
    {
        std::lock_guard<std::mutex> lock(capture->mutex);
        capture_ring_begin_stream(&capture->ring);
        await_fresh_timing(capture);
    }
    pa_stream_set_state_callback(stream, on_stream_state, capture);
    pa_stream_set_read_callback(stream, on_read, capture);
    pa_stream_set_latency_update_callback(stream, on_latency_update, capture);
    pa_stream_set_suspended_callback(stream, on_stream_interrupted, capture);
    pa_stream_set_overflow_callback(stream, on_stream_interrupted, capture);
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xff, sizeof attributes);  // the server's choice for all but fragsize
    attributes.fragsize = uint32_t(pa_usec_to_bytes(pa_usec_t(kFragmentSeconds * 1e6), &format));
    // Small fragments keep the newest samples close behind what is heard; ADJUST_LATENCY asks the
    // sink to mix that far ahead only, as pa_simple's recorders do. DONT_MOVE: when the source
    // goes, the stream ends instead of moving to some microphone, and we choose again.
    const pa_stream_flags_t flags = pa_stream_flags_t(
        PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_NOT_MONOTONIC |
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream, source.c_str(), &attributes, flags) < 0) {
        stop_stream(capture);
        return false;
    }
    return true;
}

struct Lookup {
    std::string name;
    std::string text;  // a monitor's name, or a source's description
    bool found = false;
    std::string server;
};

void on_server_info(pa_context *, const pa_server_info *info, void *userdata) {
    Lookup *lookup = static_cast<Lookup *>(userdata);
    if (!info) return;
    lookup->found = true;
    lookup->name = info->default_sink_name ? info->default_sink_name : "";
    lookup->server = std::string(info->server_name ? info->server_name : "?") + " " +
                     (info->server_version ? info->server_version : "?");
}

void on_sink_info(pa_context *, const pa_sink_info *info, int end, void *userdata) {
    Lookup *lookup = static_cast<Lookup *>(userdata);
    if (end || !info || !info->monitor_source_name) return;
    lookup->found = true;
    lookup->text = info->monitor_source_name;
}

void on_source_info(pa_context *, const pa_source_info *info, int end, void *userdata) {
    Lookup *lookup = static_cast<Lookup *>(userdata);
    if (end || !info) return;
    lookup->found = true;
    lookup->text = info->description ? info->description : "";
}

// The source to capture now: the named one, or the default output's monitor. Empty when there is
// none (no such source, no default output).
std::string choose_source(LiveCapture *capture, std::string *description) {
    PulseClient *client = &capture->client;
    std::string source = capture->wanted_source;
    if (source.empty()) {
        Lookup server;
        if (!pulse_client_wait(client, pa_context_get_server_info(client->context, on_server_info, &server), 5) ||
            server.name.empty())
            return "";
        Lookup sink;
        if (!pulse_client_wait(client, pa_context_get_sink_info_by_name(client->context, server.name.c_str(), on_sink_info, &sink), 5) ||
            !sink.found)
            return "";
        source = sink.text;
    }
    Lookup found;
    if (!pulse_client_wait(client, pa_context_get_source_info_by_name(client->context, source.c_str(), on_source_info, &found), 5) ||
        !found.found)
        return "";
    *description = found.text;
    return source;
}

// Chooses the source again and, when it changed or its stream ended, records from it. Quiet for a
// connection's first choice: the connection's own line says what it captures.
void follow_source(LiveCapture *capture, bool quiet) {
    capture->resolve = false;
    std::string description;
    const std::string source = choose_source(capture, &description);
    const bool running = capture->stream && pa_stream_get_state(capture->stream) != PA_STREAM_FAILED &&
                         pa_stream_get_state(capture->stream) != PA_STREAM_TERMINATED;
    if (running && source == capture->stream_source) return;
    const std::string before = capture->stream_source;
    stop_stream(capture);
    if (source.empty() || !start_stream(capture, source)) {
        capture->retry_at = pulse_clock_now() + kRetrySeconds;
        capture->resolve = true;  // try again: a named source may come back
        if (!capture->wanted_source.empty() && !capture->said_source_gone && !quiet) {
            capture->said_source_gone = true;
            tell(capture, "the source " + capture->wanted_source + " is gone; waiting for it to return");
        }
        std::lock_guard<std::mutex> lock(capture->mutex);
        capture->status.source.clear();
        capture->status.source_description.clear();
        return;
    }
    if (!quiet) {
        if (!capture->wanted_source.empty()) {
            if (capture->said_source_gone) tell(capture, "capturing " + source + " again");
        } else if (source != before) {
            tell(capture, "following the default output: now capturing " + source + " (" + description + ")");
        }
    }
    capture->said_source_gone = false;
    std::lock_guard<std::mutex> lock(capture->mutex);
    capture->status.source = source;
    capture->status.source_description = description;
}

void publish_start(LiveCapture *capture, const std::string &error) {
    std::lock_guard<std::mutex> lock(capture->mutex);
    capture->started = true;
    capture->start_error = error;
    capture->changed.notify_all();
}

// One connection, from its start until the server goes away or the capture stops. False when the
// very first one finds no source of the wanted name.
bool run_connection(LiveCapture *capture, bool first) {
    PulseClient *client = &capture->client;
    Lookup server;
    pulse_client_wait(client, pa_context_get_server_info(client->context, on_server_info, &server), 5);
    {
        std::lock_guard<std::mutex> lock(capture->mutex);
        capture->status.connected = true;
        capture->status.server = server.server;
        capture->status.following_default = capture->wanted_source.empty();
    }
    // A change of default is a server event; a source's coming and going, a source event.
    pa_context_set_subscribe_callback(client->context, on_event, capture);
    pulse_client_wait(client, pa_context_subscribe(client->context,
                                                   pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SERVER |
                                                                          PA_SUBSCRIPTION_MASK_SOURCE),
                                                   nullptr, nullptr), 5);
    follow_source(capture, true);
    if (first) {
        if (!capture->wanted_source.empty() && !capture->stream) {
            publish_start(capture, "no source named " + capture->wanted_source + " on the sound server (" +
                                       server.server + ")");
            return false;
        }
        publish_start(capture, "");
    } else {
        tell(capture, "the sound server is back" +
                          (capture->stream ? ": capturing " + capture->stream_source : std::string()));
    }
    while (pulse_client_ready(*client) && !stopping(capture)) {
        const double now = pulse_clock_now();
        if (capture->resolve && now >= capture->retry_at) follow_source(capture, false);
        if (capture->stream && pa_stream_get_state(capture->stream) == PA_STREAM_READY && now >= capture->timing_at) {
            capture->timing_at = now + kTimingInterval;
            if (pa_operation *operation = pa_stream_update_timing_info(capture->stream, nullptr, nullptr))
                pa_operation_unref(operation);
        }
        pulse_client_iterate(client, 0.05);
    }
    stop_stream(capture);
    pa_context_set_subscribe_callback(client->context, nullptr, nullptr);
    return true;
}

void capture_main(LiveCapture *capture) {
    bool first = true;
    bool said_gone = false;
    while (!stopping(capture)) {
        std::string error;
        if (pulse_client_connect(&capture->client, capture->app_name.c_str(), 5, &error)) {
            {
                std::lock_guard<std::mutex> lock(capture->mutex);
                capture->loop = capture->client.loop;
            }
            if (!run_connection(capture, first)) break;
            first = false;
            said_gone = false;
            {
                std::lock_guard<std::mutex> lock(capture->mutex);
                capture->loop = nullptr;
                capture->status.connected = false;
                capture->status.source.clear();
                capture->status.source_description.clear();
                // What was captured from it is heard on a clock that no longer runs.
                capture_ring_begin_stream(&capture->ring);
            }
            pulse_client_close(&capture->client);
            if (stopping(capture)) break;
        } else if (first) {
            publish_start(capture, error);
            return;
        }
        if (!said_gone) {
            said_gone = true;
            std::lock_guard<std::mutex> lock(capture->mutex);
            capture->status.server_losses += 1;
            capture->notices.push_back("the sound server went away; reconnecting");
        }
        std::unique_lock<std::mutex> lock(capture->mutex);
        capture->changed.wait_for(lock, std::chrono::milliseconds(int(kRetrySeconds * 1000)),
                                  [capture] { return capture->stop; });
    }
    {
        std::lock_guard<std::mutex> lock(capture->mutex);
        capture->loop = nullptr;
    }
    pulse_client_close(&capture->client);
}

}  // namespace

double live_capture_clock() { return pulse_clock_now(); }

LiveCapture *live_capture_open(const LiveCaptureOptions &options, std::string *error) {
    LiveCapture *capture = new LiveCapture;
    capture->wanted_source = options.source ? options.source : "";
    capture->app_name = options.app_name ? options.app_name : "Halcyonsphere";
    if (!capture_ring_init(&capture->ring, kLiveCaptureRate, options.ring_seconds) ||
        !capture_rows_init(&capture->rows, kLiveCaptureRate)) {
        *error = "cannot keep " + std::to_string(options.ring_seconds) + " s of captured sound";
        capture_rows_free(&capture->rows);
        delete capture;
        return nullptr;
    }
    for (std::vector<float> &samples : capture->window) samples.assign(size_t(capture->rows.span), 0.0f);
    capture->thread = std::thread(capture_main, capture);
    std::unique_lock<std::mutex> lock(capture->mutex);
    capture->changed.wait(lock, [capture] { return capture->started; });
    const std::string start_error = capture->start_error;
    lock.unlock();
    if (!start_error.empty()) {
        *error = start_error;
        live_capture_close(capture);
        return nullptr;
    }
    return capture;
}

void live_capture_close(LiveCapture *capture) {
    if (!capture) return;
    {
        std::lock_guard<std::mutex> lock(capture->mutex);
        capture->stop = true;
        if (capture->loop) pa_mainloop_wakeup(capture->loop);
        capture->changed.notify_all();
    }
    if (capture->thread.joinable()) capture->thread.join();
    capture_rows_free(&capture->rows);
    delete capture;
}

void live_capture_rows(LiveCapture *capture, double heard_at, uint8_t record[kStreamRecordSize]) {
    float *left = capture->window[0].data();
    float *right = capture->window[1].data();
    const int span = capture->rows.span;
    {
        std::lock_guard<std::mutex> lock(capture->mutex);
        capture_ring_window(capture->ring, heard_at, span, span / 2, left, right);
    }
    capture_rows_make(&capture->rows, left, right, record);
}

int64_t live_capture_heard(LiveCapture *capture, double heard_from, int64_t count, float *interleaved) {
    std::lock_guard<std::mutex> lock(capture->mutex);
    return capture_ring_heard(capture->ring, heard_from, count, interleaved);
}

bool live_capture_notice(LiveCapture *capture, std::string *line) {
    std::lock_guard<std::mutex> lock(capture->mutex);
    if (capture->notices.empty()) return false;
    *line = capture->notices.front();
    capture->notices.pop_front();
    return true;
}

LiveCaptureStatus live_capture_status(LiveCapture *capture) {
    std::lock_guard<std::mutex> lock(capture->mutex);
    LiveCaptureStatus status = capture->status;
    status.timed = capture->ring.anchor_count > 0;
    return status;
}
