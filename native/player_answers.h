// The player's side of the plug-in's conversation, natively: the questions it asks the player's
// window (WM_USER, the number in lParam) answered as the Windows host answers them
// (host/player_answers.cpp), the render window's registration (611) kept, the message boxes
// answered; each logged as the host logs it (host_message, message_box, player_files).
#pragma once

#include <cstdint>

#include "shell/platform.h"

// The handle the plug-in gets as its parent window.
WindowHandle player_window();

// version: the answer to 0; embed: false answers 505 with 0; track: the audio's path, or null;
// answers: the buttons for the message boxes in order (0: the box's default).
void player_setup(intptr_t version, bool embed, const char *track, const int *answers, int answer_count);

// winamp.ini lies in the folder above the plug-in's when that is named Plugins, else in the run's
// folder; created empty when missing, never deleted. Logs "player_files".
void player_files_prepare(const char *plugin_folder, const char *run_folder);

void player_set_playing(bool playing);
void player_set_time(uint32_t position_ms, uint32_t length_seconds);

// For the platform seam: messages to the player's window, and message boxes.
intptr_t player_answer_message(uint32_t message, uintptr_t wparam, intptr_t lparam);
int player_answer_box(WindowHandle owner, const char *text, const char *caption, uint32_t type);
int player_boxes_shown();

// The window the plug-in registered last, and whether it and its class outlived the plug-in.
WindowHandle player_registered_window();
bool player_last_registered_alive();
bool player_last_class_registered();
