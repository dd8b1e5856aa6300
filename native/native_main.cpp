// halcyon_native: the Halcyonsphere visualization as a native Linux program. It drives the plug-in,
// linked in, as the player does, over the Linux platform seam, and writes the Windows host's
// events (host/host_main.cpp), one JSON object per line:
//   loaded, player_files, [clock,] [cycle,] init, [gl,] [sound,] [ready,] [pacing,] frame,
//   capture..., quit_message, poke, quit, end; and from inside the plug-in's calls message_box and
//   host_message. error when the spectrum stream is bad, the video fails or nothing can be shown.
#include <signal.h>
#include <sys/stat.h>

#include <GL/gl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "native/frame_output.h"
#include "native/native_options.h"
#include "native/player_window.h"
#include "native/plugin_folder.h"
#include "native/sound_out.h"
#include "player/event_log.h"
#include "player/player_platform.h"
#include "player/run_steps.h"
#include "shell/module_export.h"
#include "shell/platform_linux.h"

namespace {

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

void start_sound(const char *sound) {
    if (!sound || g_sound) return;
    std::string error;
    const double start = spectrum_stream_loaded().start_ms / 1000.0;
    g_sound = sound_open(sound, start, &error);
    JsonLine line = json_begin("sound");
    json_bool(line, "playing", g_sound);
    if (!g_sound) json_string(line, "text", error.c_str());
    event_write(line);
    if (!g_sound) std::fprintf(stderr, "%s: %s: playing silently\n", kProgramName, error.c_str());
}

// Init, the frames, Quit. Returns the reason the run ended.
const char *run_module(const NativeOptions &native, VisModule *module, int cycle, RunTotals *totals) {
    const RunOptions &options = native.run;
    bool quit_seen = false;
    if (!start_module(options, module, &quit_seen, totals)) return "init_failed";
    log_renderer();
    start_sound(native.sound);

    if (options.video) video_out_begin();
    const char *reason = nullptr;
    if (!quit_seen && options.wait_for && !wait_for_start(options.wait_for, &reason))
        quit_seen = std::strcmp(reason, "quit_message") == 0;
    // Our plug-in draws with GL on this thread: its frames are read as soon as Render returns.
    const bool wall = options.pacing == Pacing::wall;
    if (options.pacing != Pacing::clock) log_pacing(wall, true);
    event_log_set_phase("render");
    const SpectrumStream &stream = spectrum_stream_loaded();
    if (g_sound && !quit_seen && !reason) sound_start();
    const double started = seconds_now();
    int frame = 0;
    player_set_playing(true);
    while (!reason && !quit_seen && (options.realtime || frame < options.frames)) {
        if (poke_before_frame(options, frame)) {
            quit_seen = true;
            break;
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
        if (wall) sleep_seconds(started + (frame + 1) * options.clock.step_ms / 1000 - seconds_now());
        reason = finish_frame(options, cycle, &frame, result, row, totals);
        if (reason != nullptr) break;
        quit_seen = pump_messages(frame);
        if (quit_seen || (!options.realtime && frame >= options.frames)) break;
        const int delay = options.delay_override >= 0 ? options.delay_override : module->delay_ms;
        if (delay > 0 && !wall) sleep_seconds(delay / 1000.0);
    }
    totals->loop_seconds = seconds_now() - started;
    totals->frames = frame;
    player_set_playing(false);
    quit_module(module);
    pump_messages(frame);
    render_after_quit(options, module, frame);
    if (reason) return reason;
    return quit_seen ? "quit_message" : "frames";
}

}  // namespace

const char kProgramName[] = "halcyon_native";

intptr_t post_to_render_window(uint32_t message, uintptr_t wparam, intptr_t lparam, bool *posted) {
    WindowHandle target = player_registered_window();
    *posted = target && platform_linux_post(target, message, wparam, lparam);
    return reinterpret_cast<intptr_t>(target);
}

int main(int argc, char **argv) {
    NativeOptions options;
    std::string error;
    if (!native_options_parse(argc, argv, &options, &error)) return refuse_command_line(error, kNativeUsage);
    RunOptions &run = options.run;
    // A reader that goes away (the encoder) shows as a failed write, not as a signal.
    signal(SIGPIPE, SIG_IGN);
    if (!run_log_open(run.log)) return 2;
    // Every path the user gave is taken from the folder the player started in.
    const std::string run_folder = absolute_path(".");
    const std::string capture = run.capture ? absolute_path(run.capture) : "";
    const std::string wait_for = run.wait_for ? absolute_path(run.wait_for) : "";
    const std::string track = run.track ? absolute_path(run.track) : "";
    const std::string sound = options.sound ? absolute_path(options.sound) : "";
    if (run.capture) {
        mkdir(capture.c_str(), 0755);  // an existing folder is fine
        run.capture = capture.c_str();
    }
    if (run.wait_for) run.wait_for = wait_for.c_str();
    if (run.track) run.track = track.c_str();
    if (options.sound) options.sound = sound.c_str();
    if (!spectrum_stream_prepare(&run)) return 2;
    if (run.video && !video_out_open(run.video)) {
        log_error("video", "cannot open the video output");
        event_log_close();
        return 3;
    }

    const PluginFolderRequest folder = {options.plugin_folder ? options.plugin_folder : program_folder(),
                                        options.options_file, options.width, options.height};
    const std::string plugin_folder = absolute_path(folder.folder.c_str());
    if (!plugin_folder_enter(folder, &error)) {
        log_error("plugin_folder", error.c_str());
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
    if (run.clock.enabled) setup.tick_count = virtual_clock_now;
    if (!platform_linux_start(setup, &error)) {
        log_error("window", error.c_str());
        plugin_folder_leave();
        event_log_close();
        return 1;
    }

    event_log_set_phase("load");
    player_setup(run.probe_answer, run.embed, run.track, kLinuxPlayerPlatform);
    player_boxes_setup(run.answers.data(), int(run.answers.size()));
    VisHeader *header = winampVisGetHeader();
    JsonLine loaded = json_begin("loaded");
    json_null(loaded, "dll");  // built in
    VisModule *module = log_loaded(header, loaded);
    player_files_prepare(plugin_folder, run_folder);
    virtual_clock_use(run.clock);
    if (run.clock.enabled) {
        JsonLine clock = json_begin("clock");
        json_clock(clock, run.clock);
        event_write(clock);
    }
    module_setup(module, run, player_window(), header);  // any instance token: the seam has one plug-in

    const char *reason = "frames";
    RunTotals totals;
    for (int cycle = 0; cycle < run.cycles; ++cycle) {
        log_cycle(run, cycle);
        reason = run_module(options, module, cycle, &totals);
        if (totals.init_failed || totals.video_failed) break;
    }

    event_log_set_phase("end");
    log_end(reason, totals, player_boxes_shown(), platform_linux_parent_minimized());
    sound_close();
    platform_linux_stop();
    plugin_folder_leave();
    event_log_close();
    video_out_close();
    return totals.video_failed ? 3 : totals.init_failed ? 1 : 0;
}
