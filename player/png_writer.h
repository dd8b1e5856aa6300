// Writes RGBA8 pixels as a PNG file, through stb_image_write.
#pragma once

#include <cstdint>

// rows: height rows of width * 4 bytes, top row first.
bool png_write_rgba(const char *path, int width, int height, const uint8_t *rows);
