#include "audio/spectrum_stream.h"

#include <cstring>

static uint32_t read_u32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

static void write_u32(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

bool spectrum_stream_parse(const uint8_t *data, size_t size, SpectrumStream *stream, const char **error) {
    if (size < kStreamHeaderSize || std::memcmp(data, "HSPS", 4) != 0) {
        *error = "not a spectrum stream";
        return false;
    }
    if (read_u32(data + 4) != 2) {
        *error = "unknown version";
        return false;
    }
    SpectrumStream out;
    out.channel_count = read_u32(data + 8);
    out.rate_numerator = read_u32(data + 16);
    out.rate_denominator = read_u32(data + 20);
    out.frame_count = read_u32(data + 24);
    out.start_ms = read_u32(data + 28);
    out.length_ms = read_u32(data + 32);
    if (out.channel_count < 1 || out.channel_count > 2 || read_u32(data + 12) != kStreamBins) {
        *error = "bad channel or bin count";
        return false;
    }
    if (out.rate_numerator == 0 || out.rate_denominator == 0) {
        *error = "bad rate";
        return false;
    }
    // Division, not multiplication, so that a huge count cannot wrap around.
    if ((size - kStreamHeaderSize) % kStreamRecordSize != 0 ||
        (size - kStreamHeaderSize) / kStreamRecordSize != out.frame_count) {
        *error = "size does not match the frame count";
        return false;
    }
    out.records = data + kStreamHeaderSize;
    *stream = out;
    return true;
}

void spectrum_stream_header(const SpectrumStream &stream, uint8_t out[kStreamHeaderSize]) {
    std::memset(out, 0, kStreamHeaderSize);
    std::memcpy(out, "HSPS", 4);
    write_u32(out + 4, 2);
    write_u32(out + 8, stream.channel_count);
    write_u32(out + 12, kStreamBins);
    write_u32(out + 16, stream.rate_numerator);
    write_u32(out + 20, stream.rate_denominator);
    write_u32(out + 24, stream.frame_count);
    write_u32(out + 28, stream.start_ms);
    write_u32(out + 32, stream.length_ms);
}
