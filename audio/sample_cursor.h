// Reads a file forward and hands out windows of its first two channels; samples before the start
// or past the end are silence. Windows must not move backwards, so what lies before a window is
// dropped: memory stays at about one window and one decoded block, whatever the file's length.
#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

struct SampleCursor {
    SNDFILE *file = nullptr;
    int file_channels = 0;
    std::vector<float> kept[2];  // samples kept_start, kept_start + 1, ...
    long long kept_start = 0;
    std::vector<float> block;
    bool ended = false;
    std::string decode_error;  // why the decoder stopped, when it stopped with an error
};

inline long long sample_cursor_end(const SampleCursor &cursor) {
    return cursor.kept_start + static_cast<long long>(cursor.kept[0].size());
}

// count samples from first on, per channel (the second repeats the first in a mono file).
void sample_cursor_window(SampleCursor *cursor, long long first, int count, float *out[2]);
