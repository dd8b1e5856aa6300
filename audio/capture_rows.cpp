#include "audio/capture_rows.h"

#include <algorithm>
#include <cmath>

bool capture_rows_init(CaptureRows *rows, int sample_rate) {
    if (!spectrum_analyser_init(&rows->analyser, sample_rate)) return false;
    const int size = rows->analyser.transform_size;
    // The file analysis's layout: both windows centred on the same sample (at low rates the
    // waveform reaches wider than the transform).
    rows->span = std::max(size, kStreamBins);
    rows->spectrum_offset = rows->span / 2 - size / 2;
    rows->waveform_offset = rows->span / 2 - kStreamBins / 2;
    return true;
}

void capture_rows_free(CaptureRows *rows) {
    spectrum_analyser_free(&rows->analyser);
    *rows = CaptureRows();
}

void capture_waveform_row(const float *samples, uint8_t row[kStreamBins]) {
    for (int i = 0; i < kStreamBins; ++i) {
        const float scaled = samples[i] * 128.0f;
        long value = 0;
        if (scaled >= 127.0f) value = 127;
        else if (scaled <= -128.0f) value = -128;
        else if (scaled == scaled) value = std::lround(scaled);  // a NaN reads as silence
        row[i] = static_cast<uint8_t>(static_cast<int8_t>(value));
    }
}

void capture_rows_make(CaptureRows *rows, const float *left, const float *right, uint8_t record[kStreamRecordSize]) {
    const float *channels[2] = {left, right};
    for (int c = 0; c < 2; ++c) {
        spectrum_analyser_row(&rows->analyser, channels[c] + rows->spectrum_offset, record + c * kStreamBins);
        capture_waveform_row(channels[c] + rows->waveform_offset, record + kStreamRowsSize + c * kStreamBins);
    }
}
