#include "host/png_writer.h"

#include <cstdio>
#include <string>

namespace {

uint32_t crc_table[256];

void make_crc_table() {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        crc_table[n] = c;
    }
}

uint32_t crc32(const std::string &bytes) {
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) c = crc_table[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void put_be32(std::string &out, uint32_t v) {
    out += char(v >> 24);
    out += char(v >> 16);
    out += char(v >> 8);
    out += char(v);
}

void put_chunk(std::string &file, const char *kind, const std::string &data) {
    put_be32(file, uint32_t(data.size()));
    std::string body = std::string(kind, 4) + data;
    file += body;
    put_be32(file, crc32(body));
}

// A zlib stream of stored (uncompressed) blocks, at most 65535 bytes each.
std::string zlib_stored(const std::string &raw) {
    std::string out = "\x78\x01";
    size_t at = 0;
    do {
        const size_t length = raw.size() - at < 65535 ? raw.size() - at : 65535;
        const bool last = at + length == raw.size();
        out += char(last ? 1 : 0);
        out += char(length & 0xFF);
        out += char(length >> 8);
        out += char(~length & 0xFF);
        out += char((~length >> 8) & 0xFF);
        out.append(raw, at, length);
        at += length;
    } while (at < raw.size());
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    put_be32(out, (b << 16) | a);
    return out;
}

}  // namespace

bool png_write_rgba(const char *path, int width, int height, const uint8_t *rows) {
    if (width <= 0 || height <= 0) return false;
    make_crc_table();
    std::string raw;
    raw.reserve(size_t(height) * (size_t(width) * 4 + 1));
    for (int y = 0; y < height; ++y) {
        raw += '\0';  // no filter
        raw.append(reinterpret_cast<const char *>(rows) + size_t(y) * size_t(width) * 4, size_t(width) * 4);
    }
    std::string header;
    put_be32(header, uint32_t(width));
    put_be32(header, uint32_t(height));
    header += "\x08\x06\x00\x00\x00";  // 8 bits, RGBA, deflate, no filter set, no interlace
    header.resize(13);
    std::string file = "\x89PNG\r\n\x1a\n";
    put_chunk(file, "IHDR", header);
    put_chunk(file, "IDAT", zlib_stored(raw));
    put_chunk(file, "IEND", "");
    FILE *out = std::fopen(path, "wb");
    if (!out) return false;
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && written;
}
