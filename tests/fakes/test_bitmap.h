// Small 24-bit bitmaps built in memory for tests.
#pragma once

#include <cstdint>
#include <vector>

// The file bytes of a width × height bitmap whose stored rows (bottom row first, each already
// padded to four bytes) are rows.
std::vector<uint8_t> test_bitmap(int32_t width, int32_t height, const std::vector<uint8_t> &rows);
// A bitmap of one colour, given as R, G, B.
std::vector<uint8_t> solid_test_bitmap(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b);
