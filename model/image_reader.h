// Bounded little-endian reads over a file image: every offset and length is checked against
// the image before a byte is read. Offsets are 64-bit so that offset + length cannot wrap.
#pragma once

#include <cstdint>

struct ImageView {
    const uint8_t *data;
    uint64_t size;
};

inline bool image_has(const ImageView &image, uint64_t offset, uint64_t length) {
    return offset <= image.size && length <= image.size - offset;
}

inline uint16_t read_u16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t read_u32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline int32_t read_i32(const uint8_t *p) { return static_cast<int32_t>(read_u32(p)); }

// Length of the NUL-terminated text at offset, or -1 when the image ends before its NUL.
int64_t image_text_length(const ImageView &image, uint64_t offset);
