#include "host/spectrum_fill.h"

#include <cstdlib>
#include <cstring>

static bool parse_int(const char *text, const char **end, int low, int high, int *value) {
    char *stop = nullptr;
    long v = std::strtol(text, &stop, 10);
    if (stop == text || v < low || v > high) return false;
    *value = static_cast<int>(v);
    *end = stop;
    return true;
}

bool spectrum_parse(const char *text, SpectrumSpec *spec) {
    SpectrumSpec out;
    const char *rest = nullptr;
    if (std::strcmp(text, "silence") == 0) {
        *spec = out;
        return true;
    }
    if (std::strncmp(text, "constant:", 9) == 0) {
        out.kind = SpectrumKind::constant;
        if (!parse_int(text + 9, &rest, 0, 255, &out.value) || *rest != 0) return false;
        *spec = out;
        return true;
    }
    if (std::strncmp(text, "tone:", 5) == 0) {
        out.kind = SpectrumKind::tone;
        out.value = 255;
        if (!parse_int(text + 5, &rest, 0, kSpectrumBins - 1, &out.bin[0])) return false;
        out.bin[1] = out.bin[0];
        if (*rest == ',' && !parse_int(rest + 1, &rest, 0, kSpectrumBins - 1, &out.bin[1]))
            return false;
        if (*rest == '@' && !parse_int(rest + 1, &rest, 0, 255, &out.value)) return false;
        if (*rest != 0) return false;
        *spec = out;
        return true;
    }
    return false;
}

void spectrum_fill(const SpectrumSpec &spec, int frame, uint8_t rows[2][kSpectrumBins]) {
    (void)frame;  // the fixed sources do not change over time
    for (int channel = 0; channel < 2; ++channel) {
        for (int i = 0; i < kSpectrumBins; ++i) {
            int v = 0;
            if (spec.kind == SpectrumKind::constant) {
                v = spec.value;
            } else if (spec.kind == SpectrumKind::tone) {
                int distance = std::abs(i - spec.bin[channel]);
                v = spec.value - distance * spec.value / 4;
                if (v < 0) v = 0;
            }
            rows[channel][i] = static_cast<uint8_t>(v);
        }
    }
}
