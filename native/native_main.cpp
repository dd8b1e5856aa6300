// halcyon_native: the Halcyonsphere visualization as a native Linux program. It drives the plug-in,
// linked in, as the player does, over the Linux platform seam, and writes the Windows host's
// events (host/host_main.cpp), one JSON object per line:
//   loaded, player_files, [clock,] [cycle,] init, [gl,] [sound,] [ready,] [pacing,] frame,
//   capture..., quit_message, poke, quit, end; and from inside the plug-in's calls message_box and
//   host_message. error when the spectrum stream is bad, the video fails or nothing can be shown.
#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/event_log.h"
#include "host/spectrum_fill.h"
#include "native/frame_output.h"
#include "native/native_options.h"
#include "native/player_answers.h"
#include "native/plugin_folder.h"
#include "native/sound_out.h"
#include "shell/module_export.h"
#include "shell/platform_linux.h"

namespace {

VirtualClockSetting g_clock;
uint32_t g_tick = kVirtualClockDefaultStart;
bool g_sound = false;  // the track's sound is playing with the frames

uint32_t virtual_tick_count() { return g_tick; }

double seconds_now() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void sleep_seconds(double seconds) {
    if (seconds <= 0) return;
    timespec span = {time_t(seconds), long((seconds - std::floor(seconds)) * 1e9)};
    while (nanosleep(&span, &span) != 0) {
    }
}

void write_error(const char *what, const char *text) {
    JsonLine line = json_begin("error");
    json_string(line, "what", what);
    json_string(line, "text", text);
    event_write(line);
    std::fprintf(stderr, "halcyon_native: %s\n", text);
}

// The plug-in's quit message, as the host's message loop reports it.
bool pump_messages(int after_frames) {
    int exit_code = 0;
    if (!platform_linux_pump(&exit_code)) return false;
    JsonLine line = json_begin("quit_message");
    json_string(line, "phase", event_log_phase());
    json_int(line, "exit_code", exit_code);
    json_int(line, "after_frames", after_frames);
    event_write(line);
    return true;
}

void poke_render_window(const char *what, uint32_t message, uintptr_t wparam, intptr_t lparam, int frame) {
    WindowHandle target = player_registered_window();
    JsonLine line = json_begin("poke");
    json_string(line, "what", what);
    json_int(line, "frame", frame);
    json_int(line, "window", reinterpret_cast<intptr_t>(target));
    json_bool(line, "posted", target && platform_linux_post(target, message, wparam, lparam));
    event_write(line);
}

// What the process holds after each stop, so that many starts can be seen to leak nothing.
void json_process_figures(JsonLine &line) {
    long long resident_kb = 0, peak_kb = 0;
    if (FILE *status = std::fopen("/proc/self/status", "r")) {
        char text[256];
        while (std::fgets(text, sizeof text, status)) {
            std::sscanf(text, "VmRSS: %lld", &resident_kb);
            std::sscanf(text, "VmHWM: %lld", &peak_kb);
        }
        std::fclose(status);
    }
    json_int(line, "working_set", resident_kb * 1024);
    json_int(line, "peak_working_set", peak_kb * 1024);
    json_int(line, "windows", platform_linux_window_count());
}

void call_quit(VisModule *module) {
    event_log_set_phase("quit");
    module->quit(module);
    JsonLine line = json_begin("quit");
    json_bool(line, "returned", true);
    json_bool(line, "render_window_alive", player_last_registered_alive());
    json_bool(line, "window_class_registered", player_last_class_registered());
    json_process_figures(line);
    event_write(line);
}

void capture_frame(const NativeOptions &options, int cycle, int frame) {
    if (!options.capture || frame % options.capture_every != 0) return;
    const FrameCapture capture = frame_capture(options.capture, cycle * 100000 + frame);
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
        json_string(line, "source", "gl");
    }
    event_write(line);
}

