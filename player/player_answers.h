// What the player answers a visualization that asks its main window: WM_USER with the question's
// number in lParam, each logged as a "host_message" event. The same for the Windows host and the
// native program; what touches windows (the embed function, the render window's registration) and
// files is each program's own, handed over in PlayerPlatform.
#pragma once

#include <cstdint>
#include <string>

#include "player/event_log.h"

// The questions, by the numbers the player gives them.
constexpr intptr_t kAskVersion = 0;
constexpr intptr_t kAskPlaying = 104;
constexpr intptr_t kAskTime = 105;            // wParam 0: position in ms; 1: the track's length in s
constexpr intptr_t kAskListLength = 124;
constexpr intptr_t kAskListPosition = 125;
constexpr intptr_t kAskEmbedWindow = 505;     // wParam 0: the function; or a state: the frame
constexpr intptr_t kAskListFile = 211;
constexpr intptr_t kAskListTitle = 212;
constexpr intptr_t kAskIniFile = 334;
constexpr intptr_t kAskIniFolder = 335;
constexpr intptr_t kAskPluginFolder = 336;

struct PlayerPlatform {
    const char *separators;  // of the platform's paths, the first one to join with
    // The answer to 505 (when embedding is on): wparam 0 asks for the embed function, any other
    // value is the state record of a frame to make.
    intptr_t (*embed)(uintptr_t wparam);
    // The render window's (de)registration (611; window 0 withdraws it): keeps it, and adds what
    // is known of it to the event.
    void (*registered)(uintptr_t window, JsonLine &line);
    // Opens a file for writing without truncating it; true when it can be written, with whether
    // it was made.
    bool (*open_ini)(const std::string &path, bool *created);
    // Whether open_ini would succeed, leaving no file behind: the file is there and writable, or
    // its folder takes a new one.
    bool (*ini_writable)(const std::string &path);
};

// version: the answer to 0 (0x5066 for a 5.66 player); embed: false answers 505 with 0, as a
// player before 5.0; track: the audio's path as the plug-in should see it, or null for none.
void player_setup(intptr_t version, bool embed, const char *track, const PlayerPlatform &platform);

// The player's files for a plug-in in plugin_folder: winamp.ini lies in the folder above it when
// that is named Plugins (any case), as in a player's own folder, else in run_folder (also when the
// folder above cannot be written). Logs a "player_files" event. The file is made, empty, only when
// the plug-in asks for its path (334), never before and never deleted: most plug-ins never ask.
void player_files_prepare(const std::string &plugin_folder, const std::string &run_folder);

// The folder of path: "." for a bare name, the root with its separator.
std::string path_folder(const std::string &path, const char *separators);

void player_set_playing(bool playing);
void player_set_time(uint32_t position_ms, uint32_t length_seconds);

// The answer to question number with wparam; false for a number the player does not know (the
// answer is then 0). *text is set to the text the answer points to, if it is one.
bool player_answer(uintptr_t wparam, intptr_t number, intptr_t *answer, const char **text);

// A host message (WM_USER) to the player's window: answered, and logged the first time each
// question comes with each wParam (an unknown one only the first time at all), registrations
// every time; the ini file's path with whether the player made the file.
intptr_t player_host_message(uintptr_t wparam, intptr_t lparam);
