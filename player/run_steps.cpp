#include "player/run_steps.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "player/player_answers.h"
#include "player/player_platform.h"
#include "player/run_stop.h"
#include "shell/platform.h"

int refuse_command_line(const std::string &error, const char *usage) {
    if (error.empty()) {
        std::fputs(usage, stdout);
        return 0;
    }
    std::fprintf(stderr, "%s: %s\n%s", kProgramName, error.c_str(), usage);
    return 2;
}

bool run_log_open(const char *path) {
    if (event_log_open(path)) return true;
    std::fprintf(stderr, "%s: cannot write %s\n", kProgramName, path);
    return false;
}

static bool g_errors_on_stderr = true;

void log_errors_on_stderr(bool on) { g_errors_on_stderr = on; }

void log_error(const char *what, const char *text) {
    JsonLine line = json_begin("error");
    json_string(line, "what", what);
    json_string(line, "text", text);
    event_write(line);
    if (g_errors_on_stderr) std::fprintf(stderr, "%s: %s\n", kProgramName, text);
}

bool spectrum_stream_prepare(RunOptions *options) {
    if (options->spectrum.kind != SpectrumKind::stream) return true;
    std::string error;
    if (!spectrum_stream_load(options->spectrum, &error)) {
        JsonLine line = json_begin("error");
        json_string(line, "what", "spectrum_stream");
        json_string(line, "text", error.c_str());
        event_write(line);
        event_log_close();
        std::fprintf(stderr, "%s: spectrum stream %s: %s\n", kProgramName, options->spectrum.path, error.c_str());
        return false;
    }
    const SpectrumStream &stream = spectrum_stream_loaded();
    if (stream.live && options->realtime) {
        // Its newest record is already what is heard now: there is no time to follow.
        log_error("spectrum_stream", "a live stream goes without --realtime");
        event_log_close();
        return false;
    }
    // A live stream runs until the user quits or its feeder closes it (INT_MAX frames: years).
    if (!options->frames_given) options->frames = stream.live ? INT_MAX : int(std::min<uint32_t>(stream.frame_count, 100000000));
    if (!options->channels_given) options->channels = int(stream.channel_count);
    return true;
}

VisModule *log_loaded(VisHeader *header, JsonLine &line) {
    VisModule *module = header->get_module(0);
    VisModule *again = header->get_module(0);
    VisModule *one = header->get_module(1);
    VisModule *minus_one = header->get_module(-1);
    json_int(line, "header_version", header->version);
    json_string(line, "description", header->description);
    json_int(line, "module0", reinterpret_cast<intptr_t>(module));
    json_bool(line, "module0_same", module == again);
    json_bool(line, "module1_null", one == nullptr);
    json_bool(line, "module_minus1_null", minus_one == nullptr);
    if (module != nullptr) {
        json_string(line, "module_description", module->description);
        json_int(line, "latency_ms", module->latency_ms);
        json_int(line, "delay_ms", module->delay_ms);
        json_int(line, "spectrum_channels", module->spectrum_channels);
        json_int(line, "waveform_channels", module->waveform_channels);
        json_bool(line, "user_data_null", module->user_data == nullptr);
    }
    event_write(line);
    return module;
}

void json_clock(JsonLine &line, const VirtualClockSetting &clock) {
    json_int(line, "start", clock.start);
    char step[32];
    std::snprintf(step, sizeof step, "%.6f", clock.step_ms);
    json_raw(line, "step_ms", step);
}

static uint32_t g_live_started_ms = 0;

// Where in the track a row of the stream lies, and the track's length, for the plug-in's questions.
static void tell_player_time(const RunOptions &options, long long row) {
    if (options.spectrum.kind != SpectrumKind::stream) return;
    const SpectrumStream &stream = spectrum_stream_loaded();
    if (stream.live) {  // no track: the time since the run began, and no length
        player_set_time(uint32_t(std::llround(seconds_now() * 1000)) - g_live_started_ms, 0);
        return;
    }
    const double position = stream.start_ms + double(row) * 1000.0 * stream.rate_denominator / stream.rate_numerator;
    player_set_time(uint32_t(std::min<double>(std::llround(position), stream.length_ms)),
                    (stream.length_ms + 500) / 1000);
}