// Where in the track a row of the stream lies, and the track's length; without one, 0 and 0.
void tell_player_time(const NativeOptions &options, long long row) {
    if (options.spectrum.kind != SpectrumKind::stream) return;
    const SpectrumStream &stream = spectrum_stream_loaded();
    const double position = stream.start_ms + double(row) * 1000.0 * stream.rate_denominator / stream.rate_numerator;
    player_set_time(uint32_t(std::min<double>(std::llround(position), stream.length_ms)),
                    (stream.length_ms + 500) / 1000);
}

void feed_frame(const NativeOptions &options, VisModule *module, long long row) {
    spectrum_fill(options.spectrum, int(row), module->spectrum_data);
    waveform_fill(options.spectrum, int(row), module->waveform_channels, module->waveform_data);
    if (g_clock.enabled) g_tick = virtual_clock_tick(g_clock, row);
    tell_player_time(options, row);
}

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

void start_sound(const NativeOptions &options) {
    if (!options.sound || g_sound) return;
    std::string error;
    const double start = spectrum_stream_loaded().start_ms / 1000.0;
    g_sound = sound_open(options.sound, start, &error);
    JsonLine line = json_begin("sound");
    json_bool(line, "playing", g_sound);
    if (!g_sound) json_string(line, "text", error.c_str());
    event_write(line);
    if (!g_sound) std::fprintf(stderr, "halcyon_native: %s: playing silently\n", error.c_str());
}

// After Init: tells the caller the plug-in is up and waits for its signal to start, so that the
// first frame and the sound start together. False when the wait ended otherwise.
bool wait_for_start(const std::string &path, const char **reason) {
    JsonLine ready = json_begin("ready");
    event_write(ready);
    const double give_up = seconds_now() + 120;
    struct stat info;
    while (stat(path.c_str(), &info) != 0) {
        if (pump_messages(0)) {
            *reason = "quit_message";
            return false;
        }
        if (seconds_now() > give_up) {
            *reason = "no_start";
            return false;
        }
        sleep_seconds(0.002);
    }
    return true;
}

struct RunTotals {
    int frames = 0;
    double loop_seconds = 0;
    bool video_failed = false;
    bool init_failed = false;
};

