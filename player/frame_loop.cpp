#include "player/frame_loop.h"

#include <cstdio>
#include <cstring>

#include "player/event_log.h"
#include "player/player_answers.h"
#include "player/player_platform.h"
#include "player/run_stop.h"
#include "player/spectrum_fill.h"

RowSource rows_of_spectrum() {
    const SpectrumStream &stream = spectrum_stream_loaded();
    RowSource rows;
    rows.feed = feed_frame;
    rows.rate_numerator = stream.rate_numerator;
    rows.rate_denominator = stream.rate_denominator;
    rows.count = stream.frame_count;
    rows.stopped = spectrum_stream_stopped;
    rows.newest = spectrum_stream_live_row;
    return rows;
}

static void log_capture(int frame, const CaptureResult &capture) {
    JsonLine line = json_begin("capture");
    json_int(line, "index", frame);
    json_bool(line, "captured", capture.captured);
    if (capture.captured) {
        json_string(line, "path", capture.path.c_str());
        json_int(line, "width", capture.width);
        json_int(line, "height", capture.height);
        char mean[96];
        std::snprintf(mean, sizeof mean, "[%.3f, %.3f, %.3f]", capture.mean_red, capture.mean_green,
                      capture.mean_blue);
        json_raw(line, "mean_rgb", mean);
        json_string(line, "source", capture.source);
    }
    event_write(line);
}

// After a frame's Render and its pacing: logs the frame (with the stream's row, when not simply
// the frame's own: in real time, or a live stream's newest; -1 none) and,
// unless the plug-in asked to end (a nonzero result: the player stops it), keeps it: its capture
// when one is due, its raw video, and *frame counts it. Returns the reason the run ends with this
// frame, or null.
static const char *finish_frame(const RunOptions &options, const FrameOutlet &outlet, int cycle, int *frame,
                                int result, long long row, RunTotals *totals) {
    JsonLine line = json_begin("frame");
    json_int(line, "index", *frame);
    json_int(line, "result", result);
    if (row >= 0) json_int(line, "row", row);
    event_write(line);
    if (result != 0) return "render_ended";
    // A picture that was read but not written (a full disk, a folder that takes no files) is lost:
    // the run fails. Nothing to read is no failure; the capture says so.
    std::string capture_error;
    if (options.capture && *frame % options.capture_every == 0) {
        const CaptureResult capture = outlet.capture(options.capture, cycle * 100000 + *frame);
        log_capture(*frame, capture);
        if (!capture.captured && capture.source) capture_error = capture.error;
    }
    std::string video_error;
    const bool video_failed = capture_error.empty() && options.video && !outlet.video_frame(&video_error);
    ++*frame;  // drawn, even when its capture or video was lost
    if (!capture_error.empty()) {
        log_error("capture", capture_error.c_str());
        totals->capture_failed = true;
        return "capture_failed";
    }
    if (!video_failed) return nullptr;
    log_error("video", video_error.c_str());
    totals->video_failed = true;
    return "video_failed";
}

// After Quit, as a careless player might: options.render_after_quit more frames from frame on.
static void render_after_quit(const RunOptions &options, const RowSource &rows, VisModule *module, int frame) {
    event_log_set_phase("after_quit");
    for (int i = 0; i < options.render_after_quit; ++i) {
        rows.feed(options, module, frame + i);
        JsonLine late = json_begin("frame");
        json_int(late, "index", frame + i);
        json_int(late, "result", module->render(module));
        json_bool(late, "after_quit", true);
        event_write(late);
    }
}

const char *run_module(const RunOptions &options, VisModule *module, int cycle, const FramePacing &pacing,
                       const RowSource &rows, const FrameOutlet &outlet, RunTotals *totals) {
    if (run_stop_signal() != 0) return "interrupted";
    if (pacing.before_init) pacing.before_init();
    bool quit_seen = false;
    if (!start_module(options, module, &quit_seen, totals)) return "init_failed";
    if (pacing.after_init) pacing.after_init(options);

    if (options.video) outlet.video_begin();
    const char *reason = nullptr;
    if (!quit_seen && options.wait_for && !wait_for_start(options.wait_for, &reason))
        quit_seen = std::strcmp(reason, "quit_message") == 0;
    event_log_set_phase("render");
    FrameTiming timing;
    pacing.start(options, !quit_seen && !reason, &timing);
    timing.started = seconds_now();
    int frame = 0;
    player_set_playing(true);
    while (!reason && !quit_seen && (options.realtime || frame < options.frames)) {
        if (run_stop_signal() != 0) {
            reason = "interrupted";
            break;
        }
        if (poke_before_frame(options, frame)) {
            quit_seen = true;
            break;
        }
        // In real time the rows follow the time played: a slow frame skips rows instead of lagging.
        long long row = frame;
        if (options.realtime) {
            double seconds = 0;
            const bool playing = pacing.stream_seconds(timing, &seconds);
            row = static_cast<long long>(seconds * rows.rate_numerator / rows.rate_denominator);
            if (row >= rows.count || !playing) {
                reason = "stream_end";
                break;
            }
        }
        rows.feed(options, module, row);
        bool failed = false;
        if (const char *why = rows.stopped ? rows.stopped(&failed) : nullptr) {
            if (failed) {
                const std::string text =
                    std::string("spectrum stream ") + (options.spectrum.path ? options.spectrum.path : "") + ": " + why;
                log_error("spectrum_stream", text.c_str());
                totals->stream_failed = true;
            }
            reason = failed ? "stream_failed" : "stream_end";
            break;
        }
        if (pacing.before_render) pacing.before_render();
        const int result = module->render(module);
        const bool quit_while_waiting = pacing.after_render(options, frame, &timing);
        const long long live = rows.newest ? rows.newest() : -1;
        reason = finish_frame(options, outlet, cycle, &frame, result, options.realtime ? row : live, totals);
        if (!reason && pacing.cannot_go_on) reason = pacing.cannot_go_on();
        if (reason) break;
        quit_seen = quit_while_waiting || pump_messages(frame);
        if (quit_seen || (!options.realtime && frame >= options.frames)) break;
        const int delay = options.delay_override >= 0 ? options.delay_override : module->delay_ms;
        if (delay > 0 && !timing.wall) sleep_seconds(delay / 1000.0);
    }
    const bool video_ok = !reason || (std::strcmp(reason, "video_failed") != 0 && std::strcmp(reason, "capture_failed") != 0 &&
                                      std::strcmp(reason, "interrupted") != 0);
    std::string video_error;
    if (options.video && outlet.video_end && video_ok && !outlet.video_end(&video_error)) {
        log_error("video", video_error.c_str());
        totals->video_failed = true;
        reason = "video_failed";
    }
    totals->loop_seconds = seconds_now() - timing.started;
    totals->frames = frame;
    player_set_playing(false);
    quit_module(module);
    pump_messages(frame);  // whatever the teardown left queued
    if (pacing.after_quit) pacing.after_quit();
    render_after_quit(options, rows, module, frame);
    if (reason) return reason;
    return quit_seen ? "quit_message" : "frames";
}
