// A deterministic tick count for the plug-in. Its imports of GetTickCount (and timeGetTime) are
// pointed at the host's own function, which returns start + round(frame * step): what the plug-in
// draws at frame N then depends on its inputs alone, however long each frame took.
#pragma once

#include <windows.h>

#include <cstdint>

#include "host/clock_setting.h"

// Rewrites the library's import slots of the tick functions; returns how many it rewrote.
int virtual_clock_install(HMODULE library, const VirtualClockSetting &setting);
// The value every tick call returns from now on: start + round(frame * step), modulo 2^32.
void virtual_clock_set_frame(long long frame);
uint32_t virtual_clock_now();
