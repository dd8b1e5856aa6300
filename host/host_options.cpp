#include "host/host_options.h"

#include <cstring>

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
    "                          per frame; it sets --frames and --channels unless they are given;\n"
    "                          stream:- reads stdin, where a live stream (live_stream) runs until\n"
    "                          the plug-in quits or the pipe closes\n"
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
    "loaded, 2 for a bad command line or spectrum stream, 3 when the video or a capture could not\n"
    "be written (a capture folder that cannot be made, a full disk).\n";

bool host_options_parse(int argc, char **argv, HostOptions *options, std::string *error) {
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
        } else if (std::strcmp(arg, "--dialog-dump") == 0) {
            options->dialog.active = true;
            takes_value = false;
        } else if (run_option_flag(arg, &options->run)) {
            takes_value = false;
        } else if (value == nullptr) {
            *error = std::string("missing value or unknown option: ") + arg;
            return false;
        } else if (run_option_value(arg, value, &options->run, &ok)) {
            // one the native program takes too
        } else if (std::strcmp(arg, "--dll") == 0) {
            options->dll = value;
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
            ok = option_number(value, 0, 0xFFFF, &number);
            options->dialog_template = static_cast<int>(number);
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
    return run_options_check(options->run, error);
}
