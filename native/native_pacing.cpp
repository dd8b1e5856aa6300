#include "native/native_pacing.h"

#include <GL/gl.h>

#include <cstdio>
#include <string>

#include "native/sound_out.h"
#include "player/event_log.h"
#include "player/player_platform.h"
#include "player/spectrum_fill.h"
#include "shell/platform_linux.h"

namespace {

const char *g_sound_file = nullptr;
bool g_sound = false;  // the track's sound is playing with the frames

// The GL the frames are drawn with, once: the card's driver, or llvmpipe.
void log_renderer() {
    static bool logged = false;
    if (logged || !platform_linux_gl_current()) return;
    logged = true;
    auto text = [](GLenum name) {
        const GLubyte *value = glGetString(name);
        return value ? reinterpret_cast<const char *>(value) : "";
    };
    JsonLine line = json_begin("gl");
    json_string(line, "renderer", text(GL_RENDERER));
    json_string(line, "vendor", text(GL_VENDOR));
    json_string(line, "version", text(GL_VERSION));
    json_string(line, "display", platform_linux_display_kind());
    event_write(line);
}

void open_sound() {
    if (!g_sound_file || g_sound) return;
    std::string error;
    const double start = spectrum_stream_loaded().start_ms / 1000.0;
    g_sound = sound_open(g_sound_file, start, &error);
    JsonLine line = json_begin("sound");
    json_bool(line, "playing", g_sound);
    if (!g_sound) json_string(line, "text", error.c_str());
    event_write(line);
    if (!g_sound) std::fprintf(stderr, "%s: %s: playing silently\n", kProgramName, error.c_str());
}

void after_init(const RunOptions &) {
    log_renderer();
    open_sound();
}

void start(const RunOptions &options, bool frames_follow, FrameTiming *timing) {
    // Our plug-in draws with GL on this thread: its frames are read as soon as Render returns.
    timing->wall = options.pacing == Pacing::wall;
    if (options.pacing != Pacing::clock) log_pacing(timing->wall, true);
    if (g_sound && frames_follow) sound_start();
}

bool after_render(const RunOptions &options, int frame, FrameTiming *timing) {
    if (timing->wall) sleep_seconds(timing->started + (frame + 1) * options.clock.step_ms / 1000 - seconds_now());
    return false;
}

// The sound being heard, or without one the clock.
bool time_played(const FrameTiming &timing, double *seconds) {
    *seconds = g_sound ? sound_heard_seconds() : seconds_now() - timing.started;
    return !g_sound || !sound_finished();
}

// What the picture was held back by, to follow the sound as heard.
void after_quit() {
    if (!g_sound) return;
    double reported = 0, extra = 0;
    sound_latency_seconds(&reported, &extra);
    JsonLine line = json_begin("sound_latency");
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.3f", reported * 1000);
    json_raw(line, "reported_ms", ms);
    std::snprintf(ms, sizeof ms, "%.3f", extra * 1000);
    json_raw(line, "extra_ms", ms);
    event_write(line);
}

// A lost context shows nothing more: the run ends with it, saying why once.
const char *context_lost() {
    const char *lost = platform_linux_gl_lost();
    if (!lost) return nullptr;
    log_error("gl_lost", (std::string("the GL context was lost: ") + lost).c_str());
    return "gl_lost";
}

}  // namespace

const FramePacing kNativePacing = {start,      after_render, time_played, nullptr, after_init,
                                   after_quit, nullptr,      context_lost};

void native_pacing_play(const char *sound) { g_sound_file = sound; }
