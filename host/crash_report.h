// A fault anywhere in the host's process (the plug-in, a thread of its own, a system DLL it called,
// the host itself) becomes one "crash" event in the log, and the process ends at once with the
// fault's code: no debugger keeps it alive waiting for a person who is not there.
#pragma once

void crash_report_install();
