#include "audio/spectrum_analyser.h"

#include <fftw3.h>

#include <cmath>

bool spectrum_analyser_init(SpectrumAnalyser *analyser, int sample_rate) {
    if (sample_rate < 1000 || sample_rate > 768000) return false;
    spectrum_analyser_free(analyser);
    const int size = static_cast<int>(std::lround(2.0 * kStreamBins * sample_rate / 44100.0));
    analyser->sample_rate = sample_rate;
    analyser->transform_size = size;
    analyser->window.resize(size);
    double window_sum = 0;
    for (int i = 0; i < size; ++i) {
        analyser->window[i] = static_cast<float>(0.5 - 0.5 * std::cos(2 * M_PI * (i + 0.5) / size));
        window_sum += analyser->window[i];
    }
    // A sine of amplitude a has a peak magnitude of a x window_sum / 2.
    analyser->scale = static_cast<float>(kFullScaleValue * 2.0 / window_sum);
    analyser->input = fftwf_alloc_real(size);
    fftwf_complex *output = fftwf_alloc_complex(size / 2 + 1);
    analyser->output = output;
    analyser->plan = fftwf_plan_dft_r2c_1d(size, analyser->input, output, FFTW_ESTIMATE);
    return true;
}

void spectrum_analyser_free(SpectrumAnalyser *analyser) {
    if (analyser->plan) fftwf_destroy_plan(static_cast<fftwf_plan>(analyser->plan));
    fftwf_free(analyser->input);
    fftwf_free(analyser->output);
    *analyser = SpectrumAnalyser();
}

void spectrum_analyser_row(SpectrumAnalyser *analyser, const float *samples, uint8_t row[kStreamBins]) {
    const int size = analyser->transform_size;
    for (int i = 0; i < size; ++i) analyser->input[i] = samples[i] * analyser->window[i];
    fftwf_execute(static_cast<fftwf_plan>(analyser->plan));
    const fftwf_complex *output = static_cast<const fftwf_complex *>(analyser->output);
    const int bins_present = size / 2 + 1;
    for (int k = 0; k < kStreamBins; ++k) {
        float value = 0;
        if (k < bins_present) value = std::hypot(output[k][0], output[k][1]) * analyser->scale;
        // Clamp before converting: a loud bin saturates instead of wrapping around, and a NaN
        // from a damaged float file reads as silence.
        row[k] = !(value > 0.0f) ? 0 : value >= 254.5f ? 255 : static_cast<uint8_t>(value + 0.5f);
    }
}
