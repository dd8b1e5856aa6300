// The player's main window as far as a visualization sees it: the owner of its boxes and
// windows, and the target of the host messages (WM_USER, the message number in lParam): 611
// registers the render window, player_answers.h answers the others. Each is logged as a
// "host_message" event (see worth_logging).
#pragma once

#include <windows.h>

#include <cstdint>

// Registers the class and creates the visible top-level window.
HWND parent_window_create(HINSTANCE instance);
void parent_window_destroy(HWND window);
HWND parent_window();  // the one made, until destroyed

// The window last registered through 611 (null when none is, or after a withdrawal).
HWND parent_window_registered();
// After Quit: whether the last window registered through 611 still exists, and whether its class
// is still registered for the instance that created it.
bool parent_window_last_registered_alive();
bool parent_window_last_class_registered();
