// The player's main window as far as a visualization sees it: the owner of its boxes and
// windows, and the target of the host messages (WM_USER with lParam 505 and 611).
#pragma once

#include <windows.h>

#include <cstdint>

// Registers the class and creates the visible top-level window. probe_answer is what
// WM_USER/505 returns (0 plays a player that is too old).
HWND parent_window_create(HINSTANCE instance, intptr_t probe_answer);
void parent_window_destroy(HWND window);

// The window last registered through 611 (null when none is, or after a withdrawal).
HWND parent_window_registered();
// After Quit: whether the last window registered through 611 still exists, and whether its class
// is still registered for the instance that created it.
bool parent_window_last_registered_alive();
bool parent_window_last_class_registered();
