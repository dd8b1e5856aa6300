// A deterministic tick count for the plug-in. Its imports of GetTickCount (and timeGetTime) are
// pointed at the host's own function, which returns start + round(frame * step): what the plug-in
// draws at frame N then depends on its inputs alone, however long each frame took.
#pragma once

#include <windows.h>

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

// Rewrites the library's import slots of the tick functions; returns how many it rewrote.
int virtual_clock_install(HMODULE library, const VirtualClockSetting &setting);
// The value every tick call returns from now on: start + round(frame * step), modulo 2^32.
void virtual_clock_set_frame(long long frame);
uint32_t virtual_clock_now();
