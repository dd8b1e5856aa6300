// Writes the one kind of bitmap the plug-in reads: 24 bits per pixel, uncompressed, 40-byte header.
#pragma once

#include <cstdint>
#include <vector>

// The file's bytes for width × height RGB pixels given top row first; grey pixels when
// channels is 1 (one byte per pixel).
std::vector<uint8_t> bmp_encode(int width, int height, const uint8_t *pixels, int channels);

// Writes bytes to path whole, under a temporary name renamed into place; false (errno set, nothing
// left under either name) when the file cannot be written.
bool write_file(const char *path, const std::vector<uint8_t> &bytes);
