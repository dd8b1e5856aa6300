#include "image/bmp_reader.h"

#include <cstdlib>

#include "model/image_reader.h"
#include "shell/file_io.h"

namespace {

constexpr uint32_t kPixelArrayOffset = 54;  // pixels are taken from here, whatever the header says

struct BmpReader {
    int file = -1;
    int32_t length = 0;
    uint8_t *buffer = nullptr;
    const char *failure = "";
};

BmpReader reader;

}  // namespace

int bmp_open(const char *path) {
    reader.file = file_open_read(path);
    if (reader.file < 0) return 0;
    const int64_t length = file_length(reader.file);
    // Wider files are not bitmaps this reader could ever decode into one 32-bit block.
    reader.length = length < 0 ? 0 : length > INT32_MAX ? INT32_MAX : int32_t(length);
    return 1;
}

RgbaImage *bmp_read(int32_t offset, int32_t max_bytes) {
    const int32_t count = max_bytes > 0 && max_bytes < reader.length ? max_bytes : reader.length;
    if (reader.file < 0) {
        reader.failure = "no file is open";
        return nullptr;
    }
    std::free(reader.buffer);
    reader.buffer = static_cast<uint8_t *>(std::malloc(count > 0 ? size_t(count) : 1));
    if (!reader.buffer) {
        reader.failure = "out of memory for the file";
        return nullptr;
    }
    int64_t got = -1;
    if (offset >= 0 && file_seek(reader.file, uint32_t(offset))) got = file_read(reader.file, reader.buffer, uint32_t(count));
    if (got < 0) {
        reader.failure = "the file could not be read";
        return nullptr;
    }
    RgbaImage *image = bmp_decode(reader.buffer, uint64_t(got), &reader.failure);
    if (image) reader.failure = "";
    return image;
}

void bmp_close() {
    std::free(reader.buffer);
    reader.buffer = nullptr;
    if (reader.file >= 0) file_close(reader.file);
    reader.file = -1;
    reader.length = 0;
}

const char *bmp_last_failure() { return reader.failure; }

RgbaImage *bmp_decode(const uint8_t *bytes, uint64_t size, const char **failure) {
    const ImageView file{bytes, size};
    const char *why = nullptr;
    // The header tests, in the order the format's rule gives them.
    if (!image_has(file, 0, kPixelArrayOffset)) why = "the file is shorter than the 54-byte headers";
    else if (bytes[0] != 'B') why = "the signature is not BM";
    else if (bytes[1] != 'M') why = "the signature is not BM";
    else if (read_u32(bytes + 14) != 40) why = "the information header is not the 40-byte kind";
    else if (read_u16(bytes + 28) != 24) why = "it does not have 24 bits per pixel";
    else if (read_u32(bytes + 30) != 0) why = "it is compressed";
    else if (read_u32(bytes + 46) != 0) why = "it has a colour table (colours used is not 0)";
    else if (read_u32(bytes + 50) != 0) why = "it has a colour table (important colours is not 0)";
    if (why) {
        *failure = why;
        return nullptr;
    }
    const int32_t width = read_i32(bytes + 18);
    const int32_t stored_height = read_i32(bytes + 22);
    // A negative height marks rows stored top first; the picture is the same.
    const bool top_down = stored_height < 0;
    if (width < 0 || stored_height == INT32_MIN) {
        *failure = "its width or height is out of range";
        return nullptr;
    }
    const int32_t height = top_down ? -stored_height : stored_height;
    const uint64_t stride = (uint64_t(width) * 3 + 3) & ~uint64_t(3);
    // 64-bit products of 31-bit values cannot wrap; the rows must lie inside the bytes read.
    if (!image_has(file, kPixelArrayOffset, stride * uint64_t(height))) {
        *failure = "the pixel rows run past the end of the file";
        return nullptr;
    }
    const uint64_t pixel_bytes = uint64_t(width) * uint64_t(height) * 4;
    if (pixel_bytes > SIZE_MAX - sizeof(RgbaImage)) {
        *failure = "the picture is too large";
        return nullptr;
    }
    auto *image = static_cast<RgbaImage *>(std::malloc(sizeof(RgbaImage) + size_t(pixel_bytes)));
    if (!image) {
        *failure = "out of memory for the picture";
        return nullptr;
    }
    image->width = width;
    image->height = height;
    image->pixels = reinterpret_cast<uint8_t *>(image + 1);
    uint8_t *out = image->pixels;
    // A zero width has no rows to walk, however tall the picture claims to be.
    for (int32_t y = 0; width > 0 && y < height; ++y) {
        const int32_t stored_row = top_down ? y : height - 1 - y;
        const uint8_t *s = bytes + kPixelArrayOffset + uint64_t(stored_row) * stride;
        for (int32_t x = 0; x < width; ++x, s += 3, out += 4) {
            out[0] = s[2];
            out[1] = s[1];
            out[2] = s[0];
            out[3] = 255;
        }
    }
    return image;
}
