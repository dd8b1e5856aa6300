#include "host/host_options.h"

#include <cstdlib>
#include <cstring>

#include "host/dialog_hook.h"

const char kHostUsage[] =
    "usage: halcyon_host --dll PATH [options]\n"
    "Loads a visualization DLL, takes module 0 and drives it as the player would, writing one\n"
    "JSON object per line for every event.\n"
    "  --dll PATH              the visualization DLL (required)\n"
    "  --log FILE              write the events to FILE instead of stdout\n"
    "  --config                run Config only (the options dialog), no Init\n"
    "  --config-then-init      run Config, then Init, the frames and Quit\n"
    "  --config-reenter        call Config again while its first dialog is up\n"
    "  --frames N              render at most N frames (default 50); the run also ends when\n"
    "                          the plug-in posts its quit message\n"
    "  --delay MS              sleep MS between frames instead of the module's delay\n"
    "  --probe-answer N        the player's version, the answer to WM_USER/0 (default 0x5066;\n"
    "                          most plug-ins refuse below 0x2900)\n"
    "  --no-embed              answer WM_USER/505 with 0, as a player before 5.0 without embedded\n"
    "                          windows (our plug-in then refuses to start)\n"
    "  --track FILE            the audio file the plug-in is told is playing (WM_USER/211, 212)\n"
    "  --sample-rate N         default 44100\n"
    "  --channels N            default 2 (0-64, to test how the plug-in bounds it)\n"
    "  --spectrum SPEC         silence (default), constant:V, tone:BIN[,BIN2][@V], or\n"
    "                          stream:FILE, a spectrum stream from analyse_audio: one pair of rows\n"
    "                          per frame; it sets --frames and --channels unless they are given\n"
    "  --answer A[,A...]       buttons for the dialogs in order: ok cancel yes no abort retry\n"
    "                          ignore close default (default: No, else Cancel, else OK);\n"
    "                          close is the title bar's close box\n"
    "  --dialog-text ID=TEXT   in the first dialog that is not a message box, set edit ID's text\n"
    "  --dialog-click ID       ... click button or check box ID\n"
    "  --dialog-slider ID=POS  ... move slider ID to POS\n"
    "                          (actions run in the order given, then the dialog is answered)\n"
    "  --dialog-dump           ... log what its controls show when it opens and when answered\n"
    "  --dialog-shot FILE      ... write a PNG of it, after the actions\n"
    "  --dialog-template ID    after loading, log dialog resource ID as the DLL holds it\n"
    "  --quit-after-failed-init  call Quit even when Init returned non-zero\n"
    "  --escape-at N           before frame N, post Escape to the registered render window\n"
    "  --close-at N            before frame N, post WM_CLOSE to the registered render window\n"
    "  --render-after-quit N   call Render N more times after Quit, as a careless player might\n"
    "  --capture DIR           after Render, read the frame back and write DIR\\frame_NNNNN.png\n"
    "  --capture-every N       capture frames 0, N, 2N, ... (default 1: every frame)\n"
    "  --cycles N              run Init, the frames and Quit N times in one process (default 1)\n"
    "  --clock-ms STEP         a deterministic clock: the plug-in's GetTickCount (and timeGetTime)\n"
    "                          returns START + round(N * STEP) during frame N (and START in Init),\n"
    "                          however long the frames take; STEP in ms, e.g. 40 or 1000/30\n"
    "  --clock-start MS        START of the deterministic clock (default 10000; not 0, which a\n"
    "                          plug-in may take for a clock that never ran)\n"
    "  --video FILE            after Render, read the frame back and append it to FILE (or a pipe\n"
    "                          made beforehand) as raw BGRA: a header \"HRAW\", width, height,\n"
    "                          \"BGRA\", then the frames, top row first\n"
    "  --pacing MODE           clock (default): frames as fast as they are drawn; wall: with\n"
    "                          --clock-ms, each frame's data is handed over, the host waits the\n"
    "                          step, then captures (for plug-ins that draw on their own thread);\n"
    "                          auto: wall unless the first frame is drawn with GL on the host's thread\n"
    "  --realtime              with a stream: each frame takes the rows of the time since the start\n"
    "                          at the stream's rate, and the run ends with the stream\n"
    "  --wait-for FILE         after Init, log \"ready\" and wait (up to 2 minutes) until FILE\n"
    "                          exists before the first frame, to start together with the sound\n"
    "  --help                  this text\n"
    "Exit status: 0 when the module ran (whatever it returned), 1 when it could not be\n"
    "loaded, 2 for a bad command line or spectrum stream, 3 when the video could not be written.\n";

static bool parse_number(const char *text, long long low, long long high, long long *value) {
    char *end = nullptr;
    long long v = std::strtoll(text, &end, 0);  // decimal or 0x hex
    if (end == text || *end != 0 || v < low || v > high) return false;
    *value = v;
    return true;
}

static bool parse_answers(const char *text, std::vector<int> *answers) {
    std::string list(text);
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        int id = dialog_answer_parse(list.substr(start, comma - start).c_str());
        if (id == -1) return false;  // unknown (the close box is -2)
        answers->push_back(id);
        start = comma + 1;
    }
    return true;
}

