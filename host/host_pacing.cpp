#include "host/host_pacing.h"

#include "host/crash_report.h"
#include "host/embed_window.h"
#include "host/frame_capture.h"
#include "host/message_pump.h"
#include "host/swap_capture.h"
#include "host/window_capture.h"
#include "player/event_log.h"

namespace {

const double kGlStartSeconds = 2;  // for a plug-in that can draw with GL to start doing so

// Whether frames take their step of real time: decided by the first one in automatic pacing.
bool decide_wall_pacing(const RunOptions &options) {
    if (options.pacing == Pacing::clock) return false;
    const bool gl = frame_has_gl_context();
    const bool wall = options.pacing == Pacing::wall || !gl;
    log_pacing(wall, gl);
    return wall;
}

// A plug-in that draws on a thread of its own may have no picture when the first frame is due: no
// window yet, or a GL window that stays black until the thread's first swap. Waits for one
// (running the queue its thread may wait on) for 10 s at most, and says so when none came. True on
// the plug-in's quit message.
bool wait_for_picture(int after_frames) {
    const double kGiveUpSeconds = 10;
    const double start = seconds_now();
    for (;;) {
        const double waited = seconds_now() - start;
        if (frame_picture_ready(waited, kGlStartSeconds)) return false;
        if (waited >= kGiveUpSeconds) break;
        if (pump_messages_until(seconds_now() + 0.02, after_frames)) return true;
    }
    JsonLine line = json_begin("no_picture");
    json_int(line, "waited_ms", static_cast<long long>((seconds_now() - start) * 1000));
    json_bool(line, "window", window_of_plugin() != nullptr);
    json_bool(line, "gl_thread", swap_capture_gl_elsewhere());
    event_write(line);
    return false;
}

// A filter the plug-in set (in DllMain, Quit, a helper DLL) goes back behind the host's before
// each call into it.
void before_init() {
    swap_capture_reset();
    crash_report_reclaim();
}

void start(const RunOptions &, bool, FrameTiming *timing) { timing->wall = false; }  // the first frame decides

bool after_render(const RunOptions &options, int frame, FrameTiming *timing) {
    if (frame == 0) timing->wall = decide_wall_pacing(options);
    if (!timing->wall) return false;
    // The plug-in draws on its own schedule: its picture of this frame is there at the frame's end.
    const double step = options.clock.step_ms / 1000;
    bool quit = pump_messages_until(timing->started + (frame + 1) * step, frame + 1);
    if (frame == 0 && !quit && !frame_picture_ready(0, kGlStartSeconds)) {
        quit = wait_for_picture(frame + 1);
        timing->started = seconds_now() - step;  // the frames keep their pace from here
    }
    return quit;
}

bool time_since_start(const FrameTiming &timing, double *seconds) {
    *seconds = seconds_now() - timing.started;
    return true;
}

}  // namespace

const FramePacing kHostPacing = {start, after_render, time_since_start, before_init, nullptr, embed_windows_close_left,
                                 crash_report_reclaim};
