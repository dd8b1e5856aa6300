// A fault anywhere in the host's process (the plug-in, a thread of its own, a system DLL it called,
// the host itself), a stack overflow included, becomes one "crash" event in the log, and the
// process ends at once with the fault's code: no debugger keeps it alive waiting for a person who
// is not there.
//
// The faulting thread may stand on a corrupt heap, wait for a lock another thread holds, or have
// no stack left. So it only hands the fault over to a thread made at install, which writes the
// event from memory set aside then, through handles taken then: no heap, no stdio, no lock. A stack
// overflow is handed over as it happens, before a handler of the plug-in's could take it. The
// event names the instruction pointer and the registers of the architecture that faulted, with
// addresses in full (8 hex digits on 32-bit Windows, 16 on 64-bit).
#pragma once

// After event_log_open, before the plug-in is loaded.
void crash_report_install();
