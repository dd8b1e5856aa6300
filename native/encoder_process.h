// The encoder: the ffmpeg program as a child, fed raw frames on its stdin. A program rather than
// the libraries, since Debian's ffmpeg brings every codec and muxer, and muxing the original
// file's sound for a part of it (-ss, -t) is a pair of its options.
//
// The child dies with this process (parent-death signal, checked after it is armed, in case the
// parent was already gone) and lives in a process group of its own, so a Ctrl-C on the terminal
// reaches only this process, which then stops it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct EncoderProcess {
    pid_t pid = -1;
    int input = -1;      // the write end of its stdin
    int messages = -1;   // an unnamed file holding its stderr
    int status = -1;     // its wait status once reaped
};

// Whether ffmpeg can be started; false with one line.
bool encoder_available(std::string *error);
// Starts argv[0] (looked up in PATH) with keep_fd left open in it (-1: none). False with the
// reason when it cannot start.
bool encoder_start(const std::vector<std::string> &argv, int keep_fd, EncoderProcess *encoder, std::string *error);
// Writes all of size bytes, or false (the encoder went away).
bool encoder_write(EncoderProcess *encoder, const void *bytes, size_t size);
// The same for many rows at once, each of row_bytes, at rows[0..count).
bool encoder_write_rows(EncoderProcess *encoder, const uint8_t *const *rows, int count, size_t row_bytes);
// Closes its input and waits for it to end; true when it ended with status 0. When stop_asked
// says so meanwhile, it is stopped instead (false).
bool encoder_finish(EncoderProcess *encoder, bool (*stop_asked)() = nullptr);
// Closes its input, gives it grace_seconds, then kills its group; reaps it.
void encoder_stop(EncoderProcess *encoder, double grace_seconds);
// From a signal handler: kills the encoder's group at once.
void encoder_kill_now();
// The last line it wrote on stderr, or "".
std::string encoder_last_message(const EncoderProcess &encoder);
