// The rows a player hands a visualization for one frame, made from captured samples exactly as
// the file analysis makes them from a file's: per channel a spectrum row from the transform's
// window centred on the frame's moment, and the 576 samples there as a signed 8-bit waveform row.
// The record has the spectrum stream's layout (audio/spectrum_stream.h): spectrum rows first,
// then waveform rows.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/spectrum_analyser.h"
#include "audio/spectrum_stream.h"

struct CaptureRows {
    SpectrumAnalyser analyser;
    int span = 0;             // samples one frame reads: the transform or the waveform, the longer
    int spectrum_offset = 0;  // where the transform's samples start in the span
    int waveform_offset = 0;  // where the waveform's do
};

// False for a sample rate the analyser refuses.
bool capture_rows_init(CaptureRows *rows, int sample_rate);
void capture_rows_free(CaptureRows *rows);

// left and right: rows->span samples each, the frame's moment at span / 2.
void capture_rows_make(CaptureRows *rows, const float *left, const float *right, uint8_t record[kStreamRecordSize]);

// The waveform row of 576 samples: -128..127 in unsigned bytes, as a player hands it.
void capture_waveform_row(const float *samples, uint8_t row[kStreamBins]);

// A channel's loudness in a record: the sum of its spectrum row (0 for silence).
inline int capture_rows_loudness(const uint8_t record[kStreamRecordSize], int channel) {
    int sum = 0;
    for (int k = 0; k < kStreamBins; ++k) sum += record[channel * kStreamBins + k];
    return sum;
}
