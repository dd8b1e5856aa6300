// Frames done, frames a second and the time left, as a bar redrawn in place on a terminal (stderr);
// nothing where stderr is no terminal, so logs keep only the run's own lines.
#pragma once

struct ProgressBar {
    long long total = 1;
    bool shown = false;      // stderr is a terminal
    bool drawn = false;      // a bar is on the line now
    double started = 0, last = 0;
    bool estimate_told = false;
};

void progress_start(ProgressBar *bar, long long total);
void progress_update(ProgressBar *bar, long long done);
// Ends the bar's line, so what follows starts a line of its own.
void progress_end(ProgressBar *bar);
