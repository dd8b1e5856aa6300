// One spectrum row (576 bytes, low frequencies first) from the samples of one channel.
//
// Bin layout: bin k stands for k x 22050 / 576 Hz, steps of 38.3 Hz, so bins 0 to 287 (all the
// plug-in sums) reach 11 kHz, where nearly all of a song's energy lies. The transform is 1152
// samples long at 44.1 kHz and scales with the sample rate, so a tone lands in the same bin in any
// file; bins above the file's Nyquist frequency stay 0.
// Window: Hann over the transform (26 ms), centred on the frame's time.
// Scaling: linear in amplitude, so beats move the sum strongly: a sine of amplitude a gives its
// bin a x kFullScaleValue, clamped to 255 (a full-scale sine saturates). Music at an ordinary
// level gives a row sum of a few thousand, the range over which the plug-in's light and rays
// change.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/spectrum_stream.h"

constexpr float kFullScaleValue = 1024.0f;

struct SpectrumAnalyser {
    int sample_rate = 0;
    int transform_size = 0;
    std::vector<float> window;
    float scale = 0;  // from a transform magnitude to a bin value
    float *input = nullptr;
    void *output = nullptr;  // fftwf_complex[transform_size / 2 + 1]
    void *plan = nullptr;
};

// False for a sample rate outside 1000 .. 768000.
bool spectrum_analyser_init(SpectrumAnalyser *analyser, int sample_rate);
void spectrum_analyser_free(SpectrumAnalyser *analyser);

// samples: transform_size samples of one channel, centred on the frame's time.
void spectrum_analyser_row(SpectrumAnalyser *analyser, const float *samples, uint8_t row[kStreamBins]);
