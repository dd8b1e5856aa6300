#include "tests/fakes/test_bitmap.h"

#include <cstddef>

namespace {

void put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

}  // namespace

std::vector<uint8_t> test_bitmap(int32_t width, int32_t height, const std::vector<uint8_t> &rows) {
    std::vector<uint8_t> b(54);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, uint32_t(54 + rows.size()));
    put32(b, 10, 54);
    put32(b, 14, 40);
    put32(b, 18, uint32_t(width));
    put32(b, 22, uint32_t(height));
    b[26] = 1;
    b[28] = 24;
    b.insert(b.end(), rows.begin(), rows.end());
    return b;
}

std::vector<uint8_t> solid_test_bitmap(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b) {
    const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    std::vector<uint8_t> rows(stride * size_t(height), 0);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint8_t *p = &rows[size_t(y) * stride + size_t(x) * 3];
            p[0] = b, p[1] = g, p[2] = r;
        }
    return test_bitmap(width, height, rows);
}
