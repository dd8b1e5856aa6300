// What the process holds after the plug-in stopped, as figures that grow when a plug-in leaks.
#pragma once

#include "host/event_log.h"

// Adds working_set, peak_working_set, gdi_objects and windows (the thread's windows, with
// their children) to line.
void json_process_figures(JsonLine &line);
