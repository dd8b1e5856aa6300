#include "player/spectrum_fill.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

static std::vector<uint8_t> g_stream_bytes;
static SpectrumStream g_stream;

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
    if (std::strncmp(text, "stream:", 7) == 0 && text[7] != 0) {
        out.kind = SpectrumKind::stream;
        out.path = text + 7;
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

bool spectrum_stream_load(const SpectrumSpec &spec, std::string *error) {
    FILE *file = std::fopen(spec.path, "rb");
    if (file == nullptr) {
        *error = "cannot open";
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t block[65536];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.insert(bytes.end(), block, block + got);
    const bool read_error = std::ferror(file) != 0;
    std::fclose(file);
    const char *reason = nullptr;
    if (read_error) {
        *error = "cannot read";
        return false;
    }
    SpectrumStream stream;
    if (!spectrum_stream_parse(bytes.data(), bytes.size(), &stream, &reason)) {
        *error = reason;
        return false;
    }
    g_stream_bytes.swap(bytes);
    stream.records = g_stream_bytes.data() + kStreamHeaderSize;
    g_stream = stream;
    return true;
}

const SpectrumStream &spectrum_stream_loaded() { return g_stream; }

// The stream's record for a frame: the last one past its end.
static uint32_t stream_index(int frame) {
    const uint32_t last = g_stream.frame_count - 1;
    return frame < 0 ? 0 : uint32_t(frame) > last ? last : uint32_t(frame);
}

void spectrum_fill(const SpectrumSpec &spec, int frame, uint8_t rows[2][kSpectrumBins]) {
    static_assert(kStreamBins == kSpectrumBins, "a stream row is a spectrum row");
    if (spec.kind == SpectrumKind::stream) {
        if (g_stream.frame_count == 0) return;
        std::memcpy(rows, spectrum_stream_rows(g_stream, stream_index(frame)), kStreamRowsSize);
        return;
    }
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

// A signed sample in the unsigned byte the module holds.
static uint8_t sample_byte(int value) { return static_cast<uint8_t>(static_cast<int8_t>(value)); }

static void synthetic_wave(const SpectrumSpec &spec, int frame, int channel, uint8_t row[kSpectrumBins]) {
    const double pi = 3.14159265358979323846;
    const double level = spec.value / 8.0;  // a bin of V is a sine of amplitude V / 1024 of full scale
    uint32_t noise = 2654435761u * uint32_t(frame * 2 + channel + 1);
    for (int i = 0; i < kSpectrumBins; ++i) {
        double v = 0;
        if (spec.kind == SpectrumKind::tone) {
            v = level * std::sin(2 * pi * spec.bin[channel] * i / (2.0 * kSpectrumBins));  // the bin's frequency
        } else if (spec.kind == SpectrumKind::constant) {
            noise = noise * 1664525u + 1013904223u;
            v = level * ((noise >> 8) / double(1 << 24) * 2 - 1);
        }
        row[i] = sample_byte(static_cast<int>(std::lround(v)));
    }
}

void waveform_fill(const SpectrumSpec &spec, int frame, int channels, uint8_t rows[2][kSpectrumBins]) {
    if (channels <= 0) return;
    uint8_t both[2][kSpectrumBins];
    if (spec.kind == SpectrumKind::stream) {
        if (g_stream.frame_count == 0) return;
        std::memcpy(both, spectrum_stream_waveform(g_stream, stream_index(frame)), kStreamRowsSize);
    } else {
        for (int channel = 0; channel < 2; ++channel) synthetic_wave(spec, frame, channel, both[channel]);
    }
    if (channels >= 2) {
        std::memcpy(rows, both, sizeof both);
        return;
    }
    // One channel: the player's mix of the two.
    for (int i = 0; i < kSpectrumBins; ++i)
        rows[0][i] = sample_byte((int8_t(both[0][i]) + int8_t(both[1][i])) / 2);
    std::memset(rows[1], 0, kSpectrumBins);
}
