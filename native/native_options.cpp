#include "native/native_options.h"

#include <cstdlib>
#include <cstring>

const char kNativeUsage[] =
    "usage: halcyon_native [options]\n"
    "Runs the Halcyonsphere visualization, built in, as the player does, and writes one JSON object\n"
    "per line for every event, as halcyon_host.exe does under Wine.\n"
    "  --plugin-folder DIR     the folder holding vis_halcyonsphere_assets (default: the program's)\n"
    "  --options FILE          the plug-in's options (a useropt.cfg) for this run\n"
    "  --size WxH              the window's size for this run (16 to 4096 a side)\n"
    "                          (with either, the run reads the assets through a private folder and\n"
    "                          leaves the one in DIR as it is)\n"
    "  --window                show the window on the display (DISPLAY or WAYLAND_DISPLAY), with the\n"
    "                          display's GL driver; default: offscreen, no display needed. F11, F\n"
    "                          or a double click fills the window's display or gives it back\n"
    "  --gl auto|software|device:N  offscreen GL: auto (default) takes a graphics card's EGL device\n"
    "                          where there is one, else llvmpipe; software is llvmpipe; device:N is\n"
    "                          EGL device N\n"
    "  --sound FILE            play FILE's sound from the stream's start; with --realtime the rows\n"
    "                          follow the sound being heard\n"
    "  --sound-latency MS      with --sound: the output's latency that no API reports (a Bluetooth\n"
    "                          headset's own), added to the sound server's\n"
    "  --log FILE              write the events to FILE instead of stdout\n"
    "  --frames N              render at most N frames (default 50); the run also ends when the\n"
    "                          plug-in posts its quit message\n"
    "  --delay MS              sleep MS between frames instead of the module's delay\n"
    "  --probe-answer N        the player's version, the answer to WM_USER/0 (default 0x5066)\n"
    "  --no-embed              answer WM_USER/505 with 0, as a player before 5.0 (the plug-in then\n"
    "                          refuses to start)\n"
    "  --track FILE            the audio file the plug-in is told is playing (WM_USER/211, 212)\n"
    "  --sample-rate N         default 44100\n"
    "  --channels N            default 2 (0-64)\n"
    "  --spectrum SPEC         silence (default), constant:V, tone:BIN[,BIN2][@V], or stream:FILE,\n"
    "                          a spectrum stream from analyse_audio (it sets --frames and --channels\n"
    "                          unless they are given); stream:- reads stdin, where a live stream\n"
    "                          (live_stream) runs until the plug-in quits or the pipe closes\n"
    "  --answer A[,A...]       buttons for the message boxes in order: ok cancel yes no abort retry\n"
    "                          ignore close default (default: No, else OK)\n"
    "  --quit-after-failed-init  call Quit even when Init returned non-zero\n"
    "  --escape-at N           before frame N, post Escape to the registered render window\n"
    "  --close-at N            before frame N, post WM_CLOSE to the registered render window\n"
    "  --render-after-quit N   call Render N more times after Quit\n"
    "  --lose-gl-at N          make swap N (Init's is 0) fail as a lost GL context does\n"
    "  --capture DIR           after Render, read the frame back into DIR/frame_NNNNN.png\n"
    "  --capture-every N       capture frames 0, N, 2N, ... (default 1)\n"
    "  --cycles N              run Init, the frames and Quit N times in one process (default 1)\n"
    "  --clock-ms STEP         a deterministic clock: the plug-in's tick count is\n"
    "                          START + round(N * STEP) during frame N (and START in Init)\n"
    "  --clock-start MS        START of the deterministic clock (default 10000)\n"
    "  --video FILE            after Render, append the frame raw to FILE (a pipe too, or - for\n"
    "                          stdout with --log): \"HRAW\", width, height, \"BGRA\", then the frames,\n"
    "                          top row first\n"
    "  --pacing MODE           clock (default) or auto: frames as fast as they are drawn; wall: each\n"
    "                          frame takes its --clock-ms step of real time\n"
    "  --realtime              with a stream: each frame takes the rows of the time since the start\n"
    "                          (or of the sound being heard), and the run ends with the stream\n"
    "  --wait-for FILE         after Init, log \"ready\" and wait (up to 2 minutes) until FILE exists\n"
    "  --help                  this text\n"
    "Not here: --dll (the plug-in is built in; other plug-ins run in halcyon_host.exe under Wine) and\n"
    "the options dialog (--config and --dialog-*: Windows only; give --options FILE).\n"
    "Exit status: 0 when the plug-in ran, 1 when its Init failed, nothing could be shown or the GL\n"
    "context was lost, 2 for a bad command line or spectrum stream, 3 when the video or a capture\n"
    "could not be written (a capture folder that cannot be made, a full disk), 128 + N when signal\n"
    "N (SIGINT, SIGTERM, SIGHUP) stopped the run; it then ends as after its last frame, and a second\n"
    "one ends it at once.\n";

