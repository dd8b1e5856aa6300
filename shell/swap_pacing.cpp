#include "shell/swap_pacing.h"

namespace {

// A few frames tell a swap that waits from one that does not, without mistaking one slow frame
// (or a driver that returns early once) for the absence of vsync.
constexpr int kQuickSwapsToPace = 8;

}  // namespace

void swap_pacing_set_rate(SwapPacing *pacing, int hertz) { pacing->period = 1.0 / (hertz > 0 ? hertz : 60); }

double swap_pacing_wait(SwapPacing *pacing, double now) {
    if (!pacing->paced) return 0;
    // A frame that came late (a slow draw, a stop) starts the beat again instead of rushing the
    // frames after it to catch up.
    if (pacing->deadline < 0 || now > pacing->deadline + pacing->period) pacing->deadline = now;
    const double wait = pacing->deadline - now;
    pacing->deadline += pacing->period;
    return wait > 0 ? wait : 0;
}

void swap_pacing_swapped(SwapPacing *pacing, double began, double returned) {
    if (!pacing->paced && pacing->last_return >= 0) {
        // A swap that waits for the display either blocks or comes a refresh after the last; a
        // slow frame of our own proves nothing either way.
        if (returned - began > pacing->period / 4) pacing->quick_swaps = 0;
        else if (returned - pacing->last_return < pacing->period * 0.8) pacing->quick_swaps += 1;
        if (pacing->quick_swaps >= kQuickSwapsToPace) pacing->paced = true;
    }
    pacing->last_return = returned;
}
