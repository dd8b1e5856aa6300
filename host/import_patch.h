// Points a loaded DLL's imports at the host's own functions, so that the host sees (or changes)
// what the plug-in asks of the system: its clock, its buffer swaps.
//
// What is caught: the library's import slots bound to a target, found by the target's name in an
// import from one of its modules (the DLL's name compared without regard to case, as the loader
// does), or by the address the loader put there (imports by ordinal, forwarded ones, a library
// bound without names); and the library's own GetProcAddress calls that resolve to a target (by
// name or ordinal, from any module handle), which answer the replacement.
// What escapes: delay-loaded imports (their slots are filled on first use, after the patch); a
// function found other than through the library's imported GetProcAddress (LdrGetProcedureAddress,
// wglGetProcAddress, reading an export table); the imports of every other DLL, such as a helper
// DLL the plug-in ships or loads, which may swap or read the clock for it; and ways of telling the
// time that are no call (the shared user page, rdtsc).
// A slot's page is made writable for the write alone, keeping its execute right (code may share it
// and be running there), and then gets its own protection back.
// Works on the host's own image format, which is the library's (PE32 on i686, PE32+ on x86_64).
#pragma once

#include <windows.h>

// The system functions to replace, by name, in the modules that export them.
struct ImportTarget {
    const char *function;
    const char *const *modules;  // null-terminated list, e.g. {"kernel32.dll", "kernelbase.dll", nullptr}
};

// Rewrites every import slot of library bound to one of the targets to replacement, and routes the
// library's GetProcAddress lookups of them to it from now on; returns how many slots it rewrote
// (its imports of GetProcAddress not counted). The targets are kept: give static ones.
int import_patch(HMODULE library, const ImportTarget *targets, int target_count, void *replacement);

