// The bitmap reader: 24-bit uncompressed Windows bitmaps with the 40-byte information header,
// decoded into RGBA. One reader, one file at a time; every failure is reported by the result alone.
#pragma once

#include <cstdint>

// Width, height and RGBA8 pixels (top row first, rows unpadded) in one heap block: std::free it.
struct RgbaImage {
    int32_t width;
    int32_t height;
    uint8_t *pixels;  // points just past the record, inside the same block
};

// 1 when the file is open for bmp_read, 0 when it cannot be opened.
int bmp_open(const char *path);
// Reads max_bytes (the whole file when max_bytes <= 0) from offset and decodes them. A new image
// that the caller owns, or null.
RgbaImage *bmp_read(int32_t offset, int32_t max_bytes);
// Frees the read buffer and closes the file; harmless when nothing is open.
void bmp_close();
// Why the last bmp_read gave no image, in words; empty after a success.
const char *bmp_last_failure();

// The decode itself over bytes already in memory: null with *failure set when the bytes are not an
// accepted bitmap or would be read past their end.
RgbaImage *bmp_decode(const uint8_t *bytes, uint64_t size, const char **failure);
