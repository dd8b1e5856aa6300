#include "native/listen_command.h"

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "audio/live_capture.h"
#include "audio/sound_sources.h"
#include "native/frame_output.h"
#include "native/install_paths.h"
#include "native/listen_options.h"
#include "native/live_rows.h"
#include "native/player_window.h"
#include "native/plugin_folder.h"
#include "native/stop_signals.h"
#include "player/dialog_answers.h"
#include "player/event_log.h"
#include "player/frame_loop.h"
#include "player/player_platform.h"
#include "player/run_steps.h"
#include "player/run_stop.h"
#include "shell/module_export.h"
#include "settings/user_options.h"
#include "shell/platform_linux.h"

namespace {

const char *g_name = "listen";  // argv[0]: begins every line on stderr

void say(const std::string &line) { std::fprintf(stderr, "%s: %s\n", g_name, line.c_str()); }

int fail(const std::string &line, int status) {
    say(line);
    return status;
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
    struct stat info;
    if (errno == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
    *error = "cannot make the capture folder " + path + ": " + std::strerror(errno == EEXIST ? ENOTDIR : errno);
    return false;
}

// The options file's record, as the plug-in reads it: its first 56 bytes.
bool read_options_record(const std::string &path, UserOptions *record, std::string *error) {
    FILE *file = std::fopen(path.c_str(), "rb");
    const size_t length = file ? std::fread(record, 1, sizeof *record, file) : 0;
    if (file) std::fclose(file);
    if (length == sizeof *record) return true;
    *error = file ? "the options file " + path + " holds " + std::to_string(length) +
                        " bytes; an options file (useropt.cfg) holds " + std::to_string(sizeof *record)
                  : "cannot read the options file " + path + ": " + std::strerror(errno);
    return false;
}

LiveCapture *g_capture = nullptr;

// Once the plug-in is up: a failed Init is the one line said then.
void say_what_is_captured() {
    const LiveCaptureStatus status = live_capture_status(g_capture);
    if (status.source.empty()) {
        say("connected to " + status.server + "; no output to capture yet, waiting for one");
        return;
    }
    say("showing " + status.source + " (" + status.source_description + ") from " + status.server +
        (status.following_default ? ", following the default output" : ""));
}

// The plug-in's folder and the seam's display, before anything is captured: a missing display is
// the one line said.
bool prepare_player(const ListenOptions &options, const std::string &asset_folder, const std::string &options_file,
                    std::string *error) {
    PluginFolderRequest folder = {asset_folder, options_file.c_str(), options.width, options.height};
    folder.asset_folder = asset_folder;
    UserOptions record;
    if (!read_options_record(options_file, &record, error)) return false;
    if (options.fullscreen) record.fullscreen = 1;
    folder.record = &record;
    if (!plugin_folder_enter(folder, error)) return false;
    LinuxPlatformSetup setup;
    setup.on_screen = true;
    setup.parent = player_window();
    setup.answer_parent = player_answer_message;
    setup.answer_box = player_answer_box;
    if (platform_linux_start(setup, error)) return true;
    plugin_folder_leave();
    return false;
}

// The plug-in in its window, fed by the capture, until the user quits.
int run_plugin(const ListenOptions &options, LiveCapture *capture, const std::string &run_folder,
               const std::string &capture_path) {
    const std::string plugin_folder = absolute_path(".");
    RunOptions run;
    run.realtime = true;
    run.frames = options.frames;
    run.capture = capture_path.empty() ? nullptr : capture_path.c_str();
    // The plug-in asks of each display whether to fill it: the first one.
    const int yes = win32::IDYES;
    player_boxes_setup(&yes, options.fullscreen ? 1 : 0);
    event_log_set_phase("load");
    player_setup(run.probe_answer, run.embed, nullptr, kLinuxPlayerPlatform);
    VisHeader *header = winampVisGetHeader();
    JsonLine loaded = json_begin("loaded");
    json_null(loaded, "dll");  // built in
    VisModule *module = log_loaded(header, loaded);
    player_files_prepare(plugin_folder, run_folder);
    module_setup(module, run, player_window(), header);

    LiveRowsSetup rows;
    rows.capture = capture;
    rows.frames = options.frames;
    rows.sound_latency = options.sound_latency_ms / 1000.0;
    rows.notice = say;
    rows.before_frames = say_what_is_captured;
    live_rows_use(rows);
    const FrameOutlet outlet = {frame_capture, video_out_begin, video_out_frame};
    RunTotals totals;
    const char *reason = run_module(run, module, 0, kLivePacing, rows_of_live_capture(), outlet, &totals);
    event_log_set_phase("end");
    log_end(reason, totals, player_boxes_shown(), platform_linux_parent_minimized());
    if (run_stop_signal()) return 128 + run_stop_signal();
    return totals.capture_failed ? 3 : totals.init_failed ? 1 : 0;
}

}  // namespace

int listen_command(int argc, char **argv) {
    g_name = argv[0];
    ListenOptions options;
    std::string error;
    if (!listen_options_parse(argc, argv, &options, &error)) {
        if (!error.empty()) return fail(error, 2);
        std::fputs(kListenUsage, stdout);
        return 0;
    }
    if (options.list_sources) return list_sources();
    // From here on Ctrl-C, SIGTERM and a closed terminal end the run as the user's quit does.
    stop_signals_install();
    signal(SIGPIPE, SIG_IGN);
    // Every path the user gave is taken from the folder the command started in.
    const std::string capture_path = options.capture ? absolute_path(options.capture) : "";
    const std::string log_path = options.log ? absolute_path(options.log) : "/dev/null";
    std::string asset_folder, options_file;
    if (!choose_asset_folder(options.assets, &asset_folder, &error)) return fail(error, 1);
    asset_folder = absolute_path(asset_folder.c_str());
    if (options.options_file) options_file = absolute_path(options.options_file);
    else if (!user_options_file(&options_file, &error)) return fail(error, 1);
    if (!capture_path.empty() && !capture_folder_make(capture_path, &error)) return fail(error, 3);
    if (!event_log_open(log_path.c_str())) return fail("cannot write " + log_path, 2);

    const std::string run_folder = absolute_path(".");
    if (!prepare_player(options, asset_folder, options_file, &error)) {
        event_log_close();
        return fail(error, 1);
    }
    LiveCaptureOptions capture_options;
    capture_options.source = options.source;
    LiveCapture *capture = live_capture_open(capture_options, &error);
    int status = 1;
    g_capture = capture;
    if (capture) status = run_plugin(options, capture, run_folder, capture_path);
    platform_linux_stop();
    plugin_folder_leave();
    live_capture_close(capture);
    event_log_close();
    return capture ? status : fail(error, 1);
}
