// A deterministic tick count for the plug-in. Its imports of GetTickCount (and timeGetTime) are
// pointed at the host's own function, which returns start + round(frame * step): what the plug-in
// draws at frame N then depends on its inputs alone, however long each frame took.
#pragma once

#include <windows.h>

#include <cstdint>

#include "player/clock_setting.h"

// Uses setting and rewrites the library's import slots of the tick functions to return
// virtual_clock_now(); returns how many it rewrote.
int virtual_clock_install(HMODULE library, const VirtualClockSetting &setting);
