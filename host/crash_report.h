// A fault that nobody in the host's process handles (in the plug-in, a thread of its own, a system
// DLL it called, the host itself), a stack overflow included, becomes one "crash" event in the log
// (crash_event.h), and the process ends at once with the fault's code: no debugger keeps it alive
// waiting for a person who is not there.
//
// A fault is the plug-in's first: its own SEH frames, vectored handlers and top-level filter may
// take it, and one they repair is no crash. The host's top-level filter stays in place: the
// plug-in's SetUnhandledExceptionFilter (imported, or found with GetProcAddress) only names the
// filter the host calls first, and one set any other way (in DllMain, by a DLL of its own) is put
// behind the host's at the next call into the plug-in. What escapes: a filter that ends the
// process itself, and one set by a helper DLL and crashed through before the host's next call.
//
// The faulting thread may stand on a corrupt heap, wait for a lock another thread holds, or have
// no stack left. So it only hands the fault over to a thread made at install, which writes the
// event from memory set aside then, through handles taken then: no heap, no stdio, no lock. Wine
// ends a thread whose stack overflow finds no vectored handler to take it without a word (the
// search for an SEH handler needs more stack than the overflow leaves), so that thread only keeps
// a copy of its overflow; the reporting thread writes it when the thread dies in it, and forgets
// it when the thread ends its own way or runs again above where it overflowed.
#pragma once

#include <windows.h>

// After event_log_open, before the plug-in is loaded.
void crash_report_install();
// After the plug-in is loaded: routes its SetUnhandledExceptionFilter to the host.
void crash_report_watch(HMODULE library);
// Before a call into the plug-in: puts the host's top-level filter back where something else
// replaced it, and calls the one found there first from now on.
void crash_report_reclaim();
