// halcyon_native: the Halcyonsphere visualization as a native Linux program. It drives the plug-in,
// linked in, as the player does, over the Linux platform seam, and writes the Windows host's
// events (host/host_main.cpp), one JSON object per line:
//   loaded, player_files, [clock,] [cycle,] init, [gl,] [sound,] [ready,] [pacing,] frame,
//   capture..., quit_message, poke, quit, [sound_latency,] end; and from inside the plug-in's
//   calls message_box and host_message. error when the spectrum stream is bad, a capture or the
//   video cannot be written, nothing can be shown or the GL context was lost.
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "native/frame_output.h"
#include "native/native_options.h"
#include "native/native_pacing.h"
#include "native/player_window.h"
#include "native/plugin_folder.h"
#include "native/sound_out.h"
#include "native/stop_signals.h"
#include "player/event_log.h"
#include "player/frame_loop.h"
#include "player/player_platform.h"
#include "player/run_steps.h"
#include "player/run_stop.h"
#include "shell/module_export.h"
#include "shell/platform_linux.h"

const char kProgramName[] = "halcyon_native";

// The capture folder, made unless it is there; false after an "error" event and a line on stderr.
static bool capture_folder_make(const char *path) {
    struct stat info;
    if (mkdir(path, 0755) == 0 || (errno == EEXIST && stat(path, &info) == 0 && S_ISDIR(info.st_mode))) return true;
    const int reason = errno;
    const std::string why = reason == EEXIST ? "it exists and is not a folder" : std::strerror(reason);
    const std::string text = std::string("cannot make the capture folder ") + path + ": " + why;
    log_error("capture", text.c_str());
    event_log_close();
    return false;
}

int main(int argc, char **argv) {
    // From the first moment on, Ctrl-C, SIGTERM and a closed terminal end the run cleanly.
    stop_signals_install();
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
        if (!capture_folder_make(capture.c_str())) return 3;
        run.capture = capture.c_str();
    }
    if (run.wait_for) run.wait_for = wait_for.c_str();
    if (run.track) run.track = track.c_str();
    if (options.sound) options.sound = sound.c_str();
    // The sound is read by the sound thread once frames run: a FIFO or a device would hold it.
    struct stat sound_info;
    if (options.sound && stat(options.sound, &sound_info) == 0 && !S_ISREG(sound_info.st_mode)) {
        log_error("sound", (std::string("the sound ") + options.sound + " is not a regular file").c_str());
        event_log_close();
        return 2;
    }
    if (!spectrum_stream_prepare(&run)) return 2;
    if (run.video && !video_out_open(run.video)) {
        const std::string text = std::string("cannot open the video output ") + run.video + ": " + std::strerror(errno);
        log_error("video", text.c_str());
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
    // Captures and the video take each frame as the swap showed it (BGRA is the video's order).
    platform_linux_keep_frames(run.capture || run.video, run.video != nullptr);
    if (options.lose_gl_at >= 0) platform_linux_fail_swap(options.lose_gl_at);

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

    native_pacing_play(options.sound);
    sound_extra_latency(options.sound_latency_ms / 1000.0);
    const RowSource rows = rows_of_spectrum();
    const FrameOutlet outlet = {frame_capture, video_out_begin, video_out_frame};
    const char *reason = "frames";
    RunTotals totals;
    for (int cycle = 0; cycle < run.cycles; ++cycle) {
        log_cycle(run, cycle);
        reason = run_module(run, module, cycle, kNativePacing, rows, outlet, &totals);
        if (totals.init_failed || totals.video_failed || totals.capture_failed || totals.stream_failed || run_stop_signal()) break;
    }

    event_log_set_phase("end");
    log_end(reason, totals, player_boxes_shown(), platform_linux_parent_minimized());
    const bool gl_lost = platform_linux_gl_lost() != nullptr;
    sound_close();
    platform_linux_stop();
    plugin_folder_leave();
    event_log_close();
    video_out_close();
    if (run_stop_signal()) return 128 + run_stop_signal();
    return totals.video_failed || totals.capture_failed ? 3 : totals.stream_failed ? 2 : totals.init_failed || gl_lost ? 1 : 0;
}
