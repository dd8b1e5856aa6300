#include "native/live_rows.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "audio/capture_rows.h"
#include "player/event_log.h"
#include "player/player_platform.h"
#include "player/run_steps.h"

namespace {

// Past this a frame is late anyway; taking rows further ahead would only take older sound
// (the capture has nothing newer than now).
constexpr double kMaxLead = 0.1;
constexpr double kFirstLead = 1.0 / 60;  // a display's refresh, until frames tell

LiveRowsSetup g_setup;
// Written by the frame loop's thread alone, frame by frame.
int g_frames_done = 0;
double g_rows_taken_at = 0;  // when this frame's rows were taken
double g_heard_at = 0;       // the moment whose sound they are
double g_shown_at = 0;       // when the last frame reached the screen
double g_lead = kFirstLead;        // how long a frame takes from its rows to the screen
uint8_t g_record[kStreamRecordSize];

void tell_notices() {
    std::string line;
    while (live_capture_notice(g_setup.capture, &line)) {
        JsonLine event = json_begin("listen_notice");
        json_string(event, "text", line.c_str());
        event_write(event);
        if (g_setup.notice) g_setup.notice(line);
    }
}

void feed(const RunOptions &, VisModule *module, long long) {
    live_capture_rows(g_setup.capture, g_heard_at, g_record);
    std::memcpy(module->spectrum_data, g_record, kStreamRowsSize);
    const uint8_t *wave = g_record + kStreamRowsSize;
    if (module->waveform_channels >= 2) {
        std::memcpy(module->waveform_data, wave, kStreamRowsSize);
    } else if (module->waveform_channels == 1) {  // the player's mix of the two
        for (int i = 0; i < kStreamBins; ++i)
            module->waveform_data[0][i] =
                uint8_t(int8_t((int8_t(wave[i]) + int8_t(wave[kStreamBins + i])) / 2));
        std::memset(module->waveform_data[1], 0, kStreamBins);
    }
    tell_notices();
}

void start(const RunOptions &, bool frames_follow, FrameTiming *timing) {
    timing->wall = false;
    log_pacing(false, true);
    if (frames_follow && g_setup.before_frames) g_setup.before_frames();
}

bool after_render(const RunOptions &, int frame, FrameTiming *) {
    const double shown_at = live_capture_clock();
    g_shown_at = shown_at;
    g_lead = live_rows_next_lead(g_lead, shown_at - g_rows_taken_at);
    g_frames_done = frame + 1;
    JsonLine line = json_begin("live_frame");
    json_int(line, "index", frame);
    char times[96];
    std::snprintf(times, sizeof times, "%.6f", g_heard_at);
    json_raw(line, "heard_at", times);
    std::snprintf(times, sizeof times, "%.6f", shown_at);
    json_raw(line, "shown_at", times);
    json_int(line, "left", capture_rows_loudness(g_record, 0));
    json_int(line, "right", capture_rows_loudness(g_record, 1));
    event_write(line);
    return false;
}

// Live sound has no end: the run ends when the user quits, or after the frames asked for.
bool stream_seconds(const FrameTiming &timing, double *seconds) {
    if (g_setup.frames > 0 && g_frames_done >= g_setup.frames) return false;
    g_rows_taken_at = live_capture_clock();
    g_heard_at = g_rows_taken_at + g_lead - g_setup.sound_latency;
    *seconds = std::max(0.0, seconds_now() - timing.started);
    return true;
}

const char *cannot_go_on() { return g_setup.cannot_go_on ? g_setup.cannot_go_on() : nullptr; }

}  // namespace

const FramePacing kLivePacing = {start,   after_render, stream_seconds, nullptr, nullptr,
                                 nullptr, nullptr,      cannot_go_on};

void live_rows_use(const LiveRowsSetup &setup) {
    g_setup = setup;
    g_frames_done = 0;
    g_lead = kFirstLead;
    std::memset(g_record, 0, sizeof g_record);
}

double live_rows_shown_at() { return g_shown_at; }

RowSource rows_of_live_capture() {
    RowSource rows;
    rows.feed = feed;
    rows.rate_numerator = 1000000;
    rows.rate_denominator = 1;
    rows.count = LLONG_MAX;
    return rows;
}

double live_rows_next_lead(double lead, double frame_seconds) {
    // A stalled frame (a window being dragged) says little about the next ones.
    const double sample = std::clamp(frame_seconds, 0.0, kMaxLead);
    return std::clamp(lead + (sample - lead) / 8, 0.0, kMaxLead);
}
