// The "crash" event's line and the one-line note for stderr, built in memory set aside beforehand:
// the thread that formats them may stand beside a faulting one that holds the heap's or the
// loader's lock. The event names the instruction pointer and the registers of the architecture
// that faulted, with addresses in full (8 hex digits on 32-bit Windows, 16 on 64-bit).
#pragma once

#include <windows.h>

#include <cstddef>

// A line built in place: what does not fit is dropped, never allocated.
struct CrashText {
    char bytes[4096];
    size_t used;
};

// host_module is the host's own image, to tell a fault in the host from one in the plug-in.
void crash_event_format(const EXCEPTION_POINTERS &fault, bool on_host_thread, HMODULE host_module,
                        CrashText *event, CrashText *note);
