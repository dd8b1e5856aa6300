#include "native/listen_options.h"

#include <cstdlib>
#include <cstring>

const char kListenUsage[] =
    "usage: halcyonsphere listen [options]\n"
    "Shows the visualization of whatever the computer is playing, in a window, in step with what is\n"
    "heard: by default the monitor of the default sound output (followed when you switch outputs).\n"
    "  --source NAME       capture another source: another output's monitor, or an input\n"
    "  --list-sources      list the sources, marked as outputs or inputs, and exit\n"
    "  --size WxH          the window's size (16 to 4096 a side; default: the options')\n"
    "  --options FILE      the plug-in's options (a useropt.cfg; default: your own)\n"
    "  --assets DIR        an asset folder of your own instead of the installed one\n"
    "  --fullscreen        fill the display\n"
    "  --sound-latency MS  the picture waits MS more for the sound (0 to 1000): for an output whose\n"
    "                      delay the sound server does not know (Bluetooth headphones on PipeWire)\n"
    "Escape or closing the window ends it.\n"
    "Developer options: --log FILE (the events, one JSON object per line), --capture DIR (each frame\n"
    "as DIR/frame_NNNNN.png), --frames N (end after N frames).\n";

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

bool takes_value(const char *arg) {
    for (const char *name :
         {"--source", "--size", "--options", "--assets", "--sound-latency", "--log", "--capture", "--frames"})
        if (std::strcmp(arg, name) == 0) return true;
    return false;
}

}  // namespace

bool listen_options_parse(int argc, char **argv, ListenOptions *options, std::string *error) {
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            error->clear();
            return false;
        }
        if (std::strcmp(arg, "--list-sources") == 0) {
            options->list_sources = true;
            continue;
        }
        if (std::strcmp(arg, "--fullscreen") == 0) {
            options->fullscreen = true;
            continue;
        }
        if (!takes_value(arg)) {
            *error = std::string("unknown option ") + arg + " ('halcyonsphere listen --help' lists them)";
            return false;
        }
        if (i + 1 >= argc) {
            *error = std::string(arg) + " needs a value";
            return false;
        }
        const char *value = argv[++i];
        if (std::strcmp(arg, "--source") == 0) {
            options->source = value;
        } else if (std::strcmp(arg, "--size") == 0) {
            if (!parse_size(value, &options->width, &options->height)) {
                *error = std::string("--size takes WxH, 16 to 4096 a side, not ") + value;
                return false;
            }
        } else if (std::strcmp(arg, "--options") == 0) {
            options->options_file = value;
        } else if (std::strcmp(arg, "--assets") == 0) {
            options->assets = value;
        } else if (std::strcmp(arg, "--log") == 0) {
            options->log = value;
        } else if (std::strcmp(arg, "--capture") == 0) {
            options->capture = value;
        } else if (std::strcmp(arg, "--sound-latency") == 0) {
            char *end = nullptr;
            const long milliseconds = std::strtol(value, &end, 10);
            if (end == value || *end || milliseconds < 0 || milliseconds > 1000) {
                *error = std::string("--sound-latency takes milliseconds from 0 to 1000, not ") + value;
                return false;
            }
            options->sound_latency_ms = int(milliseconds);
        } else {
            char *end = nullptr;
            const long frames = std::strtol(value, &end, 10);
            if (end == value || *end || frames < 1 || frames > 100000000) {
                *error = std::string("--frames takes a whole number from 1 to 100000000, not ") + value;
                return false;
            }
            options->frames = int(frames);
        }
    }
    if (options->source && !*options->source) {
        *error = "--source needs a source's name ('halcyonsphere listen --list-sources' lists them)";
        return false;
    }
    return true;
}
