// listen_probe [--source NAME] [--seconds S]   the rows of "now" at 60 Hz: per tick its time and
//                                              the left and right loudness (spectrum row sums)
// listen_probe --list-sources                  the sources, marked as outputs or inputs
// listen_probe --latency [--clicks N]          clicks played into the default output, and the
//                                              time from each click's write to the first tick
//                                              whose rows show it; one JSON object
// listen_probe --play-clicks N                  the same clicks alone, for another program that
//                                              shows them: first a line with the loudness a
//                                              frame's rows show a click at, then per click a
//                                              line with its write and heard times (JSON lines,
//                                              seconds on the monotonic clock)
// What the live capture says (the server gone and back, another default output) goes to stderr.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "audio/capture_rows.h"
#include "audio/live_capture.h"
#include "audio/pulse_playback.h"
#include "audio/sound_sources.h"
#include "tools/json_text.h"

namespace {

constexpr double kTick = 1.0 / 60;

int usage() {
    std::fputs("usage: listen_probe [--source NAME] [--seconds S] | --list-sources | --latency [--clicks N] | --play-clicks N\n",
               stderr);
    return 2;
}

int fail(const std::string &line) {
    std::fprintf(stderr, "listen_probe: %s\n", line.c_str());
    return 1;
}

void sleep_until(double when) {
    const double wait = when - live_capture_clock();
    if (wait > 0) std::this_thread::sleep_for(std::chrono::microseconds(int64_t(wait * 1e6)));
}

void say_notices(LiveCapture *capture) {
    std::string line;
    while (live_capture_notice(capture, &line)) std::fprintf(stderr, "listen_probe: %s\n", line.c_str());
}

int list_sources() {
    SoundSourceList list;
    std::string error;
    if (!sound_sources_list(&list, &error)) return fail(error);
    std::fputs(sound_sources_text(list).c_str(), stdout);
    return 0;
}

int print_ticks(const char *source, double seconds) {
    LiveCaptureOptions options;
    options.source = source;
    std::string error;
    LiveCapture *capture = live_capture_open(options, &error);
    if (!capture) return fail(error);
    const LiveCaptureStatus status = live_capture_status(capture);
    std::fprintf(stderr, "listen_probe: capturing %s (%s) from %s\n",
                 status.source.empty() ? "nothing yet" : status.source.c_str(), status.source_description.c_str(),
                 status.server.c_str());
    std::printf("# seconds left right\n");
    uint8_t record[kStreamRecordSize];
    const double start = live_capture_clock();
    for (int tick = 0; tick * kTick < seconds; ++tick) {
        const double at = start + tick * kTick;
        sleep_until(at);
        live_capture_rows(capture, at, record);
        std::printf("%.3f %d %d\n", tick * kTick, capture_rows_loudness(record, 0), capture_rows_loudness(record, 1));
        std::fflush(stdout);
        say_notices(capture);
    }
    live_capture_close(capture);
    return 0;
}

double median(std::vector<double> values) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// A 50 ms burst of 1 kHz on both channels, with 2 ms ramps so that it starts without a splash.
// Not shorter: the newest samples come in 10 ms fragments, so "now" can skip a burst shorter
// than a frame and a fragment (a drum hit rings longer).
std::vector<float> click_sound() {
    const int frames = kLiveCaptureRate / 20, ramp = kLiveCaptureRate / 500;
    std::vector<float> sound(size_t(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const double envelope = std::min({1.0, double(i) / ramp, double(frames - 1 - i) / ramp});
        const float value = float(0.25 * envelope * std::sin(2 * M_PI * 1000.0 * i / kLiveCaptureRate));
        sound[size_t(i) * 2] = sound[size_t(i) * 2 + 1] = value;
    }
    return sound;
}

// Half the loudness of the click's own rows, centred on it: a tick "shows" the click once its
// rows are at least that loud.
int click_threshold(const std::vector<float> &click) {
    CaptureRows rows;
    capture_rows_init(&rows, kLiveCaptureRate);
    std::vector<float> window(size_t(rows.span), 0.0f);
    const int frames = int(click.size() / 2);
    for (int i = 0; i < frames; ++i) {
        const int at = rows.span / 2 - frames / 2 + i;
        if (at >= 0 && at < rows.span) window[size_t(at)] = click[size_t(i) * 2];
    }
    uint8_t record[kStreamRecordSize];
    capture_rows_make(&rows, window.data(), window.data(), record);
    capture_rows_free(&rows);
    return capture_rows_loudness(record, 0) / 2;
}

int measure_latency(int clicks) {
    std::string error;
    LiveCapture *capture = live_capture_open(LiveCaptureOptions(), &error);
    if (!capture) return fail(error);
    // A player that keeps little ahead: what is measured is the capture's lag, not a player's buffer.
    PulsePlayback *playback = pulse_playback_open(nullptr, 0.020, &error);
    if (!playback) {
        live_capture_close(capture);
        return fail(error);
    }
    // Until both streams run: a sink that mixed far ahead while nobody listened (a server just
    // started) takes a while to mix for new streams.
    const std::vector<float> settle(size_t(kLiveCaptureRate) / 5 * 2, 0.0f);
    pulse_playback_queue(playback, settle.data(), settle.size() / 2);
    for (const double give_up = live_capture_clock() + 10; live_capture_clock() < give_up;) {
        if (pulse_playback_done(playback) && live_capture_status(capture).timed) break;
        sleep_until(live_capture_clock() + 0.01);
    }
    const std::vector<float> click = click_sound();
    const int threshold = click_threshold(click);
    std::vector<double> latencies, behind, playback_latencies;
    int missed = 0;
    uint8_t record[kStreamRecordSize];
    double tick = live_capture_clock();
    for (int n = 0; n < clicks; ++n) {
        // Clicks fall at any phase of the display's ticks, as a song's beats do.
        tick += 0.3 + kTick * (n % 7) / 7.0;
        sleep_until(tick);
        const int piece = pulse_playback_queue(playback, click.data(), click.size() / 2);
        double written_at = 0, heard_at = 0;
        bool shown = false;
        for (const double give_up = tick + 1.0; tick < give_up && !shown;) {
            tick += kTick;
            sleep_until(tick);
            live_capture_rows(capture, tick, record);
            if (!pulse_playback_piece_times(playback, piece, &written_at, &heard_at)) continue;
            shown = capture_rows_loudness(record, 0) >= threshold && capture_rows_loudness(record, 1) >= threshold;
        }
        say_notices(capture);
        if (!shown) {
            missed += 1;
            continue;
        }
        latencies.push_back((tick - written_at) * 1000);
        behind.push_back((tick - heard_at) * 1000);
        playback_latencies.push_back((heard_at - written_at) * 1000);
    }
    const LiveCaptureStatus status = live_capture_status(capture);
    pulse_playback_close(playback);
    live_capture_close(capture);
    if (latencies.empty()) return fail("no click was shown within a second of its write");
    std::printf("{\"listen_latency_ms\": %.1f, \"listen_latency_max_ms\": %.1f, \"behind_heard_ms\": %.1f, "
                "\"playback_latency_ms\": %.1f, \"capture_latency_ms\": %.1f, \"clicks\": %d, \"missed\": %d, "
                "\"server\": %s}\n",
                median(latencies), *std::max_element(latencies.begin(), latencies.end()), median(behind),
                median(playback_latencies), status.latency_seconds * 1000, clicks, missed,
                json_text(status.server).c_str());
    return missed == 0 ? 0 : 1;
}

// Clicks for a program that shows them (halcyonsphere listen): its own frames tell when each one
// showed, on the same monotonic clock.
int play_clicks(int clicks) {
    std::string error;
    PulsePlayback *playback = pulse_playback_open(nullptr, 0.020, &error);
    if (!playback) return fail(error);
    const std::vector<float> settle(size_t(kLiveCaptureRate) / 5 * 2, 0.0f);
    pulse_playback_queue(playback, settle.data(), settle.size() / 2);
    for (const double give_up = live_capture_clock() + 10; live_capture_clock() < give_up;) {
        if (pulse_playback_done(playback)) break;
        sleep_until(live_capture_clock() + 0.01);
    }
    const std::vector<float> click = click_sound();
    std::printf("{\"threshold\": %d}\n", click_threshold(click));
    std::fflush(stdout);
    double at = live_capture_clock();
    int unheard = 0;
    for (int n = 0; n < clicks; ++n) {
        at += 0.3 + kTick * (n % 7) / 7.0;  // at any phase of the display's frames, as beats fall
        sleep_until(at);
        const int piece = pulse_playback_queue(playback, click.data(), click.size() / 2);
        double written_at = 0, heard_at = 0;
        bool timed = false;
        for (const double give_up = at + 1.0; !timed && live_capture_clock() < give_up;) {
            sleep_until(live_capture_clock() + 0.005);
            timed = pulse_playback_piece_times(playback, piece, &written_at, &heard_at);
        }
        if (!timed) {
            unheard += 1;
            continue;
        }
        // The heard time settles once the piece is written whole: ask again after it.
        sleep_until(live_capture_clock() + 0.1);
        pulse_playback_piece_times(playback, piece, &written_at, &heard_at);
        std::printf("{\"click\": %d, \"written_at\": %.6f, \"heard_at\": %.6f}\n", n, written_at, heard_at);
        std::fflush(stdout);
        at = std::max(at, live_capture_clock());
    }
    pulse_playback_close(playback);
    return unheard == 0 ? 0 : fail(std::to_string(unheard) + " clicks were never written");
}

}  // namespace

int main(int argc, char **argv) {
    const char *source = nullptr;
    double seconds = 10;
    int clicks = 20;
    bool list = false, latency = false, play = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        char *end = nullptr;
        if (std::strcmp(arg, "--list-sources") == 0) {
            list = true;
        } else if (std::strcmp(arg, "--latency") == 0) {
            latency = true;
        } else if (std::strcmp(arg, "--source") == 0 && value) {
            source = argv[++i];
        } else if (std::strcmp(arg, "--seconds") == 0 && value) {
            seconds = std::strtod(argv[++i], &end);
            if (*end || !(seconds > 0 && seconds <= 86400)) return usage();
        } else if (std::strcmp(arg, "--play-clicks") == 0 && value) {
            play = true;
            clicks = int(std::strtol(argv[++i], &end, 10));
            if (*end || clicks < 1 || clicks > 1000) return usage();
        } else if (std::strcmp(arg, "--clicks") == 0 && value) {
            clicks = int(std::strtol(argv[++i], &end, 10));
            if (*end || clicks < 1 || clicks > 1000) return usage();
        } else {
            return usage();
        }
    }
    if (list) return list_sources();
    if (latency) return measure_latency(clicks);
    if (play) return play_clicks(clicks);
    return print_ticks(source, seconds);
}
