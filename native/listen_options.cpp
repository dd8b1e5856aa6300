#include "native/listen_options.h"

#include <cstdlib>
#include <vector>

#include "native/command_line.h"
#include "native/render_checks.h"

const char kListenUsage[] =
    "usage: halcyonsphere listen [options]\n"
    "Shows the visualization of whatever the computer is playing, in a window on your display, in\n"
    "step with what is heard: by default the monitor of the default sound output (followed when you\n"
    "switch outputs). Escape or closing the window ends it.\n"
    "  --source NAME       capture another source: another output's monitor, or an input\n"
    "  --list-sources      list the sources, marked as outputs or inputs, and exit\n"
    "  --size WxH          the window, 16 to 4096 a side (default: the options file's)\n"
    "  --options FILE      the plug-in's options (a useropt.cfg) for this run (default: yours,\n"
    "                      ~/.config/halcyonsphere/useropt.cfg)\n"
    "  --assets DIR        an asset folder of your own instead of the installed one\n"
    "  --fullscreen        fill the display\n"
    "  --sound-latency MS  show each moment MS later (0 to 1000), for an output whose delay the\n"
    "                      sound server does not report (Bluetooth headphones on PipeWire)\n"
    "  --record FILE       also write what was shown, with the sound heard, as a video (.mp4, .mov\n"
    "                      or .mkv); it appears when you quit, whole (an interrupted run leaves none)\n"
    "Developer options: --log FILE (the events, one JSON object per line), --capture DIR (each frame\n"
    "as DIR/frame_NNNNN.png), --frames N (end after N frames).\n"
    "Exit status: 0 when you quit, 1 a failure, 2 a bad command line, 128 + N stopped by signal N.\n";

namespace {

bool whole_number(const std::string &text, long low, long high, int *value) {
    char *end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || number < low || number > high) return false;
    *value = int(number);
    return true;
}

}  // namespace

bool listen_options_parse(int argc, char **argv, ListenOptions *options, std::string *error) {
    static const std::vector<OptionRule> kOptions = {
        {"--source", true},   {"--list-sources", false}, {"--size", true},   {"--options", true},
        {"--assets", true},   {"--fullscreen", false},   {"--sound-latency", true}, {"--record", true},
        {"--log", true},      {"--capture", true},       {"--frames", true}, {"--wine", false},
        {"--plugin", true}};
    ParsedLine line;
    if (!command_line_parse(argc, argv, kOptions, &line, error)) return false;
    options->help = line.help;
    if (line.help) return true;
    if (command_line_flag(line, "--wine") || command_line_value(line, "--plugin")) {
        *error = "--wine and --plugin run a DLL under Wine, which ./halcyon does in a checkout; this program "
                 "shows the plug-in built in";
        return false;
    }
    if (!line.arguments.empty()) {
        *error = "listen takes no file (" + line.arguments[0] +
                 "): it shows what the computer plays; halcyonsphere play shows a file";
        return false;
    }
    const std::string *value = nullptr;
    if ((value = command_line_value(line, "--source"))) options->source = *value;
    options->list_sources = command_line_flag(line, "--list-sources");
    if ((value = command_line_value(line, "--size")) &&
        !parse_size_value(*value, false, &options->width, &options->height, error))
        return false;
    if ((value = command_line_value(line, "--options"))) options->options_file = *value;
    if ((value = command_line_value(line, "--assets"))) options->assets = *value;
    options->fullscreen = command_line_flag(line, "--fullscreen");
    if ((value = command_line_value(line, "--sound-latency")) &&
        !whole_number(*value, 0, 1000, &options->sound_latency_ms)) {
        *error = "--sound-latency takes milliseconds from 0 to 1000, not " + *value;
        return false;
    }
    if ((value = command_line_value(line, "--record"))) options->record = *value;
    if ((value = command_line_value(line, "--log"))) options->log = *value;
    if ((value = command_line_value(line, "--capture"))) options->capture = *value;
    if ((value = command_line_value(line, "--frames")) && !whole_number(*value, 1, 100000000, &options->frames)) {
        *error = "--frames takes a whole number from 1 to 100000000, not " + *value;
        return false;
    }
    return true;
}