// Init, the frames, Quit. Returns the reason the run ended.
const char *run_module(const NativeOptions &options, const std::string &wait_for, VisModule *module, int cycle,
                       RunTotals *totals) {
    g_tick = g_clock.start;
    event_log_set_phase("init");
    const int init_result = module->init(module);
    JsonLine line = json_begin("init");
    json_int(line, "result", init_result);
    json_int(line, "delay_ms", module->delay_ms);
    if (init_result != 0) {
        json_bool(line, "render_window_alive", player_last_registered_alive());
        json_bool(line, "window_class_registered", player_last_class_registered());
    }
    event_write(line);

    bool quit_seen = pump_messages(0);
    if (init_result != 0) {
        totals->init_failed = true;
        if (options.quit_after_failed_init) call_quit(module);
        return "init_failed";
    }
    log_renderer();
    start_sound(options);

    if (options.video) frame_video_begin();
    const char *reason = nullptr;
    if (!quit_seen && !wait_for.empty() && !wait_for_start(wait_for, &reason))
        quit_seen = std::strcmp(reason, "quit_message") == 0;
    if (options.pacing_given) {
        // Our plug-in draws with GL on this thread: its frames are read as soon as Render returns.
        JsonLine pacing = json_begin("pacing");
        json_string(pacing, "mode", options.wall_pacing ? "wall" : "clock");
        json_bool(pacing, "gl_on_host_thread", true);
        event_write(pacing);
    }
    event_log_set_phase("render");
    const SpectrumStream &stream = spectrum_stream_loaded();
    if (g_sound && !quit_seen && !reason) sound_start();
    const double started = seconds_now();
    int frame = 0;
    player_set_playing(true);
    while (!reason && !quit_seen && (options.realtime || frame < options.frames)) {
        if (frame == options.escape_at)
            poke_render_window("escape", win32::WM_KEYDOWN, win32::VK_ESCAPE, 0x00010001, frame);
        if (frame == options.close_at) poke_render_window("close", win32::WM_CLOSE, 0, 0, frame);
        if (frame == options.escape_at || frame == options.close_at) {
            quit_seen = pump_messages(frame);
            if (quit_seen) break;
        }
        // In real time the rows follow the sound heard (or the clock): a slow frame skips rows.
        long long row = frame;
        if (options.realtime) {
            const double seconds = g_sound ? sound_heard_seconds() : seconds_now() - started;
            row = (long long)(seconds * stream.rate_numerator / stream.rate_denominator);
            if (row >= stream.frame_count || (g_sound && sound_finished())) {
                reason = "stream_end";
                break;
            }
        }
        feed_frame(options, module, row);
        const int result = module->render(module);
        if (options.wall_pacing) sleep_seconds(started + (frame + 1) * g_clock.step_ms / 1000 - seconds_now());
        JsonLine frame_line = json_begin("frame");
        json_int(frame_line, "index", frame);
        json_int(frame_line, "result", result);
        if (options.realtime) json_int(frame_line, "row", row);
        event_write(frame_line);
        if (result != 0) {  // the plug-in asking to end: the player stops it
            reason = "render_ended";
            break;
        }
        capture_frame(options, cycle, frame);
        std::string video_error;
        if (options.video && !frame_video_write(&video_error)) {
            write_error("video", video_error.c_str());
            totals->video_failed = true;
            reason = "video_failed";
            ++frame;
            break;
        }
        ++frame;
        quit_seen = pump_messages(frame);
        if (quit_seen || (!options.realtime && frame >= options.frames)) break;
        const int delay = options.delay_override >= 0 ? options.delay_override : module->delay_ms;
        if (delay > 0 && !options.wall_pacing) sleep_seconds(delay / 1000.0);
    }
    totals->loop_seconds = seconds_now() - started;
    totals->frames = frame;
    player_set_playing(false);
    call_quit(module);
    pump_messages(frame);
    event_log_set_phase("after_quit");
    for (int i = 0; i < options.render_after_quit; ++i) {
        feed_frame(options, module, frame + i);
        JsonLine late = json_begin("frame");
        json_int(late, "index", frame + i);
        json_int(late, "result", module->render(module));
        json_bool(late, "after_quit", true);
        event_write(late);
    }
    if (reason) return reason;
    return quit_seen ? "quit_message" : "frames";
}

void log_loaded(VisHeader *header, VisModule *module) {
    JsonLine line = json_begin("loaded");
    json_null(line, "dll");  // built in
    json_int(line, "header_version", header->version);
    json_string(line, "description", header->description);
    json_int(line, "module0", reinterpret_cast<intptr_t>(module));
    json_bool(line, "module0_same", header->get_module(0) == module);
    json_bool(line, "module1_null", header->get_module(1) == nullptr);
    json_bool(line, "module_minus1_null", header->get_module(-1) == nullptr);
    json_string(line, "module_description", module->description);
    json_int(line, "latency_ms", module->latency_ms);
    json_int(line, "delay_ms", module->delay_ms);
    json_int(line, "spectrum_channels", module->spectrum_channels);
    json_int(line, "waveform_channels", module->waveform_channels);
    json_bool(line, "user_data_null", module->user_data == nullptr);
    event_write(line);
}

}  // namespace

