#include "native/stop_signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "native/plugin_folder.h"
#include "player/run_stop.h"

namespace {

std::atomic<void (*)()> g_at_exit{nullptr};
std::atomic<bool> g_exit_at_once{false};

void on_stop_signal(int number) {
    if (run_stop_signal() == 0 && !g_exit_at_once.load()) {
        run_stop_request(number);
        return;
    }
    plugin_folder_remove_now();
    if (void (*at_exit)() = g_at_exit.load()) at_exit();
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
    // A starter may block them until now (env --block-signal), so one sent while the program
    // loaded is handled here rather than lost or fatal.
    sigset_t stops;
    sigemptyset(&stops);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, number);
    sigprocmask(SIG_UNBLOCK, &stops, nullptr);
}

void stop_signals_at_exit(void (*at_exit)()) { g_at_exit.store(at_exit); }

void stop_signals_exit_at_once(bool at_once) { g_exit_at_once.store(at_once); }
