// compare_frames DIR_A DIR_B
// How far two runs' frames are apart: the PNG frames of DIR_A and DIR_B, paired by name, compared
// pixel by pixel. Prints one JSON object: the frames compared, how many differ at all, and per
// channel (red, green, blue) the mean absolute difference over every pixel and the largest one.
// Exit status 0 when it could compare, 1 when a folder or frame cannot be read or the frames do not
// pair up (another count, name or size).
#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>

namespace {

std::vector<std::string> png_names(const char *folder) {
    std::vector<std::string> names;
    if (DIR *dir = opendir(folder)) {
        while (const dirent *entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int fail(const std::string &why) {
    std::fprintf(stderr, "compare_frames: %s\n", why.c_str());
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) return fail("usage: compare_frames DIR_A DIR_B");
    const std::vector<std::string> names = png_names(argv[1]);
    if (names.empty()) return fail(std::string("no PNG frames in ") + argv[1]);
    if (png_names(argv[2]) != names) return fail("the two folders do not hold frames of the same names");
    double sums[3] = {0, 0, 0};
    int largest[3] = {0, 0, 0};
    uint64_t pixels = 0;
    int differing = 0;
    for (const std::string &name : names) {
        int size[2][2], channels;
        stbi_uc *frame[2];
        for (int i = 0; i < 2; ++i) {
            const std::string path = std::string(argv[1 + i]) + "/" + name;
            frame[i] = stbi_load(path.c_str(), &size[i][0], &size[i][1], &channels, 3);
            if (!frame[i]) return fail("cannot read " + path + ": " + stbi_failure_reason());
        }
        if (size[0][0] != size[1][0] || size[0][1] != size[1][1]) return fail(name + " differs in size");
        const uint64_t count = uint64_t(size[0][0]) * size[0][1];
        bool differs = false;
        for (uint64_t p = 0; p < count; ++p) {
            for (int c = 0; c < 3; ++c) {
                const int d = std::abs(int(frame[0][p * 3 + c]) - int(frame[1][p * 3 + c]));
                sums[c] += d;
                largest[c] = std::max(largest[c], d);
                differs = differs || d != 0;
            }
        }
        differing += differs;
        pixels += count;
        stbi_image_free(frame[0]);
        stbi_image_free(frame[1]);
    }
    std::printf("{\"frames\": %zu, \"differing\": %d, \"mean\": [%.4f, %.4f, %.4f], \"largest\": [%d, %d, %d]}\n",
                names.size(), differing, sums[0] / pixels, sums[1] / pixels, sums[2] / pixels, largest[0], largest[1],
                largest[2]);
    return 0;
}
