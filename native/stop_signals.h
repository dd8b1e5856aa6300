// SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill, a closed terminal) end the run as its last frame
// would (player/run_stop.h); a second one, for a run stuck inside the plug-in, removes the run's
// private folder at once and exits with 128 + the signal's number.
#pragma once

void stop_signals_install();
// What the at-once exit does besides (kill a child, unlink a file): only calls a signal handler
// may make. Null: nothing more.
void stop_signals_at_exit(void (*at_exit)());
// While set, the first signal already exits at once: nothing is running that needs winding down.
void stop_signals_exit_at_once(bool at_once);
