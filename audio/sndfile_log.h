// What a header claimed, read back from libsndfile's log (SFC_GET_LOG_INFO). For a file cut short,
// libsndfile reports the length of the sound it holds for WAV, AIFF, AU and their kin, and hides
// the header's length: only its log tells it, in one of these forms:
//   "data : 1764000 (should be 881978)"      the data chunk's size, and what the file holds
//   "Data length 80000 should be 79199"
//   "  Frames : 441000"                        a frame count in the header (AIFF, RF64, AVR, WAV fact)
//   "... does not match value from 'ds64' chunk of 441000."
//   "RIFF : 1764072 (should be 882032)"       the container only (W64): an estimate
#pragma once

#include <cstdint>

// The header's length in frames, or 0 where the log tells none beyond held_frames. file_size is the
// file's size in bytes, for claims about the container rather than the sound.
int64_t sndfile_log_claimed_frames(const char *log, int64_t held_frames, int64_t file_size);

// Whether the log says the file stops before its end: an Ogg stream without its end-of-stream
// mark, a VOC file without its last block.
bool sndfile_log_says_truncated(const char *log);