namespace {

bool parse_size(const char *text, int *width, int *height) {
    char *end = nullptr;
    const long w = std::strtol(text, &end, 10);
    if (end == text || (*end != 'x' && *end != 'X')) return false;
    const char *rest = end + 1;
    const long h = std::strtol(rest, &end, 10);
    if (end == rest || *end != 0 || w < 16 || h < 16 || w > 4096 || h > 4096) return false;
    *width = int(w);
    *height = int(h);
    return true;
}

bool parse_gl(const char *text, NativeOptions *options) {
    if (std::strcmp(text, "auto") == 0) {
        options->gl = EglDisplayChoice::best;
        return true;
    }
    if (std::strcmp(text, "software") == 0) {
        options->gl = EglDisplayChoice::software;
        return true;
    }
    long long device = 0;
    if (std::strncmp(text, "device:", 7) != 0 || !option_number(text + 7, 0, 1000, &device)) return false;
    options->gl = EglDisplayChoice::device;
    options->gl_device = int(device);
    return true;
}

bool windows_only(const char *arg) {
    static const char *const kOptions[] = {"--config",      "--config-then-init", "--config-reenter",
                                           "--dialog-dump", "--dialog-text",      "--dialog-click",
                                           "--dialog-slider", "--dialog-shot",    "--dialog-template"};
    for (const char *option : kOptions)
        if (std::strcmp(arg, option) == 0) return true;
    return false;
}

}  // namespace

bool native_options_parse(int argc, char **argv, NativeOptions *options, std::string *error) {
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool takes_value = true;
        bool ok = true;
        if (std::strcmp(arg, "--help") == 0) {
            *error = "";
            return false;
        } else if (std::strcmp(arg, "--dll") == 0) {
            *error = "--dll: the Halcyonsphere plug-in is built into halcyon_native; other plug-ins run in "
                     "halcyon_host.exe under Wine";
            return false;
        } else if (windows_only(arg)) {
            *error = std::string(arg) + ": the options dialog opens only on Windows; give --options FILE";
            return false;
        } else if (std::strcmp(arg, "--window") == 0) {
            options->window = true;
            takes_value = false;
        } else if (run_option_flag(arg, &options->run)) {
            takes_value = false;
        } else if (value == nullptr) {
            *error = std::string("missing value or unknown option: ") + arg;
            return false;
        } else if (run_option_value(arg, value, &options->run, &ok)) {
            // one the Windows host takes too
        } else if (std::strcmp(arg, "--plugin-folder") == 0) {
            options->plugin_folder = value;
        } else if (std::strcmp(arg, "--options") == 0) {
            options->options_file = value;
        } else if (std::strcmp(arg, "--size") == 0) {
            ok = parse_size(value, &options->width, &options->height);
        } else if (std::strcmp(arg, "--gl") == 0) {
            ok = parse_gl(value, options);
        } else if (std::strcmp(arg, "--sound") == 0) {
            options->sound = value;
        } else if (std::strcmp(arg, "--sound-latency") == 0) {
            char *end = nullptr;
            options->sound_latency_ms = std::strtod(value, &end);
            ok = *value && *end == '\0' && options->sound_latency_ms >= 0 && options->sound_latency_ms <= 10000;
        } else if (std::strcmp(arg, "--lose-gl-at") == 0) {
            long long swap = 0;
            ok = option_number(value, 0, 1 << 30, &swap);
            options->lose_gl_at = int(swap);
        } else {
            *error = std::string("unknown option: ") + arg;
            return false;
        }
        if (!ok) {
            *error = std::string("bad value for ") + arg + ": " + value;
            return false;
        }
        if (takes_value) ++i;
    }
    if (!run_options_check(options->run, error)) return false;
    if (options->run.video && std::strcmp(options->run.video, "-") == 0 && !options->run.log) {
        *error = "--video - writes the frames to stdout: give the events a file with --log";
        return false;
    }
    if (options->sound && options->run.spectrum.kind != SpectrumKind::stream) {
        *error = "--sound needs --spectrum stream:FILE (the rows of the same audio)";
        return false;
    }
    return true;
}
