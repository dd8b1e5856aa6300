// A request from outside the plug-in to end the run (natively SIGINT, SIGTERM or SIGHUP): made
// from a signal handler, obeyed between frames and in the wait for the start, so that the run ends
// as it does after its last frame (Quit, the end event, its files put away).
#pragma once

void run_stop_request(int signal_number);
// The signal that asked for the stop; 0 until one did.
int run_stop_signal();
