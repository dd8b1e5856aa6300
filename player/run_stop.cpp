#include "player/run_stop.h"

#include <csignal>

// Written by a signal handler, on any thread: nothing but a lock-free flag is safe there.
static volatile std::sig_atomic_t g_stop_signal = 0;

void run_stop_request(int signal_number) { g_stop_signal = signal_number; }

int run_stop_signal() { return g_stop_signal; }
