// halcyonsphere render AUDIO: a video of the visualization of an audio file, with its sound, in
// one process: the audio analysed a frame at a time as the frames need it, the plug-in drawing
// offscreen under a deterministic clock, each frame read back through a ring of pixel-pack
// buffers and written straight into ffmpeg's input.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "native/analysis_rows.h"
#include "native/command_line.h"
#include "native/encoder_process.h"
#include "native/frame_readback.h"
#include "native/install_paths.h"
#include "native/native_commands.h"
#include "native/player_session.h"
#include "native/plugin_folder.h"
#include "native/progress_bar.h"
#include "native/render_checks.h"
#include "native/render_output.h"
#include "native/stop_signals.h"
#include "player/frame_loop.h"
#include "player/player_platform.h"
#include "player/run_steps.h"
#include "player/run_stop.h"
#include "shell/platform_linux.h"

#include <GL/gl.h>

namespace {

const char kRenderUsage[] =
    "usage: halcyonsphere render AUDIO [options]\n"
    "A video of the visualization of AUDIO (WAV, FLAC, Ogg Vorbis, MP3, ...) with its sound, drawn\n"
    "offscreen with a deterministic clock, so each frame depends on the music alone.\n"
    "  --out FILE|DIR/     FILE.mp4 (or .mov, .mkv), or DIR/ for numbered PNG frames\n"
    "                      (default: AUDIO's name with .mp4, in the current folder)\n"
    "  --start S           where in the audio to begin, in seconds (default 0)\n"
    "  --seconds S         how long (default: to the end of the audio)\n"
    "  --size WxH          the plug-in's window and the video, even numbers from 16 to 4096\n"
    "                      (default 1280x720, or the size in --options FILE)\n"
    "  --fps N[/D]         frames a second, 1 to 240 (default 30)\n"
    "  --options FILE      the plug-in's options (a useropt.cfg) for this run (default: yours,\n"
    "                      ~/.config/halcyonsphere/useropt.cfg)\n"
    "  --assets DIR        an asset folder of your own instead of the installed one\n"
    "  --gl auto|software|device:N  auto (default): a graphics card's EGL device where there is\n"
    "                      one, else Mesa's llvmpipe; software: llvmpipe; device:N: EGL device N\n"
    "  --force             with DIR/ that holds files: replace its frame_*.png (other files stay)\n"
    "  --log FILE          the plug-in's events, one JSON object per line\n"
    "A name beginning with - goes after --. Nothing appears under the output's name until the\n"
    "video is whole. Exit status: 0 done, 1 a failure, 2 a bad command line, 128 + N stopped by\n"
    "signal N.\n";

const char kEncoderStopped[] = "ffmpeg stopped taking frames";
const char *g_who = "halcyonsphere render";  // the command, before each of its messages

struct Render {
    std::string audio, audio_absolute;
    uint32_t fps_numerator = 30, fps_denominator = 1;
    double start = 0, seconds = -1;
    int width = 1280, height = 720;
    EglDisplayChoice gl = EglDisplayChoice::best;
    int gl_device = 0;
    bool gl_given = false;
    std::string options_path, assets, log, out;
    bool force = false;
    UserOptions options = {};
};

// The state the frame loop's outlet works on: one render a process.
struct Export {
    RenderOutput output;
    EncoderProcess encoder;
    ReadbackRing ring;
    ProgressBar bar;
    Render *render = nullptr;
    AnalysisResult analysis;
    long long frames = 0, written = 0;
    bool encoder_started = false;
    double first_frame_at = 0, last_frame_at = 0;
    std::string failure;  // why the video failed, in one line
    std::vector<const uint8_t *> rows;
};
Export g_export;

std::atomic<const char *> g_stage{"checking"};  // what a stop waits for
std::atomic<bool> g_finished{false};

void say(const std::string &text) {
    progress_end(&g_export.bar);
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

int fail(const std::string &text, int status) {
    progress_end(&g_export.bar);
    std::fprintf(stderr, "%s: %s\n", g_who, text.c_str());
    return status;
}

void at_exit_now() {
    encoder_kill_now();
    output_discard_now();
    // The command's own name (demo runs through here too); strlen and write are safe in a handler.
    static const char kStopped[] = ": interrupted; nothing was written under the output name\n";
    (void)!write(STDERR_FILENO, g_who, std::strlen(g_who));
    (void)!write(STDERR_FILENO, kStopped, sizeof kStopped - 1);
}

// After a stop request: a note on a terminal when winding down takes more than a second.
void watch_stop() {
    double asked = 0;
    bool told = false;
    while (!g_finished.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (run_stop_signal() == 0) continue;
        if (asked == 0) asked = seconds_now();
        if (!told && seconds_now() - asked > 1.0 && isatty(STDERR_FILENO)) {
            told = true;
            char text[256];
            const int length = std::snprintf(text, sizeof text, "\n%s: stopping: waiting for %s (Ctrl-C again ends it at once)\n",
                                             g_who, g_stage.load());
            (void)!write(STDERR_FILENO, text, size_t(length));
        }
    }
}

bool write_frame(const uint8_t *bottom_up, int width, int height, void *) {
    Export &e = g_export;
    e.rows.resize(size_t(height));
    const size_t row_bytes = size_t(width) * 4;
    for (int y = 0; y < height; ++y) e.rows[size_t(y)] = bottom_up + size_t(height - 1 - y) * row_bytes;
    g_stage.store("ffmpeg to take a frame");
    const bool ok = encoder_write_rows(&e.encoder, e.rows.data(), height, row_bytes);
    g_stage.store("the plug-in's frame");
    if (!ok) {
        e.failure = kEncoderStopped;
        return false;
    }
    ++e.written;
    if (e.written == 1) e.first_frame_at = seconds_now();
    progress_update(&e.bar, e.written);
    return true;
}

std::vector<std::string> encoder_arguments(const Export &e, int width, int height) {
    const Render &r = *e.render;
    char size[32], rate[32], start[32], length[32];
    std::snprintf(size, sizeof size, "%dx%d", width, height);
    std::snprintf(rate, sizeof rate, "%u/%u", r.fps_numerator, r.fps_denominator);
    std::snprintf(start, sizeof start, "%.6f", r.start);
    std::snprintf(length, sizeof length, "%.6f", double(e.frames) * r.fps_denominator / r.fps_numerator);
    std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
                                     "-f", "rawvideo", "-pix_fmt", "bgr0", "-s", size, "-framerate", rate,
                                     "-i", "pipe:0"};
    const std::string target = output_encoder_target(e.output);
    if (e.output.kind == OutputKind::frames) {
        args.insert(args.end(), {"-start_number", "0", "-pix_fmt", "rgb24", "-f", "image2", target});
        return args;
    }
    // "file:" keeps a colon in a name from reading as one of ffmpeg's protocols.
    args.insert(args.end(), {"-ss", start, "-t", length, "-i", "file:" + r.audio_absolute, "-map", "0:v:0",
                             "-map", "1:a:0",
                             // superfast: about half veryfast's CPU time for files about 40% larger.
                             "-c:v", "libx264", "-preset", "superfast", "-crf", "20", "-pix_fmt", "yuv420p",
                             "-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart", "-f", e.output.muxer,
                             "file:" + target});
    return args;
}

// After Init: the viewport fixes the frame; the encoder starts while the first frame is drawn.
bool video_begin() {
    Export &e = g_export;
    if (e.encoder_started) return true;
    GLint viewport[4] = {};
    if (!platform_linux_gl_current()) {
        e.failure = "the plug-in made no GL context";
        return false;
    }
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (viewport[2] != e.render->width || viewport[3] != e.render->height) {
        e.failure = "the plug-in's window came out " + std::to_string(viewport[2]) + "x" + std::to_string(viewport[3]) +
                    ", not the " + std::to_string(e.render->width) + "x" + std::to_string(e.render->height) +
                    " asked for";
        return false;
    }
    const std::string drawn = player_session_renderer();
    if (!drawn.empty()) say("Drawn with " + drawn + ".");
    if (!readback_ring_open(&e.ring, viewport[2], viewport[3])) {
        e.failure = "the GL has no pixel-pack buffers to read frames with";
        return false;
    }
    std::string error;
    if (!encoder_start(encoder_arguments(e, viewport[2], viewport[3]), e.output.file, &e.encoder, &error)) {
        e.failure = error;
        return false;
    }
    e.encoder_started = true;
    g_stage.store("the plug-in's frame");
    progress_start(&e.bar, e.frames);
    return true;
}

bool video_frame(std::string *error) {
    Export &e = g_export;
    if (!e.encoder_started && !video_begin()) {
        *error = e.failure;
        return false;
    }
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (!readback_ring_push(&e.ring, viewport[0], viewport[1], write_frame, nullptr)) {
        if (e.failure.empty()) e.failure = "a frame could not be read back from the GL";
        *error = e.failure;
        return false;
    }
    return true;
}

bool video_end(std::string *error) {
    Export &e = g_export;
    if (!e.encoder_started) return true;
    const bool ok = readback_ring_drain(&e.ring, write_frame, nullptr);
    readback_ring_close(&e.ring);
    if (!ok) *error = e.failure.empty() ? "a frame could not be read back from the GL" : e.failure;
    return ok;
}

CaptureResult no_capture(const char *, int) { return CaptureResult(); }

// The command line into r; 0 when it holds, else the exit status after its line.
int read_command_line(int argc, char **argv, Render *r, bool *help) {
    static const std::vector<OptionRule> kOptions = {
        {"--out", true},     {"--start", true}, {"--seconds", true}, {"--size", true},   {"--fps", true},
        {"--options", true}, {"--assets", true}, {"--gl", true},     {"--log", true},    {"--force", false},
        {"--wine", false},   {"--plugin", true}};
    ParsedLine line;
    std::string error;
    if (!command_line_parse(argc, argv, kOptions, &line, &error)) return fail(error, 2);
    *help = line.help;
    if (line.help) return 0;
    if (command_line_flag(line, "--wine") || command_line_flag(line, "--plugin"))
        return fail("--wine and --plugin run a DLL under Wine, which ./halcyon does in a checkout; this program "
                    "draws with the plug-in built in",
                    2);
    if (line.arguments.size() != 1)
        return fail(line.arguments.empty() ? "name the audio file to render" : "name one audio file, not " +
                                                                                     std::to_string(line.arguments.size()),
                    2);
    r->audio = line.arguments[0];
    const std::string *value = nullptr;
    if ((value = command_line_value(line, "--fps")) && !parse_fps_value(*value, &r->fps_numerator, &r->fps_denominator, &error))
        return fail(error, 2);
    if ((value = command_line_value(line, "--start")) && !parse_seconds_value(*value, "start", true, &r->start, &error))
        return fail(error, 2);
    if ((value = command_line_value(line, "--seconds")) &&
        !parse_seconds_value(*value, "length", false, &r->seconds, &error))
        return fail(error, 2);
    const std::string *size = command_line_value(line, "--size");
    if (size && !parse_size_value(*size, true, &r->width, &r->height, &error)) return fail(error, 2);
    if ((value = command_line_value(line, "--gl"))) {
        if (!parse_gl_value(*value, &r->gl, &r->gl_device, &error)) return fail(error, 2);
        r->gl_given = true;
    }
    if ((value = command_line_value(line, "--options"))) r->options_path = *value;
    if ((value = command_line_value(line, "--assets"))) r->assets = *value;
    if ((value = command_line_value(line, "--log"))) r->log = *value;
    if ((value = command_line_value(line, "--out"))) r->out = *value;
    r->force = command_line_flag(line, "--force");

    // The options: the file given, else the user's own; the size from --size, else the file given's.
    const bool own_file = !r->options_path.empty();
    if (!own_file && !user_options_file(&r->options_path, &error)) return fail(error, 1);
    if (!read_options_file(r->options_path, &r->options, &error)) return fail(error, 1);
    if (!size && own_file) {
        std::string problem;
        const std::string asked = std::to_string(r->options.width) + "x" + std::to_string(r->options.height);
        if (!parse_size_value(asked, true, &r->width, &r->height, &problem))
            return fail("the options file " + r->options_path + " asks for a " + asked + " window, but " +
                            problem.substr(problem.find(": ") + 2) + "; give --size WxH",
                        1);
    }
    r->options.width = r->width;
    r->options.height = r->height;
    r->options.fullscreen = 0;  // the frames are read from the window
    if (!own_file) r->options_path.clear();
    return 0;
}

std::string base_name(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string default_output(const std::string &audio) {
    std::string name = base_name(audio);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name + ".mp4";
}

std::string channels_text(int file_channels) {
    if (file_channels == 1) return "mono";
    if (file_channels == 2) return "stereo";
    return std::to_string(file_channels) + " channels, the first two shown";
}

int finish_stopped(Export &e, int signal_number) {
    g_stage.store("ffmpeg to end");
    encoder_stop(&e.encoder, 0.2);
    output_discard(&e.output);
    player_session_end();
    analysis_rows_close();
    g_finished.store(true);
    return fail("interrupted; nothing was written under the output name", 128 + signal_number);
}

}  // namespace

int render_command(int argc, char **argv) { return render_command_labelled(argc, argv, nullptr); }

int render_command_labelled(int argc, char **argv, const char *audio_label) {
    g_who = argv[0];
    stop_signals_install();
    stop_signals_exit_at_once(true);  // nothing to wind down before the frames
    stop_signals_at_exit(at_exit_now);
    signal(SIGPIPE, SIG_IGN);  // a reader that goes away (the encoder) shows as a failed write
    log_errors_on_stderr(false);
    Export &e = g_export;
    Render render;
    e.render = &render;
    const double command_started = seconds_now();
    const char *timings_path = std::getenv("HALCYON_RENDER_TIMINGS");
    const std::string timings = timings_path && *timings_path ? absolute_path(timings_path) : "";
    bool help = false;
    if (const int status = read_command_line(argc, argv, &render, &help)) return status;
    if (help) {
        std::fputs(kRenderUsage, stdout);
        return 0;
    }
    std::string error;
    if (!check_regular_file(render.audio, "the audio file", &error)) return fail(error, 1);
    render.audio_absolute = absolute_path(render.audio.c_str());
    std::string assets;
    if (!choose_asset_folder(render.assets.empty() ? nullptr : render.assets.c_str(), &assets, &error))
        return fail(error, 1);
    const std::string out = render.out.empty() ? default_output(render.audio) : render.out;
    std::vector<std::string> inputs = {render.audio};
    if (!render.options_path.empty()) inputs.push_back(render.options_path);
    bool usage = false;
    if (!output_plan(out, render.force, inputs, &e.output, &error, &usage)) return fail(error, usage ? 2 : 1);
    // The event log is written over: never one of the inputs.
    for (const std::string &input : inputs)
        if (!render.log.empty() && same_file(render.log, input))
            return fail("the log " + render.log + " is " + input + " itself; name another log", 1);
    if (!encoder_available(&error)) return fail(error, 1);
    if (render.gl_given && render.gl != EglDisplayChoice::best) {
        EglDisplayOpened opened;
        if (!egl_display_open(render.gl, render.gl_device, &opened, &error)) return fail(error, 1);
        egl_display_close(&opened);
    }

    g_stage.store("the analysis of the audio");
    AnalysisRequest request;
    request.audio_path = render.audio.c_str();
    request.rate_numerator = render.fps_numerator;
    request.rate_denominator = render.fps_denominator;
    request.start_seconds = render.start;
    request.seconds = render.seconds;
    if (!analysis_rows_open(request, &e.analysis)) return fail(e.analysis.error, 1);
    e.frames = e.analysis.frames;
    if (e.frames <= 0) {
        analysis_rows_close();
        return fail("nothing to render: " + render.audio + " holds " + duration_text(e.analysis.file_seconds) +
                        " of sound, and the part asked for begins at its end or after it",
                    1);
    }
    const std::string audio_name = audio_label ? audio_label : base_name(render.audio);
    if (e.analysis.cut_short)
        say("Note: " + audio_name + " is cut short: its sound ends at " + duration_text(e.analysis.file_seconds) +
            ", though its header says " + duration_text(e.analysis.header_seconds) +
            (e.analysis.cut_reason.empty() ? "" : " (" + e.analysis.cut_reason + ")") + "; rendering what it holds.");

    // From here on an output exists and paths are taken from a private folder: a stop winds down.
    stop_signals_exit_at_once(false);
    if (!output_open(&e.output, &error)) {
        analysis_rows_close();
        return fail(error, 1);
    }
    if (!e.output.temporary.empty() && e.output.temporary[0] != '/') e.output.temporary = absolute_path(e.output.temporary.c_str());
    const std::string out_shown = e.output.path;
    e.output.path = absolute_path(e.output.path.c_str());
    e.output.folder = absolute_path(e.output.folder.c_str());
    if (!render.log.empty()) render.log = absolute_path(render.log.c_str());
    const double clip = double(e.frames) * render.fps_denominator / render.fps_numerator;
    char rate[48];
    std::snprintf(rate, sizeof rate, "%u/%u", render.fps_numerator, render.fps_denominator);
    say("Rendering " + duration_text(clip) + " of " + audio_name + " (" + channels_text(e.analysis.file_channels) +
        ") at " + std::to_string(render.width) + "x" + std::to_string(render.height) + " and " + rate + " fps: " +
        std::to_string(e.frames) + " frames.");

    PlayerSession session;
    session.asset_folder = assets;
    session.options = render.options;
    session.gl = render.gl;
    session.gl_device = render.gl_device;
    session.log = render.log;
    RunOptions &run = session.run;
    run.frames = int(std::min<long long>(e.frames, 100000000));
    run.frames_given = true;
    run.channels = e.analysis.channel_count;
    run.channels_given = true;
    run.sample_rate = e.analysis.sample_rate;
    run.delay_override = 0;
    run.track = render.audio_absolute.c_str();
    run.video = "encoder";  // the outlet below: the name is not opened
    run.clock.enabled = true;
    run.clock.step_ms = 1000.0 * render.fps_denominator / render.fps_numerator;
    run.clock.start = uint32_t(10000 + std::llround(render.start * 1000));
    run.spectrum.kind = SpectrumKind::stream;

    sigset_t stops, previous;  // the watcher takes none of the stop signals: they go to this thread
    sigemptyset(&stops);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, number);
    pthread_sigmask(SIG_BLOCK, &stops, &previous);
    std::thread watcher(watch_stop);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (run_stop_signal() != 0) {
        const int status = finish_stopped(e, run_stop_signal());
        watcher.join();
        return status;
    }
    g_stage.store("the plug-in to start");
    VisModule *module = nullptr;
    if (!player_session_start(&session, &module, &error)) {
        g_finished.store(true);
        watcher.join();
        output_discard(&e.output);
        analysis_rows_close();
        return fail(error, 1);
    }
    const FramePacing pacing = {[](const RunOptions &, bool, FrameTiming *) {},
                                [](const RunOptions &, int, FrameTiming *) { return false; },
                                [](const FrameTiming &, double *) { return false; },
                                nullptr, nullptr, nullptr, nullptr, player_session_gl_lost};
    FrameOutlet outlet = {no_capture, video_begin, video_frame};
    outlet.video_end = video_end;
    RunTotals totals;
    const double loop_started = seconds_now();
    const char *reason = run_module(run, module, 0, pacing, analysis_rows_source(), outlet, &totals);
    const double loop_ended = seconds_now();
    g_stage.store("the plug-in to end");
    const std::string init_message = player_session_last_box();
    const std::string lost = player_session_gl_lost_reason();
    player_session_end();
    analysis_rows_close();
    if (run_stop_signal() != 0) {
        const int status = finish_stopped(e, run_stop_signal());
        watcher.join();
        return status;
    }
    progress_end(&e.bar);
    int status = 0;
    std::string why;
    if (totals.init_failed) {
        why = "the plug-in failed to start" + (init_message.empty() ? std::string() : ": \"" + init_message + "\"");
    } else if (totals.video_failed || !e.encoder_started) {
        why = e.failure.empty() ? "the video could not be written" : e.failure;
    } else if (std::strcmp(reason, "gl_lost") == 0) {
        why = lost;
    } else if (std::strcmp(reason, "frames") != 0) {
        why = std::string("the plug-in stopped before the last frame (") + reason + ", " + std::to_string(e.written) +
              " of " + std::to_string(e.frames) + " frames drawn)";
    }
    g_stage.store("ffmpeg to finish the video");
    const double tail_started = seconds_now();
    // ffmpeg that stopped taking frames failed itself: its own reason is the one to tell.
    const bool encoder_gave_up = e.encoder_started && e.failure == kEncoderStopped;
    if (why.empty() || encoder_gave_up) {
        if (!encoder_finish(&e.encoder, [] { return run_stop_signal() != 0; })) {
            const std::string full = output_full_disk(e.output);
            const std::string said = encoder_last_message(e.encoder);
            const std::string reason_text = !full.empty() ? full : said;
            why = std::string("ffmpeg could not write the ") +
                  (e.output.kind == OutputKind::frames ? "frames" : "video") +
                  (reason_text.empty() ? "" : ": " + reason_text);
        } else if (encoder_gave_up) {
            why = e.failure;
        }
    } else {
        encoder_stop(&e.encoder, 0.2);
    }
    const double tail = seconds_now() - tail_started;
    if (why.empty() && run_stop_signal() == 0) {
        sigset_t held, previous;  // the output goes in place whole, or not at all
        sigemptyset(&held);
        for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, number);
        pthread_sigmask(SIG_BLOCK, &held, &previous);
        if (!output_commit(&e.output, &error)) why = error;
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    g_finished.store(true);
    watcher.join();
    if (run_stop_signal() != 0 && !e.output.done) return finish_stopped(e, run_stop_signal());
    if (!why.empty()) {
        output_discard(&e.output);
        return fail(why + "; nothing was written under the output name", 1);
    }
    const double elapsed = seconds_now() - e.bar.started;
    if (e.output.kind == OutputKind::frames) {
        say("Wrote " + std::to_string(e.written) + " PNG frames (" + std::to_string(render.width) + "x" +
            std::to_string(render.height) + ") into " + out_shown + " in " + duration_text(elapsed) + ".");
    } else {
        struct stat info = {};
        stat(e.output.path.c_str(), &info);
        char text[256];  // the name apart: a long path would not fit
        std::snprintf(text, sizeof text, ": %lld frames at %dx%d, %s with sound, %.1f MB, in %s (%.1f frames a second).",
                      e.written, render.width, render.height, duration_text(clip).c_str(), info.st_size / 1e6,
                      duration_text(elapsed).c_str(), e.written / std::max(elapsed, 1e-6));
        say("Wrote " + out_shown + text);
    }
    // For the benchmark: the frames' own time, from the first Render to the encoder's last byte.
    if (!timings.empty()) {
        if (FILE *file = std::fopen(timings.c_str(), "w")) {
            // Peak resident memory in MB: this program's own, and the encoder's (its one child).
            rusage own = {}, encoder = {};
            getrusage(RUSAGE_SELF, &own);
            getrusage(RUSAGE_CHILDREN, &encoder);
            std::fprintf(file,
                         "{\"frames\": %lld, \"loop_ms\": %.3f, \"encoder_tail_ms\": %.3f, \"first_frame_s\": %.3f, "
                         "\"peak_mb\": %.1f, \"encoder_peak_mb\": %.1f}\n",
                         e.written, (loop_ended - loop_started) * 1000, tail * 1000, e.first_frame_at - command_started,
                         own.ru_maxrss / 1024.0, encoder.ru_maxrss / 1024.0);
            std::fclose(file);
        }
    }
    return status;
}
