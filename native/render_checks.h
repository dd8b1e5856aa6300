// What render and play check before anything runs, each refusal one line: the values of their
// options and the files they read.
#pragma once

#include <cstdint>
#include <string>

#include "settings/user_options.h"
#include "shell/platform_linux_egl.h"

// "WxH", even sides from 16 to 4096 (what a video takes; even_sides false for a window).
bool parse_size_value(const std::string &text, bool even_sides, int *width, int *height, std::string *error);
// "N" or "N/D", 1 to 240 frames a second.
bool parse_fps_value(const std::string &text, uint32_t *numerator, uint32_t *denominator, std::string *error);
// Seconds, 0 (when allow_zero) up to a million; what names the value in the message.
bool parse_seconds_value(const std::string &text, const char *what, bool allow_zero, double *seconds,
                         std::string *error);
// auto, software or device:N (0-1000).
bool parse_gl_value(const std::string &text, EglDisplayChoice *choice, int *device, std::string *error);

// A readable regular file ("the audio file", "the options file"), or one line why not.
bool check_regular_file(const std::string &path, const char *what, std::string *error);
// The options as the plug-in reads them (the first 56 bytes), each in the range the options
// dialog offers; false with one line.
bool read_options_file(const std::string &path, UserOptions *options, std::string *error);
// Whether two names are one file (device and inode, through any link); false when either is missing.
bool same_file(const std::string &a, const std::string &b);
// Minutes and seconds, "1:05"; hours when there are any, "6:00:00".
std::string duration_text(double seconds);