void feed_frame(const RunOptions &options, VisModule *module, long long row) {
    spectrum_stream_take_live();
    spectrum_fill(options.spectrum, int(row), module->spectrum_data);
    waveform_fill(options.spectrum, int(row), module->waveform_channels, module->waveform_data);
    virtual_clock_set_frame(row);
    tell_player_time(options, row);
}

void module_setup(VisModule *module, const RunOptions &options, void *parent_window, void *library_instance) {
    module->parent_window = parent_window;
    module->library_instance = library_instance;
    module->sample_rate = options.sample_rate;
    module->channel_count = options.channels;
    g_live_started_ms = uint32_t(std::llround(seconds_now() * 1000));
    spectrum_fill(options.spectrum, 0, module->spectrum_data);
    tell_player_time(options, 0);
}

void log_cycle(const RunOptions &options, int cycle) {
    if (options.cycles < 2) return;
    JsonLine line = json_begin("cycle");
    json_int(line, "index", cycle);
    event_write(line);
}

bool start_module(const RunOptions &options, VisModule *module, bool *quit_seen, RunTotals *totals) {
    virtual_clock_set_frame(0);
    event_log_set_phase("init");
    const int result = module->init(module);
    JsonLine line = json_begin("init");
    json_int(line, "result", result);
    json_int(line, "delay_ms", module->delay_ms);
    if (result != 0) {  // what a failed Init left behind
        json_bool(line, "render_window_alive", registered_window_alive());
        json_bool(line, "window_class_registered", registered_class_alive());
    }
    event_write(line);
    *quit_seen = pump_messages(0);
    if (result == 0) return true;
    totals->init_failed = true;
    if (options.quit_after_failed_init) quit_module(module);
    return false;
}

void quit_module(VisModule *module) {
    event_log_set_phase("quit");
    module->quit(module);
    JsonLine line = json_begin("quit");
    json_bool(line, "returned", true);
    json_bool(line, "render_window_alive", registered_window_alive());
    json_bool(line, "window_class_registered", registered_class_alive());
    json_process_figures(line);
    event_write(line);
}

bool wait_for_start(const char *path, const char **reason) {
    JsonLine ready = json_begin("ready");
    event_write(ready);
    const double give_up = seconds_now() + 120;
    while (!file_exists(path)) {
        if (run_stop_signal() != 0) {
            *reason = "interrupted";
            return false;
        }
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

void log_quit_message(long long exit_code, int after_frames, const char *cause) {
    JsonLine line = json_begin("quit_message");
    json_string(line, "phase", event_log_phase());
    json_int(line, "exit_code", exit_code);
    json_int(line, "after_frames", after_frames);
    if (cause != nullptr) json_string(line, "cause", cause);
    event_write(line);
}

static void poke(const char *what, uint32_t message, uintptr_t wparam, intptr_t lparam, int frame) {
    JsonLine line = json_begin("poke");
    json_string(line, "what", what);
    json_int(line, "frame", frame);
    bool posted = false;
    json_int(line, "window", post_to_render_window(message, wparam, lparam, &posted));
    json_bool(line, "posted", posted);
    event_write(line);
}

bool poke_before_frame(const RunOptions &options, int frame) {
    if (frame == options.escape_at) poke("escape", win32::WM_KEYDOWN, win32::VK_ESCAPE, 0x00010001, frame);
    if (frame == options.close_at) poke("close", win32::WM_CLOSE, 0, 0, frame);
    return (frame == options.escape_at || frame == options.close_at) && pump_messages(frame);
}

void log_pacing(bool wall, bool gl_on_player_thread) {
    JsonLine line = json_begin("pacing");
    json_string(line, "mode", wall ? "wall" : "clock");
    json_bool(line, "gl_on_host_thread", gl_on_player_thread);
    event_write(line);
}

void log_end(const char *reason, const RunTotals &totals, int dialogs, bool parent_minimized) {
    JsonLine line = json_begin("end");
    json_string(line, "reason", reason);
    json_int(line, "frames", totals.frames);
    char loop_ms[32];
    std::snprintf(loop_ms, sizeof loop_ms, "%.3f", totals.loop_seconds * 1000);
    json_raw(line, "loop_ms", loop_ms);
    json_int(line, "dialogs", dialogs);
    json_bool(line, "parent_minimized", parent_minimized);
    event_write(line);
}
