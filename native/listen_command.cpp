#include "native/listen_command.h"

#include <signal.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/live_capture.h"
#include "audio/sound_sources.h"
#include "native/frame_output.h"
#include "native/install_paths.h"
#include "native/listen_options.h"
#include "native/listen_recording.h"
#include "native/live_rows.h"
#include "native/player_window.h"
#include "native/player_session.h"
#include "native/plugin_folder.h"
#include "native/render_checks.h"
#include "native/stop_signals.h"
#include "player/dialog_answers.h"
#include "player/event_log.h"
#include "player/frame_loop.h"
#include "player/run_steps.h"
#include "player/run_stop.h"
#include "shell/platform_linux.h"

namespace {

const char kWho[] = "halcyonsphere listen";

LiveCapture *g_capture = nullptr;

int fail(const std::string &text, int status) {
    std::fprintf(stderr, "%s: %s\n", kWho, text.c_str());
    return status;
}

// What the user is told on the way, as play tells it.
void say(const std::string &text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void tell_notice(const std::string &line) {
    std::string text = line;
    if (!text.empty()) text[0] = char(std::toupper(static_cast<unsigned char>(text[0])));
    say(text + ".");
}

int list_sources() {
    SoundSourceList list;
    std::string error;
    if (!sound_sources_list(&list, &error)) return fail(error, 1);
    std::fputs(sound_sources_text(list).c_str(), stdout);
    return 0;
}

bool capture_folder_make(const std::string &path, std::string *error) {
    if (mkdir(path.c_str(), 0755) == 0) return true;
    const int reason = errno;
    struct stat info;
    if (reason == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
    *error = "cannot make the capture folder " + path + ": " + std::strerror(reason == EEXIST ? ENOTDIR : reason);
    return false;
}

// Once the plug-in is up, so that a failed Init is what is said instead.
void say_what_is_shown() {
    const std::string drawn = player_session_renderer();
    if (!drawn.empty()) say("Drawn with " + drawn + ".");
    const LiveCaptureStatus status = live_capture_status(g_capture);
    if (status.source.empty()) {
        say("Connected to " + status.server + "; no output to capture yet, waiting for one.");
        return;
    }
    say("Showing " + status.source + " (" + status.source_description + ") from " + status.server +
        (status.following_default ? ", following the default output" : "") +
        "; Escape or closing the window ends it.");
}

std::string g_capture_error;  // why the last frame read could not be written

CaptureResult capture_frame(const char *folder, int frame_index) {
    CaptureResult result = frame_capture(folder, frame_index);
    if (!result.captured && result.source) g_capture_error = result.error;
    return result;
}

// A lost context shows nothing more: the run ends with it.
const char *context_lost() { return platform_linux_gl_lost() ? "gl_lost" : nullptr; }

}  // namespace

int listen_command(int argc, char **argv) {
    // Until the frames run nothing needs winding down: a signal ends it at once.
    stop_signals_install();
    stop_signals_exit_at_once(true);
    signal(SIGPIPE, SIG_IGN);
    log_errors_on_stderr(false);
    ListenOptions options;
    std::string error;
    if (!listen_options_parse(argc, argv, &options, &error)) return fail(error, 2);
    if (options.help) {
        std::fputs(kListenUsage, stdout);
        return 0;
    }
    if (options.list_sources) return list_sources();

    std::string options_path = options.options_file;
    if (options_path.empty() && !user_options_file(&options_path, &error)) return fail(error, 1);
    UserOptions record;
    if (!read_options_file(options_path, &record, &error)) return fail(error, 1);
    if (options.width > 0) {
        record.width = options.width;
        record.height = options.height;
    }
    if (options.fullscreen) record.fullscreen = 1;
    const char *display = std::getenv("DISPLAY"), *wayland = std::getenv("WAYLAND_DISPLAY");
    if (!(display && *display) && !(wayland && *wayland))
        return fail("listen shows the visualization in a window and needs a display (neither DISPLAY nor "
                    "WAYLAND_DISPLAY is set)",
                    1);
    std::string assets;
    if (!choose_asset_folder(options.assets.empty() ? nullptr : options.assets.c_str(), &assets, &error))
        return fail(error, 1);
    const std::string capture_path = options.capture.empty() ? "" : absolute_path(options.capture.c_str());
    const bool recording = !options.record.empty();
    bool usage = false;
    if (recording && !recording_check(options.record, {options_path}, &error, &usage)) return fail(error, usage ? 2 : 1);
    if (!capture_path.empty() && !capture_folder_make(capture_path, &error)) return fail(error, 1);

    PlayerSession session;
    session.asset_folder = assets;
    session.options = record;
    session.window = true;
    if (!options.log.empty()) session.log = absolute_path(options.log.c_str());
    RunOptions &run = session.run;
    run.realtime = true;
    run.delay_override = 0;  // the display's refresh, which the swap waits for, paces the frames
    run.frames = options.frames;
    run.capture = capture_path.empty() ? nullptr : capture_path.c_str();
    run.video = recording ? "recording" : nullptr;  // the outlet below: the name is not opened
    // The plug-in asks of each display whether to fill it: the first one.
    if (options.fullscreen) run.answers = {win32::IDYES};
    VisModule *module = nullptr;
    if (!player_session_start(&session, &module, &error)) return fail(error, 1);
    LiveCaptureOptions capture_options;
    capture_options.source = options.source.empty() ? nullptr : options.source.c_str();
    g_capture = live_capture_open(capture_options, &error);
    if (!g_capture || (recording && !recording_open(g_capture, &error))) {
        player_session_end();
        live_capture_close(g_capture);
        return fail(error, 1);
    }
    // Captures and the recording take each frame as the swap showed it (BGRA is the video's order).
    platform_linux_keep_frames(run.capture || recording, recording);

    LiveRowsSetup rows;
    rows.capture = g_capture;
    rows.frames = options.frames;
    rows.sound_latency = options.sound_latency_ms / 1000.0;
    rows.notice = tell_notice;
    rows.before_frames = say_what_is_shown;
    rows.cannot_go_on = context_lost;
    live_rows_use(rows);
    stop_signals_exit_at_once(false);
    const FrameOutlet outlet = {capture_frame, recording_begin, recording_frame};
    RunTotals totals;
    const char *reason = run_module(run, module, 0, kLivePacing, rows_of_live_capture(), outlet, &totals);
    event_log_set_phase("end");
    log_end(reason, totals, player_boxes_shown(), platform_linux_parent_minimized());
    const std::string box = player_session_last_box();
    const char *lost = platform_linux_gl_lost();
    const std::string lost_text = lost ? lost : "";
    player_session_end();
    std::string why;
    if (totals.init_failed) why = "the plug-in failed to start" + (box.empty() ? "" : ": \"" + box + "\"");
    else if (!lost_text.empty()) why = "the GL context was lost: " + lost_text;
    else if (totals.capture_failed) why = g_capture_error;
    else if (totals.video_failed && !recording_finish(&why)) why = "the recording failed: " + why;
    else if (std::strcmp(reason, "quit_message") != 0 && std::strcmp(reason, "render_ended") != 0 &&
             std::strcmp(reason, "stream_end") != 0)
        why = std::string("the plug-in stopped: ") + reason;
    if (run_stop_signal() == 0 && why.empty() && recording && !recording_finish(&error)) {
        if (run_stop_signal() == 0) why = error;
    } else if (recording && (run_stop_signal() != 0 || !why.empty())) {
        recording_discard();
    }
    live_capture_close(g_capture);  // after the recording took the last of the sound
    g_capture = nullptr;
    const char *nothing = recording ? "; nothing was written under the output name" : "";
    if (run_stop_signal() != 0) return fail(std::string("interrupted") + nothing, 128 + run_stop_signal());
    if (!why.empty()) return fail(why + nothing, 1);
    if (recording) say(recording_summary());
    return 0;
}
