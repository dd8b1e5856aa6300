#include "audio/sample_cursor.h"

#include <algorithm>

static void cursor_fill(SampleCursor *cursor, long long until) {
    const int frames_per_block = 4096;
    cursor->block.resize(size_t(frames_per_block) * cursor->file_channels);
    while (!cursor->ended && sample_cursor_end(*cursor) < until) {
        sf_count_t got = sf_readf_float(cursor->file, cursor->block.data(), frames_per_block);
        if (got <= 0) {
            cursor->ended = true;
            // sf_strerror can say "No Error." while sf_error holds the decoder's code.
            if (sf_error(cursor->file) != SF_ERR_NO_ERROR) cursor->decode_error = sf_error_number(sf_error(cursor->file));
            return;
        }
        for (sf_count_t i = 0; i < got; ++i) {
            const float *frame = cursor->block.data() + i * cursor->file_channels;
            cursor->kept[0].push_back(frame[0]);
            cursor->kept[1].push_back(frame[cursor->file_channels > 1 ? 1 : 0]);
        }
    }
}

void sample_cursor_window(SampleCursor *cursor, long long first, int count, float *out[2]) {
    cursor_fill(cursor, first + count);
    const long long drop = std::min<long long>(first - cursor->kept_start, cursor->kept[0].size());
    if (drop > 0) {
        for (auto &samples : cursor->kept) samples.erase(samples.begin(), samples.begin() + drop);
        cursor->kept_start += drop;
    }
    const long long kept = cursor->kept[0].size();
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < count; ++i) {
            const long long at = first + i - cursor->kept_start;
            out[c][i] = at >= 0 && at < kept ? cursor->kept[c][at] : 0.0f;
        }
    }
}
