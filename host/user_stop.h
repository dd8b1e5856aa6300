// What the user did to end the run: Escape pressed in the plug-in's window, or its (or the embed
// frame's) close box. The plug-in answers both with the same quit message, so the host watches the
// messages that reach its windows: a WH_GETMESSAGE hook for posted ones (the key, the close box's
// WM_SYSCOMMAND) and a WH_CALLWNDPROC hook for sent ones (WM_CLOSE), on the host's thread and on
// the thread of the plug-in's window where that is another one.
#pragma once

#include <windows.h>

bool user_stop_install();
// Hooks the thread that owns window too, once per thread (a plug-in that makes its window on a thread
// of its own). Null is ignored.
void user_stop_watch(HWND window);
void user_stop_remove();
// "escape" or "close" for the first of them seen since the last call, else null; the next one counts anew.
const char *user_stop_take();
