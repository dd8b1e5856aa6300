// The player's window natively, the native side of player/player_answers.h: the handle the plug-in
// gets as its parent, the render window's registration (611) kept, the message boxes answered and
// logged as the Windows host logs them (message_box).
#pragma once

#include <cstdint>

#include "player/player_answers.h"
#include "shell/platform.h"

// The handle the plug-in gets as its parent window.
WindowHandle player_window();

// What player_setup needs of this platform.
extern const PlayerPlatform kLinuxPlayerPlatform;

// The buttons for the message boxes in order (dialog_answers.h's ids).
void player_boxes_setup(const int *answers, int answer_count);

// For the platform seam: messages to the player's window, and message boxes.
intptr_t player_answer_message(uint32_t message, uintptr_t wparam, intptr_t lparam);
int player_answer_box(WindowHandle owner, const char *text, const char *caption, uint32_t type);
int player_boxes_shown();

// The window the plug-in registered last (null when none is, or after a withdrawal).
WindowHandle player_registered_window();