bool host_options_parse(int argc, char **argv, HostOptions *options, std::string *error) {
    bool clock_start_given = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        long long number = 0;
        bool takes_value = true;
        bool ok = true;
        if (std::strcmp(arg, "--help") == 0) {
            *error = "";  // the caller prints the usage alone
            return false;
        } else if (std::strcmp(arg, "--config") == 0) {
            options->config = true;
            options->init = false;
            takes_value = false;
        } else if (std::strcmp(arg, "--config-then-init") == 0) {
            options->config = true;
            options->init = true;
            takes_value = false;
        } else if (std::strcmp(arg, "--config-reenter") == 0) {
            options->config_reenter = true;
            takes_value = false;
        } else if (std::strcmp(arg, "--no-embed") == 0) {
            options->embed = false;
            takes_value = false;
        } else if (std::strcmp(arg, "--realtime") == 0) {
            options->realtime = true;
            takes_value = false;
        } else if (std::strcmp(arg, "--dialog-dump") == 0) {
            options->dialog.active = true;
            takes_value = false;
        } else if (std::strcmp(arg, "--quit-after-failed-init") == 0) {
            options->quit_after_failed_init = true;
            takes_value = false;
        } else if (value == nullptr) {
            *error = std::string("missing value or unknown option: ") + arg;
            return false;
        } else if (std::strcmp(arg, "--dll") == 0) {
            options->dll = value;
        } else if (std::strcmp(arg, "--log") == 0) {
            options->log = value;
        } else if (std::strcmp(arg, "--frames") == 0) {
            ok = parse_number(value, 0, 100000000, &number);
            options->frames = static_cast<int>(number);
            options->frames_given = true;
        } else if (std::strcmp(arg, "--delay") == 0) {
            ok = parse_number(value, 0, 10000, &number);
            options->delay_override = static_cast<int>(number);
        } else if (std::strcmp(arg, "--probe-answer") == 0) {
            ok = parse_number(value, INT32_MIN, UINT32_MAX, &number);
            options->probe_answer = static_cast<intptr_t>(number);
        } else if (std::strcmp(arg, "--sample-rate") == 0) {
            ok = parse_number(value, 0, INT32_MAX, &number);
            options->sample_rate = static_cast<int>(number);
        } else if (std::strcmp(arg, "--channels") == 0) {
            ok = parse_number(value, 0, 64, &number);
            options->channels = static_cast<int>(number);
            options->channels_given = true;
        } else if (std::strcmp(arg, "--spectrum") == 0) {
            ok = spectrum_parse(value, &options->spectrum);
        } else if (std::strcmp(arg, "--answer") == 0) {
            ok = parse_answers(value, &options->answers);
        } else if (std::strcmp(arg, "--escape-at") == 0) {
            ok = parse_number(value, 0, 100000000, &number);
            options->escape_at = static_cast<int>(number);
        } else if (std::strcmp(arg, "--render-after-quit") == 0) {
            ok = parse_number(value, 0, 1000, &number);
            options->render_after_quit = static_cast<int>(number);
        } else if (std::strcmp(arg, "--capture") == 0) {
            options->capture = value;
        } else if (std::strcmp(arg, "--capture-every") == 0) {
            ok = parse_number(value, 1, 100000000, &number);
            options->capture_every = static_cast<int>(number);
        } else if (std::strcmp(arg, "--cycles") == 0) {
            ok = parse_number(value, 1, 1000, &number);
            options->cycles = static_cast<int>(number);
        } else if (std::strcmp(arg, "--video") == 0) {
            options->video = value;
        } else if (std::strcmp(arg, "--track") == 0) {
            options->track = value;
        } else if (std::strcmp(arg, "--pacing") == 0) {
            ok = std::strcmp(value, "clock") == 0 || std::strcmp(value, "wall") == 0 || std::strcmp(value, "auto") == 0;
            options->pacing = std::strcmp(value, "wall") == 0   ? Pacing::wall
                              : std::strcmp(value, "auto") == 0 ? Pacing::automatic
                                                                : Pacing::clock;
        } else if (std::strcmp(arg, "--wait-for") == 0) {
            options->wait_for = value;
        } else if (std::strcmp(arg, "--clock-ms") == 0) {
            ok = virtual_clock_parse_step(value, &options->clock.step_ms);
            options->clock.enabled = true;
        } else if (std::strcmp(arg, "--clock-start") == 0) {
            ok = parse_number(value, 0, UINT32_MAX, &number);
            options->clock.start = static_cast<uint32_t>(number);
            clock_start_given = true;
        } else if (std::strcmp(arg, "--dialog-text") == 0 || std::strcmp(arg, "--dialog-click") == 0 ||
                   std::strcmp(arg, "--dialog-slider") == 0) {
            const DialogAction::Kind kind = std::strcmp(arg, "--dialog-text") == 0    ? DialogAction::kText
                                            : std::strcmp(arg, "--dialog-click") == 0 ? DialogAction::kClick
                                                                                      : DialogAction::kSlider;
            DialogAction action;
            ok = dialog_action_parse(kind, value, &action);
            options->dialog.actions.push_back(action);
            options->dialog.active = true;
        } else if (std::strcmp(arg, "--dialog-shot") == 0) {
            options->dialog.shot = value;
            options->dialog.active = true;
        } else if (std::strcmp(arg, "--dialog-template") == 0) {
            ok = parse_number(value, 0, 0xFFFF, &number);
            options->dialog_template = static_cast<int>(number);
        } else if (std::strcmp(arg, "--close-at") == 0) {
            ok = parse_number(value, 0, 100000000, &number);
            options->close_at = static_cast<int>(number);
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
    if (options->dll == nullptr) {
        *error = "--dll PATH is required";
        return false;
    }
    if (options->realtime && options->spectrum.kind != SpectrumKind::stream) {
        *error = "--realtime needs --spectrum stream:FILE";
        return false;
    }
    if (options->pacing != Pacing::clock && (!options->clock.enabled || options->realtime)) {
        *error = "--pacing wall or auto needs --clock-ms (the step) and goes without --realtime";
        return false;
    }
    if (clock_start_given && !options->clock.enabled) {
        *error = "--clock-start needs --clock-ms";
        return false;
    }
    return true;
}
