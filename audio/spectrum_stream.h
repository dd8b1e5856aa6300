// The spectrum stream: what a player hands a visualization for every video frame, as the analyser
// writes it and the host reads it: the two 576-byte spectrum rows and the two 576-sample waveform
// rows, plus where the frames lie in the audio.
//
// Layout, little-endian: a 40-byte header, then frame_count records of 4 x 576 bytes: the first
// channel's spectrum row, the second's, then the first channel's waveform row and the second's
// (signed 8-bit samples, -128..127). A mono stream has channel_count 1 and each pair of rows equal.
//   0 magic "HSPS"   4 version (2)   8 channel_count (1 or 2)   12 bins (576)
//   16 rate numerator   20 rate denominator (rows a second = numerator / denominator)
//   24 frame_count   28 start_ms (where frame 0 begins in the audio)   32 length_ms (the whole
//   audio's length)   36 reserved (0)
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kStreamBins = 576;
constexpr size_t kStreamHeaderSize = 40;
constexpr size_t kStreamRowsSize = 2 * kStreamBins;  // one pair of rows: spectrum or waveform
constexpr size_t kStreamRecordSize = 2 * kStreamRowsSize;

struct SpectrumStream {
    uint32_t channel_count = 0;
    uint32_t rate_numerator = 0;
    uint32_t rate_denominator = 1;
    uint32_t frame_count = 0;
    uint32_t start_ms = 0;
    uint32_t length_ms = 0;
    const uint8_t *records = nullptr;  // into the caller's buffer
};

// Checks every field and that the size holds exactly frame_count records. On failure returns
// false with a short reason in *error.
bool spectrum_stream_parse(const uint8_t *data, size_t size, SpectrumStream *stream, const char **error);

// The two spectrum rows of frame i (i < frame_count).
inline const uint8_t *spectrum_stream_rows(const SpectrumStream &stream, uint32_t i) {
    return stream.records + size_t(i) * kStreamRecordSize;
}
// The two waveform rows of frame i (i < frame_count).
inline const uint8_t *spectrum_stream_waveform(const SpectrumStream &stream, uint32_t i) {
    return spectrum_stream_rows(stream, i) + kStreamRowsSize;
}

// The header for the fields of stream (records is not used).
void spectrum_stream_header(const SpectrumStream &stream, uint8_t out[kStreamHeaderSize]);
