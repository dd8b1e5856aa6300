#include "host/spectrum_fill.h"

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

void spectrum_fill(const SpectrumSpec &spec, int frame, uint8_t rows[2][kSpectrumBins]) {
    static_assert(kStreamBins == kSpectrumBins, "a stream row is a spectrum row");
    if (spec.kind == SpectrumKind::stream) {
        if (g_stream.frame_count == 0) return;
        const uint32_t last = g_stream.frame_count - 1;
        const uint32_t index = frame < 0 ? 0 : uint32_t(frame) > last ? last : uint32_t(frame);
        std::memcpy(rows, spectrum_stream_rows(g_stream, index), kStreamRecordSize);
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
