// The spectrum stream: the two 576-byte spectrum rows a player hands a visualization, one pair per
// video frame, as the analyser writes them and the host reads them.
//
// Layout, little-endian: a 32-byte header, then frame_count records of 2 x 576 bytes (the first
// channel's row, then the second's). A mono stream has channel_count 1 and both rows equal.
//   0 magic "HSPS"   4 version (1)   8 channel_count (1 or 2)   12 bins (576)
//   16 rate numerator   20 rate denominator (rows a second = numerator / denominator)
//   24 frame_count   28 reserved (0)
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kStreamBins = 576;
constexpr size_t kStreamHeaderSize = 32;
constexpr size_t kStreamRecordSize = 2 * kStreamBins;

struct SpectrumStream {
    uint32_t channel_count = 0;
    uint32_t rate_numerator = 0;
    uint32_t rate_denominator = 1;
    uint32_t frame_count = 0;
    const uint8_t *records = nullptr;  // into the caller's buffer
};

// Checks every field and that the size holds exactly frame_count records. On failure returns
// false with a short reason in *error.
bool spectrum_stream_parse(const uint8_t *data, size_t size, SpectrumStream *stream, const char **error);

// The two rows of frame i (i < frame_count).
inline const uint8_t *spectrum_stream_rows(const SpectrumStream &stream, uint32_t i) {
    return stream.records + size_t(i) * kStreamRecordSize;
}

void spectrum_stream_header(uint32_t channel_count, uint32_t rate_numerator, uint32_t rate_denominator,
                            uint32_t frame_count, uint8_t out[kStreamHeaderSize]);
