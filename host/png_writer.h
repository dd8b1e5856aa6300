// Writes RGBA8 pixels as a PNG file with no compression library: stored deflate blocks.
#pragma once

#include <cstdint>

// rows: height rows of width * 4 bytes, top row first.
bool png_write_rgba(const char *path, int width, int height, const uint8_t *rows);
