// The files the host looks at for the player, through Win32 as the player does: its winamp.ini
// (for player_answers.h) and the file a caller makes to start the frames (player_platform.h's
// file_exists).
#pragma once

#include <string>

// Opens the file for writing without truncating it, creating it when missing; true when it can be
// written, with *created whether it was made.
bool ini_file_open(const std::string &path, bool *created);
// Whether ini_file_open would succeed, leaving nothing behind.
bool ini_file_writable(const std::string &path);
