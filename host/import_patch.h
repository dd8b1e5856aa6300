// Points a loaded DLL's imports at the host's own functions, so that the host sees (or changes)
// what the plug-in asks of the system: its clock, its buffer swaps.
#pragma once

#include <windows.h>

// The system functions to replace, by name, in the modules that export them.
struct ImportTarget {
    const char *function;
    const char *const *modules;  // null-terminated list, e.g. {"kernel32.dll", "kernelbase.dll", nullptr}
};

// Rewrites every import slot of library bound to one of the targets (found by name, or by the
// address the loader put there for libraries bound without names) to replacement; returns how
// many it rewrote.
int import_patch(HMODULE library, const ImportTarget *targets, int target_count, void *replacement);