int main(int argc, char **argv) {
    NativeOptions options;
    std::string error;
    if (!native_options_parse(argc, argv, &options, &error)) {
        if (error.empty()) {
            std::fputs(kNativeUsage, stdout);
            return 0;
        }
        std::fprintf(stderr, "halcyon_native: %s\n%s", error.c_str(), kNativeUsage);
        return 2;
    }
    // A reader that goes away (the encoder) shows as a failed write, not as a signal.
    signal(SIGPIPE, SIG_IGN);
    if (!event_log_open(options.log)) {
        std::fprintf(stderr, "halcyon_native: cannot write %s\n", options.log);
        return 2;
    }
    // Every path the user gave is taken from the folder the player started in.
    const std::string run_folder = absolute_path(".");
    const std::string capture = options.capture ? absolute_path(options.capture) : "";
    const std::string wait_for = options.wait_for ? absolute_path(options.wait_for) : "";
    const std::string track = options.track ? absolute_path(options.track) : "";
    const std::string sound = options.sound ? absolute_path(options.sound) : "";
    if (options.capture) {
        mkdir(capture.c_str(), 0755);  // an existing folder is fine
        options.capture = capture.c_str();
    }
    if (options.sound) options.sound = sound.c_str();
    if (options.spectrum.kind == SpectrumKind::stream) {
        if (!spectrum_stream_load(options.spectrum, &error)) {
            JsonLine line = json_begin("error");
            json_string(line, "what", "spectrum_stream");
            json_string(line, "text", error.c_str());
            event_write(line);
            event_log_close();
            std::fprintf(stderr, "halcyon_native: spectrum stream %s: %s\n", options.spectrum.path, error.c_str());
            return 2;
        }
        const SpectrumStream &stream = spectrum_stream_loaded();
        if (!options.frames_given) options.frames = int(std::min<uint32_t>(stream.frame_count, 100000000));
        if (!options.channels_given) options.channels = int(stream.channel_count);
    }
    if (options.video && !frame_video_open(options.video)) {
        write_error("video", "cannot open the video output");
        event_log_close();
        return 3;
    }

    const PluginFolderRequest folder = {options.plugin_folder ? options.plugin_folder : program_folder(),
                                        options.options_file, options.width, options.height};
    const std::string plugin_folder = absolute_path(folder.folder.c_str());
    if (!plugin_folder_enter(folder, &error)) {
        write_error("plugin_folder", error.c_str());
        event_log_close();
        return 2;
    }
    LinuxPlatformSetup setup;
    setup.on_screen = options.window;
    setup.gl = options.gl;
    setup.gl_device = options.gl_device;
    setup.parent = player_window();
    setup.answer_parent = player_answer_message;
    setup.answer_box = player_answer_box;
    if (options.clock.enabled) setup.tick_count = virtual_tick_count;
    if (!platform_linux_start(setup, &error)) {
        write_error("window", error.c_str());
        plugin_folder_leave();
        event_log_close();
        return 1;
    }

    event_log_set_phase("load");
    player_setup(options.probe_answer, options.embed, options.track ? track.c_str() : nullptr,
                 options.answers.data(), int(options.answers.size()));
    VisHeader *header = winampVisGetHeader();
    VisModule *module = header->get_module(0);
    log_loaded(header, module);
    player_files_prepare(plugin_folder.c_str(), run_folder.c_str());
    g_clock = options.clock;
    if (g_clock.enabled) {
        JsonLine clock = json_begin("clock");
        json_int(clock, "start", g_clock.start);
        char step[32];
        std::snprintf(step, sizeof step, "%.6f", g_clock.step_ms);
        json_raw(clock, "step_ms", step);
        event_write(clock);
    }
    module->parent_window = player_window();
    module->library_instance = header;  // any token: the seam has one plug-in
    module->sample_rate = options.sample_rate;
    module->channel_count = options.channels;
    spectrum_fill(options.spectrum, 0, module->spectrum_data);
    tell_player_time(options, 0);

    const char *reason = "frames";
    RunTotals totals;
    for (int cycle = 0; cycle < options.cycles; ++cycle) {
        if (options.cycles > 1) {
            JsonLine line = json_begin("cycle");
            json_int(line, "index", cycle);
            event_write(line);
        }
        reason = run_module(options, wait_for, module, cycle, &totals);
        if (totals.init_failed || totals.video_failed) break;
    }

    event_log_set_phase("end");
    JsonLine line = json_begin("end");
    json_string(line, "reason", reason);
    json_int(line, "frames", totals.frames);
    char loop_ms[32];
    std::snprintf(loop_ms, sizeof loop_ms, "%.3f", totals.loop_seconds * 1000);
    json_raw(line, "loop_ms", loop_ms);
    json_int(line, "dialogs", player_boxes_shown());
    json_bool(line, "parent_minimized", platform_linux_parent_minimized());
    event_write(line);
    sound_close();
    platform_linux_stop();
    plugin_folder_leave();
    event_log_close();
    frame_video_close();
    return totals.video_failed ? 3 : totals.init_failed ? 1 : 0;
}
