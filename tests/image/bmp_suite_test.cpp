// Every file of the bitmap suite in tests/data, read by the plug-in's reader from memory and from disk:
// refused, or decoded to exactly the pixels ImageMagick decodes. The suite is the point, so a
// missing suite or ImageMagick fails the test instead of skipping it.
#include <dirent.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/bmp_reader.h"

namespace {

std::vector<std::string> suite_files() {
    std::vector<std::string> files;
    for (const char *group : {"g", "q", "b", "x"}) {
        const std::string dir = std::string(HALCYON_TESTDATA_DIR) + "/bmpsuite/" + group;
        DIR *d = opendir(dir.c_str());
        if (!d) continue;
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') files.push_back(dir + "/" + e->d_name);
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> read_bytes(const std::string &path) {
    std::vector<uint8_t> bytes;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        uint8_t block[4096];
        size_t got;
        while ((got = std::fread(block, 1, sizeof block, f)) > 0) bytes.insert(bytes.end(), block, block + got);
        std::fclose(f);
    }
    return bytes;
}

// ImageMagick's RGBA bytes, top row first; empty when it cannot decode the file.
std::vector<uint8_t> magick_rgba(const std::string &path) {
    std::vector<uint8_t> bytes;
    const std::string command = "convert '" + path + "' -depth 8 rgba:- 2>/dev/null";
    if (FILE *pipe = popen(command.c_str(), "r")) {
        uint8_t block[4096];
        size_t got;
        while ((got = std::fread(block, 1, sizeof block, pipe)) > 0) bytes.insert(bytes.end(), block, block + got);
        pclose(pipe);
    }
    return bytes;
}

TEST(BmpSuite, EveryFileIsRefusedOrDecodedAsImageMagickDecodesIt) {
    const std::vector<std::string> files = suite_files();
    ASSERT_GT(files.size(), 80u) << "the bitmap suite is missing from " << HALCYON_TESTDATA_DIR;
    int accepted = 0;
    for (const std::string &path : files) {
        SCOPED_TRACE(path);
        const std::vector<uint8_t> bytes = read_bytes(path);
        const char *failure = "";
        RgbaImage *image = bmp_decode(bytes.data(), bytes.size(), &failure);

        // The reader's own path over the same file gives the same verdict.
        ASSERT_EQ(bmp_open(path.c_str()), 1);
        RgbaImage *read = bmp_read(0, 0);
        bmp_close();
        EXPECT_EQ(read != nullptr, image != nullptr);
        if (!image) {
            EXPECT_STRNE(failure, "");
            std::free(read);
            continue;
        }
        ++accepted;
        const std::vector<uint8_t> pixels(image->pixels, image->pixels + size_t(image->width) * size_t(image->height) * 4);
        EXPECT_EQ(pixels, magick_rgba(path));
        if (read) {
            EXPECT_EQ(pixels, std::vector<uint8_t>(read->pixels, read->pixels + pixels.size()));
        }
        std::free(image);
        std::free(read);
    }
    EXPECT_GE(accepted, 1);  // g/rgb24.bmp, the suite's one plain 24-bit file
}

}  // namespace
