// Frames on a window at the display's refresh rate where the swap does not wait for the display
// (a swap interval of 0 on Xvfb and some drivers): the seam then sleeps before each swap instead
// of letting the loop spin a core.
#pragma once

struct SwapPacing {
    double period = 1.0 / 60;  // seconds a refresh of the display takes
    bool paced = false;        // the seam waits: the swap does not
    double deadline = -1;      // paced: when the next swap is due; before the first, none
    double last_return = -1;   // when the last swap returned
    int quick_swaps = 0;       // swaps that came back sooner than the display refreshes, none blocking
};

// The display's refresh rate, in Hz (0 when it is not known: 60).
void swap_pacing_set_rate(SwapPacing *pacing, int hertz);
// The seconds to sleep before the swap due at now.
double swap_pacing_wait(SwapPacing *pacing, double now);
// After the swap, when it began and returned: swaps that keep coming back faster than the display
// could show their frames do not wait for it, and the seam paces from then on.
void swap_pacing_swapped(SwapPacing *pacing, double began, double returned);
