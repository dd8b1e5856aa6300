// halcyonsphere play AUDIO: the visualization live in a window on the user's display, with the
// sound; each frame takes the rows of the sample being heard, analysed in this process.
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "native/analysis_rows.h"
#include "native/command_line.h"
#include "native/install_paths.h"
#include "native/native_commands.h"
#include "native/player_session.h"
#include "native/plugin_folder.h"
#include "native/render_checks.h"
#include "native/sound_out.h"
#include "native/stop_signals.h"
#include "player/frame_loop.h"
#include "player/player_platform.h"
#include "player/run_steps.h"
#include "player/run_stop.h"
#include "shell/platform_linux.h"

namespace {

const char kPlayUsage[] =
    "usage: halcyonsphere play AUDIO [options]\n"
    "The visualization of AUDIO live in a window on your display (DISPLAY or WAYLAND_DISPLAY), with\n"
    "its sound where there is an output for it. Escape or closing the window ends it.\n"
    "  --start S        where in the audio to begin, in seconds (default 0)\n"
    "  --size WxH       the window, 16 to 4096 a side (default: the options file's)\n"
    "  --options FILE   the plug-in's options (a useropt.cfg) for this run (default: yours,\n"
    "                   ~/.config/halcyonsphere/useropt.cfg)\n"
    "  --assets DIR     an asset folder of your own instead of the installed one\n"
    "  --sound-latency MS  the sound output's delay that no API reports (a Bluetooth headset's\n"
    "                   own, often 100 to 250), 0 to 10000; the sound server's is taken off anyway\n"
    "  --log FILE       the plug-in's events, one JSON object per line\n"
    "A name beginning with - goes after --. Exit status: 0 played, 1 a failure, 2 a bad command\n"
    "line, 128 + N stopped by signal N.\n";

const char kWho[] = "halcyonsphere play";
constexpr uint32_t kRowsPerSecond = 60;  // finer than any frame rate the plug-in reaches here

std::string g_audio;
double g_start = 0, g_length = 0;
bool g_sound = false, g_tty = false, g_status_drawn = false;
double g_last_status = 0;

int fail(const std::string &text, int status) {
    if (g_status_drawn) std::fputs("\n", stderr);
    g_status_drawn = false;
    std::fprintf(stderr, "%s: %s\n", kWho, text.c_str());
    return status;
}

void say(const std::string &text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void after_init(const RunOptions &) {
    const std::string drawn = player_session_renderer();
    if (!drawn.empty()) say("Drawn with " + drawn + ".");
    std::string error;
    g_sound = sound_open(g_audio.c_str(), g_start, &error);
    if (!g_sound && !error.empty()) error[0] = char(std::toupper(static_cast<unsigned char>(error[0])));
    if (!g_sound) say(error + ": playing silently.");
    say("Playing " + g_audio.substr(g_audio.find_last_of('/') + 1) + " (" + duration_text(g_length) +
        ") live; Escape or closing the window ends it.");
}

void start(const RunOptions &, bool frames_follow, FrameTiming *) {
    if (g_sound && frames_follow) sound_start();
}

bool after_render(const RunOptions &, int, FrameTiming *timing) {
    const double now = seconds_now();
    if (g_tty && now - g_last_status >= 0.25) {
        g_last_status = now;
        const std::string line = "\r  " + duration_text(now - timing->started) + " / " + duration_text(g_length) + " ";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
        g_status_drawn = true;
    }
    return false;
}

// The sound being heard, or without one the clock.
bool time_played(const FrameTiming &timing, double *seconds) {
    *seconds = g_sound ? sound_heard_seconds() : seconds_now() - timing.started;
    return !g_sound || !sound_finished();
}

// A lost GL context shows nothing more: the run ends, and says why at its end.
std::string g_lost;
const char *context_lost() {
    const char *lost = platform_linux_gl_lost();
    if (!lost) return nullptr;
    g_lost = lost;
    return "gl_lost";
}

CaptureResult no_capture(const char *, int) { return CaptureResult(); }
bool no_video_begin() { return true; }
bool no_video_frame(std::string *) { return true; }

}  // namespace

int play_command(int argc, char **argv) {
    stop_signals_install();
    stop_signals_exit_at_once(true);
    signal(SIGPIPE, SIG_IGN);
    log_errors_on_stderr(false);
    static const std::vector<OptionRule> kOptions = {{"--start", true},   {"--size", true}, {"--options", true},
                                                     {"--assets", true},  {"--log", true},  {"--wine", false},
                                                     {"--plugin", true},  {"--sound-latency", true}};
    ParsedLine line;
    std::string error;
    if (!command_line_parse(argc, argv, kOptions, &line, &error)) return fail(error, 2);
    if (line.help) {
        std::fputs(kPlayUsage, stdout);
        return 0;
    }
    if (command_line_flag(line, "--wine") || command_line_flag(line, "--plugin"))
        return fail("--wine and --plugin run a DLL under Wine, which ./halcyon does in a checkout; this program "
                    "plays the plug-in built in",
                    2);
    if (line.arguments.size() != 1)
        return fail(line.arguments.empty() ? "name the audio file to play" : "name one audio file, not " +
                                                                                   std::to_string(line.arguments.size()),
                    2);
    const std::string audio = line.arguments[0];
    const std::string *value = nullptr;
    if ((value = command_line_value(line, "--start")) && !parse_seconds_value(*value, "start", true, &g_start, &error))
        return fail(error, 2);
    if ((value = command_line_value(line, "--sound-latency"))) {
        char *end = nullptr;
        const double ms = std::strtod(value->c_str(), &end);
        if (value->empty() || *end != '\0' || !(ms >= 0 && ms <= 10000))
            return fail("--sound-latency takes milliseconds from 0 to 10000, not \"" + *value + "\"", 2);
        sound_extra_latency(ms / 1000);
    }
    int width = 0, height = 0;
    if ((value = command_line_value(line, "--size")) && !parse_size_value(*value, false, &width, &height, &error))
        return fail(error, 2);
    std::string options_path;
    if ((value = command_line_value(line, "--options"))) options_path = *value;
    else if (!user_options_file(&options_path, &error)) return fail(error, 1);
    UserOptions options;
    if (!read_options_file(options_path, &options, &error)) return fail(error, 1);
    if (width > 0) {
        options.width = width;
        options.height = height;
    }
    if (!check_regular_file(audio, "the audio file", &error)) return fail(error, 1);
    const char *display = std::getenv("DISPLAY"), *wayland = std::getenv("WAYLAND_DISPLAY");
    if (!(display && *display) && !(wayland && *wayland))
        return fail("play shows the visualization in a window and needs a display (neither DISPLAY nor "
                    "WAYLAND_DISPLAY is set); halcyonsphere render makes a video instead",
                    1);
    std::string assets;
    const std::string *own_assets = command_line_value(line, "--assets");
    if (!choose_asset_folder(own_assets ? own_assets->c_str() : nullptr, &assets, &error)) return fail(error, 1);

    g_audio = absolute_path(audio.c_str());
    AnalysisRequest request;
    request.audio_path = g_audio.c_str();
    request.rate_numerator = kRowsPerSecond;
    request.start_seconds = g_start;
    AnalysisResult analysis;
    if (!analysis_rows_open(request, &analysis)) return fail(analysis.error, 1);
    if (analysis.frames == 0) {
        analysis_rows_close();
        return fail("nothing to play: " + audio + " holds " + duration_text(analysis.file_seconds) +
                        " of sound, and --start is at its end or after it",
                    1);
    }
    if (analysis.cut_short)
        say("Note: " + audio + " is cut short: its sound ends at " + duration_text(analysis.file_seconds) +
            ", though its header says " + duration_text(analysis.header_seconds) + "; playing what it holds.");
    g_length = double(analysis.frames) / kRowsPerSecond;
    g_tty = isatty(STDERR_FILENO) == 1;

    PlayerSession session;
    session.asset_folder = assets;
    session.options = options;
    session.window = true;
    if (const std::string *log = command_line_value(line, "--log")) {
        // The event log is written over: never one of the inputs.
        for (const std::string &input : {audio, options_path})
            if (same_file(*log, input)) return fail("the log " + *log + " is " + input + " itself; name another log", 1);
        session.log = absolute_path(log->c_str());
    }
    RunOptions &run = session.run;
    run.realtime = true;
    run.delay_override = 0;  // the display's refresh, which the swap waits for, paces the frames
    run.channels = analysis.channel_count;
    run.sample_rate = analysis.sample_rate;
    run.track = g_audio.c_str();
    run.spectrum.kind = SpectrumKind::stream;
    stop_signals_exit_at_once(false);
    if (run_stop_signal() != 0) {
        analysis_rows_close();
        return fail("interrupted", 128 + run_stop_signal());
    }
    VisModule *module = nullptr;
    if (!player_session_start(&session, &module, &error)) {
        analysis_rows_close();
        return fail(error, 1);
    }
    const FramePacing pacing = {start, after_render, time_played, nullptr, after_init, nullptr, nullptr, context_lost};
    const FrameOutlet outlet = {no_capture, no_video_begin, no_video_frame};
    RunTotals totals;
    const char *reason = run_module(run, module, 0, pacing, analysis_rows_source(), outlet, &totals);
    const std::string box = player_session_last_box();
    if (g_sound) sound_close();
    player_session_end();
    analysis_rows_close();
    if (g_status_drawn) std::fputs("\n", stderr);
    g_status_drawn = false;
    if (run_stop_signal() != 0) return fail("interrupted", 128 + run_stop_signal());
    if (!g_lost.empty()) return fail("the GL context was lost: " + g_lost, 1);
    if (totals.init_failed) return fail("the plug-in failed to start" + (box.empty() ? "" : ": \"" + box + "\""), 1);
    if (std::strcmp(reason, "stream_end") == 0) {
        say("Played to the end.");
        return 0;
    }
    if (std::strcmp(reason, "quit_message") == 0 || std::strcmp(reason, "render_ended") == 0) {
        const char *cause = platform_linux_user_stop();
        const std::string at = duration_text(totals.loop_seconds);
        say(cause && std::strcmp(cause, "escape") == 0  ? "Stopped by Escape at " + at + "."
            : cause && std::strcmp(cause, "close") == 0 ? "The window was closed at " + at + "."
                                                        : "Stopped at " + at + ".");
        return 0;
    }
    return fail(std::string("the plug-in stopped: ") + reason, 1);
}
