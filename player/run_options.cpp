#include "player/run_options.h"

#include <cstdlib>
#include <cstring>

#include "player/dialog_answers.h"

bool option_number(const char *text, long long low, long long high, long long *value) {
    char *end = nullptr;
    const long long v = std::strtoll(text, &end, 0);  // decimal or 0x hex
    if (end == text || *end != 0 || v < low || v > high) return false;
    *value = v;
    return true;
}

static bool parse_answers(const char *text, std::vector<int> *answers) {
    const std::string list(text);
    for (size_t start = 0; start <= list.size();) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        const int id = dialog_answer_parse(list.substr(start, comma - start).c_str());
        if (id == -1) return false;  // unknown (the close box is -2)
        answers->push_back(id);
        start = comma + 1;
    }
    return true;
}

bool run_option_flag(const char *arg, RunOptions *options) {
    if (std::strcmp(arg, "--no-embed") == 0) options->embed = false;
    else if (std::strcmp(arg, "--realtime") == 0) options->realtime = true;
    else if (std::strcmp(arg, "--quit-after-failed-init") == 0) options->quit_after_failed_init = true;
    else return false;
    return true;
}

// Sets *field to the number in value when it lies in [low, high].
static bool number_option(const char *value, long long low, long long high, int *field) {
    long long number = 0;
    const bool ok = option_number(value, low, high, &number);
    *field = int(number);
    return ok;
}

bool run_option_value(const char *arg, const char *value, RunOptions *options, bool *ok) {
    long long number = 0;
    if (std::strcmp(arg, "--log") == 0) {
        options->log = value;
    } else if (std::strcmp(arg, "--frames") == 0) {
        *ok = number_option(value, 0, 100000000, &options->frames);
        options->frames_given = true;
    } else if (std::strcmp(arg, "--delay") == 0) {
        *ok = number_option(value, 0, 10000, &options->delay_override);
    } else if (std::strcmp(arg, "--probe-answer") == 0) {
        *ok = option_number(value, INT32_MIN, UINT32_MAX, &number);
        options->probe_answer = intptr_t(number);
    } else if (std::strcmp(arg, "--sample-rate") == 0) {
        *ok = number_option(value, 0, INT32_MAX, &options->sample_rate);
    } else if (std::strcmp(arg, "--channels") == 0) {
        *ok = number_option(value, 0, 64, &options->channels);
        options->channels_given = true;
    } else if (std::strcmp(arg, "--spectrum") == 0) {
        *ok = spectrum_parse(value, &options->spectrum);
    } else if (std::strcmp(arg, "--answer") == 0) {
        *ok = parse_answers(value, &options->answers);
    } else if (std::strcmp(arg, "--escape-at") == 0) {
        *ok = number_option(value, 0, 100000000, &options->escape_at);
    } else if (std::strcmp(arg, "--close-at") == 0) {
        *ok = number_option(value, 0, 100000000, &options->close_at);
    } else if (std::strcmp(arg, "--render-after-quit") == 0) {
        *ok = number_option(value, 0, 1000, &options->render_after_quit);
    } else if (std::strcmp(arg, "--capture") == 0) {
        options->capture = value;
    } else if (std::strcmp(arg, "--capture-every") == 0) {
        *ok = number_option(value, 1, 100000000, &options->capture_every);
    } else if (std::strcmp(arg, "--cycles") == 0) {
        *ok = number_option(value, 1, 1000, &options->cycles);
    } else if (std::strcmp(arg, "--video") == 0) {
        options->video = value;
    } else if (std::strcmp(arg, "--track") == 0) {
        options->track = value;
    } else if (std::strcmp(arg, "--pacing") == 0) {
        *ok = std::strcmp(value, "clock") == 0 || std::strcmp(value, "wall") == 0 || std::strcmp(value, "auto") == 0;
        options->pacing = std::strcmp(value, "wall") == 0   ? Pacing::wall
                          : std::strcmp(value, "auto") == 0 ? Pacing::automatic
                                                            : Pacing::clock;
    } else if (std::strcmp(arg, "--wait-for") == 0) {
        options->wait_for = value;
    } else if (std::strcmp(arg, "--clock-ms") == 0) {
        *ok = virtual_clock_parse_step(value, &options->clock.step_ms);
        options->clock.enabled = true;
    } else if (std::strcmp(arg, "--clock-start") == 0) {
        *ok = option_number(value, 0, UINT32_MAX, &number);
        options->clock.start = uint32_t(number);
        options->clock_start_given = true;
    } else {
        return false;
    }
    return true;
}

bool run_options_check(const RunOptions &options, std::string *error) {
    if (options.realtime && options.spectrum.kind != SpectrumKind::stream) {
        *error = "--realtime needs --spectrum stream:FILE";
        return false;
    }
    if (options.pacing != Pacing::clock && (!options.clock.enabled || options.realtime)) {
        *error = "--pacing wall or auto needs --clock-ms (the step) and goes without --realtime";
        return false;
    }
    if (options.clock_start_given && !options.clock.enabled) {
        *error = "--clock-start needs --clock-ms";
        return false;
    }
    return true;
}
