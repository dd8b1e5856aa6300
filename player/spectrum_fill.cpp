#include "player/spectrum_fill.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static SpectrumStreamReader g_reader;
static bool g_loaded = false;
static bool g_row_missing = false;              // the last frame's row lay past where the stream broke off
static const uint8_t *g_live_record = nullptr;  // a live stream's newest, taken once a frame
static bool g_live_fresh = false;               // records came for this frame

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
    spectrum_stream_close(&g_reader);
    if (!spectrum_stream_open(spec.path, &g_reader)) {
        *error = g_reader.reason;
        return false;
    }
    g_loaded = true;
    return true;
}

const SpectrumStream &spectrum_stream_loaded() {
    static const SpectrumStream none;
    return g_loaded ? g_reader.stream : none;
}

void spectrum_stream_take_live() {
    if (!g_loaded || !g_reader.stream.live) return;
    uint32_t arrived = 0;
    g_live_record = spectrum_stream_newest(&g_reader, &arrived);
    g_live_fresh = arrived > 0;
}

const char *spectrum_stream_stopped(bool *failed) {
    *failed = false;
    if (!g_loaded) return nullptr;
    if (g_reader.stream.live) {
        // What came with the close is shown first; the frame after it ends the run.
        if (g_live_fresh || g_reader.end == StreamEnd::none) return nullptr;
        *failed = g_reader.end == StreamEnd::failed;
        return g_reader.reason;
    }
    if (!g_row_missing && g_reader.end != StreamEnd::failed) return nullptr;
    *failed = true;
    return g_reader.reason;
}

long long spectrum_stream_live_row() {
    return g_loaded && g_reader.stream.live && g_live_record ? (long long)g_reader.rows_read - 1 : -1;
}

// The record of a frame: the last one past the stream's end, a live stream's newest. Null (and
// g_row_missing) when the stream broke off before it.
static const uint8_t *stream_record(int frame) {
    if (!g_loaded) return nullptr;
    if (g_reader.stream.live) return g_live_record;
    if (g_reader.stream.frame_count == 0) return nullptr;
    const uint32_t last = g_reader.stream.frame_count - 1;
    const uint32_t row = frame < 0 ? 0 : uint32_t(frame) > last ? last : uint32_t(frame);
    const uint8_t *record = spectrum_stream_record(&g_reader, row);
    // A row behind the window (a second cycle): a file starts over, a pipe gives its newest.
    if (!record && row < g_reader.rows_read && spectrum_stream_rewind(&g_reader))
        record = spectrum_stream_record(&g_reader, row);
    else if (!record && row < g_reader.rows_read)
        record = spectrum_stream_record(&g_reader, g_reader.rows_read - 1);
    g_row_missing = row >= g_reader.rows_read;
    return g_row_missing ? nullptr : record;
}

void spectrum_fill(const SpectrumSpec &spec, int frame, uint8_t rows[2][kSpectrumBins]) {
    static_assert(kStreamBins == kSpectrumBins, "a stream row is a spectrum row");
    if (spec.kind == SpectrumKind::stream) {
        if (const uint8_t *record = stream_record(frame)) std::memcpy(rows, record, kStreamRowsSize);
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
        const uint8_t *record = stream_record(frame);
        if (record == nullptr) return;
        std::memcpy(both, record + kStreamRowsSize, kStreamRowsSize);
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
