#include "native/stop_signals.h"

#include <signal.h>
#include <unistd.h>

#include "native/plugin_folder.h"
#include "player/run_stop.h"

namespace {

void on_stop_signal(int number) {
    if (run_stop_signal() == 0) {
        run_stop_request(number);
        return;
    }
    plugin_folder_remove_now();
    _exit(128 + number);
}

}  // namespace

void stop_signals_install() {
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    action.sa_flags = SA_RESTART;  // the GL driver's and the sound server's calls go on undisturbed
    sigemptyset(&action.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, number);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        // One its starter told it to ignore (nohup, a background job) stays ignored.
        struct sigaction previous = {};
        if (sigaction(number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(number, &action, nullptr);
    }
}
