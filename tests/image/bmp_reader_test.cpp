#include "image/bmp_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fakes/test_bitmap.h"

namespace {

struct Decoded {
    RgbaImage *image;
    std::string failure;
    ~Decoded() { std::free(image); }
};

Decoded decode(const std::vector<uint8_t> &bytes) {
    const char *failure = "";
    RgbaImage *image = bmp_decode(bytes.data(), bytes.size(), &failure);
    return {image, image ? "" : failure};
}

std::vector<uint8_t> pixels_of(const RgbaImage &image) {
    return std::vector<uint8_t>(image.pixels, image.pixels + size_t(image.width) * size_t(image.height) * 4);
}

// Blue, green on the stored first (bottom) row; red, white above it.
const std::vector<uint8_t> kTwoByTwoRows = {0xFF, 0, 0, 0, 0xFF, 0, 0xAA, 0xBB,
                                            0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xCC, 0xDD};
const std::vector<uint8_t> kTwoByTwoPixels = {0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                              0, 0, 0xFF, 0xFF, 0, 0xFF, 0, 0xFF};

TEST(BmpDecode, BottomUpRowsBecomeTopFirstRgbaAndPaddingIsSkipped) {
    Decoded d = decode(test_bitmap(2, 2, kTwoByTwoRows));
    ASSERT_TRUE(d.image) << d.failure;
    EXPECT_EQ(d.image->width, 2);
    EXPECT_EQ(d.image->height, 2);
    EXPECT_EQ(pixels_of(*d.image), kTwoByTwoPixels);

    // The pixel-offset field is not believed: the rows still come from byte 54.
    std::vector<uint8_t> moved = test_bitmap(2, 2, kTwoByTwoRows);
    moved[10] = 0x36, moved[11] = 0x04;  // 1078
    Decoded m = decode(moved);
    ASSERT_TRUE(m.image);
    EXPECT_EQ(pixels_of(*m.image), kTwoByTwoPixels);

    // Stored top row first (negative height): the same picture.
    std::vector<uint8_t> flipped(kTwoByTwoRows.begin() + 8, kTwoByTwoRows.end());
    flipped.insert(flipped.end(), kTwoByTwoRows.begin(), kTwoByTwoRows.begin() + 8);
    Decoded t = decode(test_bitmap(2, -2, flipped));
    ASSERT_TRUE(t.image) << t.failure;
    EXPECT_EQ(t.image->height, 2);
    EXPECT_EQ(pixels_of(*t.image), kTwoByTwoPixels);
}

TEST(BmpDecode, RowStrideIsThreeBytesPerPixelRoundedUpToFour) {
    // Two rows whose last pixel is distinct; a wrong stride reads the top row from the padding.
    for (int32_t width : {1, 2, 3, 4, 5}) {
        const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
        std::vector<uint8_t> rows(stride * 2, 0x11);
        rows[stride + size_t(width - 1) * 3] = 0x42;  // blue of the top row's last pixel
        Decoded d = decode(test_bitmap(width, 2, rows));
        ASSERT_TRUE(d.image) << "width " << width;
        EXPECT_EQ(d.image->pixels[size_t(width - 1) * 4 + 2], 0x42) << "width " << width;
        EXPECT_EQ(d.image->pixels[size_t(width - 1) * 4 + 3], 255);
        // Exactly one byte short of the last row is refused.
        std::vector<uint8_t> cut = test_bitmap(width, 2, rows);
        cut.pop_back();
        EXPECT_FALSE(decode(cut).image) << "width " << width;
    }
}

TEST(BmpDecode, RefusesWhatItCannotReadSafely) {
    struct Case {
        const char *what;
        size_t at;
        uint32_t value;
        int width_bytes;  // 4 to write value as 32 bits at at, 2 for 16 bits, 1 for a byte
    };
    const Case cases[] = {
        {"signature B", 0, 'X', 1},
        {"signature M", 1, 'X', 1},
        {"12-byte header", 14, 12, 4},
        {"108-byte header", 14, 108, 4},
        {"32 bits per pixel", 28, 32, 2},
        {"run-length compression", 30, 1, 4},
        {"colours used", 46, 256, 4},
        {"important colours", 50, 1, 4},
        {"negative width", 18, uint32_t(-2), 4},
        {"smallest height", 22, 0x80000000u, 4},
        {"rows past the end", 22, 3, 4},
        {"width whose rows overflow 32 bits", 18, 0x7FFFFFFF, 4},
        {"height whose rows overflow 32 bits", 22, 0x7FFFFFFF, 4},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes = test_bitmap(2, 2, kTwoByTwoRows);
        for (int i = 0; i < c.width_bytes; ++i) bytes[c.at + size_t(i)] = uint8_t(c.value >> (8 * i));
        Decoded d = decode(bytes);
        EXPECT_FALSE(d.image) << c.what;
        EXPECT_FALSE(d.failure.empty()) << c.what;
    }
    for (size_t length = 0; length < 54; ++length) {
        const std::vector<uint8_t> header = test_bitmap(0, 0, {});
        const char *why = "";
        EXPECT_FALSE(bmp_decode(header.data(), length, &why)) << length;
    }
    // Zero sides are accepted as a picture with no pixels.
    for (auto [w, h] : {std::pair{0, 0}, {0, 5}, {7, 0}}) {
        Decoded d = decode(test_bitmap(w, h, {}));
        ASSERT_TRUE(d.image) << w << "x" << h;
        EXPECT_EQ(d.image->width * d.image->height, 0);
    }
}

TEST(BmpReader, ReadsWholeFilesAndStaysSafeWithoutOne) {
    const std::string path = testing::TempDir() + "bmp_reader_test.bmp";
    const std::vector<uint8_t> bytes = test_bitmap(2, 2, kTwoByTwoRows);
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);

    EXPECT_FALSE(bmp_read(0, 0));  // nothing open
    bmp_close();
    bmp_close();
    EXPECT_EQ(bmp_open((path + ".missing").c_str()), 0);
    EXPECT_FALSE(bmp_read(0, 0));

    ASSERT_EQ(bmp_open(path.c_str()), 1);
    RgbaImage *whole = bmp_read(0, 0);
    ASSERT_TRUE(whole) << bmp_last_failure();
    EXPECT_EQ(pixels_of(*whole), kTwoByTwoPixels);
    // A limit below the file's length reads only that much: here the rows are cut off.
    EXPECT_FALSE(bmp_read(0, 60));
    EXPECT_STRNE(bmp_last_failure(), "");
    RgbaImage *again = bmp_read(0, 100000);  // a limit past the end means the whole file
    ASSERT_TRUE(again);
    bmp_close();
    EXPECT_EQ(pixels_of(*again), kTwoByTwoPixels);  // images outlive the reader
    std::free(whole);
    std::free(again);
    std::remove(path.c_str());
}

}  // namespace
