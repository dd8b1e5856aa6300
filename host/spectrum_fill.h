// The spectrum rows the host hands the plug-in before every Render: silence, one constant
// value, or a tone (a peak at one bin per channel). Later sources (a stream analysed from real
// audio) take the frame index.
#pragma once

#include <cstdint>

#include "shell/vis_module.h"

enum class SpectrumKind { silence, constant, tone };

struct SpectrumSpec {
    SpectrumKind kind = SpectrumKind::silence;
    int value = 0;          // constant: every bin; tone: the peak's height
    int bin[2] = {0, 0};    // tone: the peak's bin per channel
};

// "silence", "constant:V" (0-255), "tone:BIN" or "tone:LEFT,RIGHT" (bins 0-575), each tone
// optionally followed by "@V" for the peak height (default 255).
bool spectrum_parse(const char *text, SpectrumSpec *spec);

// Tone: a triangle peak, falling by a quarter of its height per bin, zero elsewhere.
void spectrum_fill(const SpectrumSpec &spec, int frame, uint8_t rows[2][kSpectrumBins]);
