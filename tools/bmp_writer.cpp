#include "tools/bmp_writer.h"

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

void put16(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

void put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

}  // namespace

std::vector<uint8_t> bmp_encode(int width, int height, const uint8_t *pixels, int channels) {
    const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    const size_t pixel_bytes = stride * size_t(height);
    std::vector<uint8_t> b(54 + pixel_bytes, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, uint32_t(b.size()));
    put32(b, 10, 54);
    put32(b, 14, 40);
    put32(b, 18, uint32_t(width));
    put32(b, 22, uint32_t(height));  // positive: rows stored bottom first, as most readers expect
    put16(b, 26, 1);
    put16(b, 28, 24);
    put32(b, 34, uint32_t(pixel_bytes));
    put32(b, 38, 2835);  // 72 dots per inch
    put32(b, 42, 2835);
    for (int y = 0; y < height; ++y) {
        uint8_t *out = &b[54 + size_t(height - 1 - y) * stride];
        const uint8_t *in = pixels + size_t(y) * size_t(width) * size_t(channels);
        for (int x = 0; x < width; ++x, in += channels, out += 3) {
            out[0] = in[channels == 1 ? 0 : 2];
            out[1] = in[channels == 1 ? 0 : 1];
            out[2] = in[0];
        }
    }
    return b;
}

bool write_file(const char *path, const std::vector<uint8_t> &bytes) {
    // Under a temporary name first: a full disk or a stop halfway never leaves a cut file in place.
    const std::string partial = std::string(path) + ".partial";
    FILE *f = std::fopen(partial.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int saved_errno = errno;
    const bool closed = std::fclose(f) == 0;
    if (written && closed && std::rename(partial.c_str(), path) == 0) return true;
    const int error = !written ? saved_errno : errno;
    std::remove(partial.c_str());
    errno = error;  // what the caller reports
    return false;
}
