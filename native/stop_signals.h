// SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill, a closed terminal) end the run as its last frame
// would (player/run_stop.h); a second one, for a run stuck inside the plug-in, removes the run's
// private folder at once and exits with 128 + the signal's number.
#pragma once

void stop_signals_install();
