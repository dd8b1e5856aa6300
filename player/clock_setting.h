// The deterministic clock's setting, arithmetic and current tick, shared by the Windows host
// (which points the plug-in's tick imports at virtual_clock_now, host/virtual_clock.h) and the
// native player (which answers the seam's tick count with it): frame N of either sees the same tick.
#pragma once

#include <cstdint>

// The player's machine had been up ten seconds. Not 0: the plug-in's caches treat a clock of 0 as
// "never computed".
constexpr uint32_t kVirtualClockDefaultStart = 10000;

struct VirtualClockSetting {
    bool enabled = false;
    uint32_t start = kVirtualClockDefaultStart;
    double step_ms = 0;  // per frame; may be a fraction (1000/30 for 30 frames a second)
};

// "40", "33.5" or "1000/30": a step above 0 and at most 10 minutes.
bool virtual_clock_parse_step(const char *text, double *step_ms);

// start + round(frame * step), modulo 2^32.
uint32_t virtual_clock_tick(const VirtualClockSetting &setting, long long frame);

// The tick the plug-in sees: set by the player's thread before each frame, read from any thread.
void virtual_clock_use(const VirtualClockSetting &setting);
// From now on the tick is start + round(frame * step), modulo 2^32.
void virtual_clock_set_frame(long long frame);
uint32_t virtual_clock_now();
