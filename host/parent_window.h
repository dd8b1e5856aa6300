// The player's main window as far as a visualization sees it: the owner of its boxes and
// windows, and the target of the host messages (WM_USER, the message number in lParam), which
// player_answers.h answers and logs; 611 registers the render window, kept here.
#pragma once

#include <windows.h>

#include <cstdint>

#include "player/event_log.h"

// Registers the class and creates the visible top-level window.
HWND parent_window_create(HINSTANCE instance);
void parent_window_destroy(HWND window);
HWND parent_window();  // the one made, until destroyed

// For player_answers.h: keeps the window registered through 611 (0 withdraws it) and adds what
// it is to the event.
void parent_window_note_registration(uintptr_t window, JsonLine &line);
// The window last registered through 611 (null when none is, or after a withdrawal).
HWND parent_window_registered();
// registered_window_alive and registered_class_alive (player_platform.h) tell, after Quit,
// whether the last window registered through 611 still exists, and whether its class is still
// registered for the instance that created it.
