// What the player answers a visualization that asks its main window: WM_USER with the question's
// number in lParam. The render window's registration (611) is the parent window's own business.
#pragma once

#include <windows.h>

#include <cstdint>

// The questions, by the numbers the player gives them.
constexpr LPARAM kAskVersion = 0;
constexpr LPARAM kAskPlaying = 104;
constexpr LPARAM kAskTime = 105;            // wParam 0: position in ms; 1: the track's length in s
constexpr LPARAM kAskListLength = 124;
constexpr LPARAM kAskListPosition = 125;
constexpr LPARAM kAskEmbedWindow = 505;     // wParam 0: the function; or a state: the frame
constexpr LPARAM kAskListFile = 211;
constexpr LPARAM kAskListTitle = 212;
constexpr LPARAM kAskIniFile = 334;
constexpr LPARAM kAskIniFolder = 335;
constexpr LPARAM kAskPluginFolder = 336;

// version: the answer to 0 (0x5066 for a 5.66 player); embed: false answers 505 with 0, as a
// player before 5.0; track: the audio's path as the plug-in should see it, or null for none.
void player_setup(intptr_t version, bool embed, const char *track);

// The player's files for the DLL at dll_path (a full path): winamp.ini lies in the folder above
// the DLL's when that is named Plugins (any case), as in a player's own folder, else in the run's
// folder (the current one); it is created empty when missing and never deleted. Logs a
// "player_files" event.
void player_files_prepare(const char *dll_path);

void player_set_playing(bool playing);
void player_set_time(uint32_t position_ms, uint32_t length_seconds);

// The answer to question number with wparam; false for a number the player does not know (the
// answer is then 0). *text is set to the text the answer points to, if it is one.
bool player_answer(WPARAM wparam, LPARAM number, LRESULT *answer, const char **text);
