// Whole frames of the shipped asset set, compared pixel for pixel with fingerprints recorded from
// an earlier build: work on the frame's cost (caches, skipped spheres, tighter loops) must not
// change a single pixel. HALCYON_UPDATE_REFERENCES=1 records the fingerprints anew; look at the
// frames it writes before you commit them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "settings/user_options.h"
#include "shell/lifecycle.h"
#include "tests/gl/gl_fixture.h"
#include "tools/sha256.h"

namespace {

const char kFingerprints[] = HALCYON_SOURCE_DIR "/tests/gl/reference/frames.sha256";
const char *const kShippedFiles[] = {"decal.bmp",  "height.bmp",  "height_d.bmp", "normal.bmp",
                                     "sphere.qtl", "sphere2.qtl", "light_std.fp"};

struct FrameCase {
    const char *name;
    int32_t width, height, spheres, alt_sphere, rotating;
};

// Both sphere models, one sphere and the most, in 4:3 and in 16:9, where other spheres lie
// partly outside the view. The light pans (the channels differ) and the rays show.
const FrameCase kCases[] = {
    {"one", 320, 240, 1, 0, 0},       {"one_skinned_turning", 320, 240, 1, 1, 1},
    {"many", 320, 240, 256, 0, 0},    {"many_skinned", 320, 240, 256, 1, 0},
    {"many_wide", 384, 216, 256, 0, 0},
};
const uint32_t kTicks[] = {10000, 10040, 10080, 25000};

std::map<std::string, std::string> read_fingerprints() {
    std::map<std::string, std::string> known;
    std::ifstream in(kFingerprints);
    std::string hash, name;
    while (in >> hash >> name) known[name] = hash;
    return known;
}

class ReferenceFrames : public GlPluginTest {
protected:
    void SetUp() override {
        GlPluginTest::SetUp();
        for (const char *name : kShippedFiles) {
            std::ifstream in(std::string(HALCYON_SHIPPED_ASSETS) + "/" + name, std::ios::binary);
            ASSERT_TRUE(in) << "no asset set in " HALCYON_SHIPPED_ASSETS " (building gl_tests makes it)";
            write_asset(name, std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}));
        }
    }
};

TEST_F(ReferenceFrames, EveryPixelAsRecorded) {
    const bool update = std::getenv("HALCYON_UPDATE_REFERENCES") && std::string(std::getenv("HALCYON_UPDATE_REFERENCES")) == "1";
    const std::map<std::string, std::string> known = read_fingerprints();
    std::ostringstream recorded;
    for (const FrameCase &c : kCases) {
        SCOPED_TRACE(c.name);
        if (&c != kCases) {
            TearDown();
            SetUp();
        }
        UserOptions options = default_user_options();
        options.width = c.width, options.height = c.height;
        options.sphere_count = c.spheres, options.alt_sphere = c.alt_sphere, options.rotating = c.rotating;
        const uint8_t *bytes = reinterpret_cast<const uint8_t *>(&options);
        write_asset("useropt.cfg", std::vector<uint8_t>(bytes, bytes + sizeof options));
        ASSERT_EQ(plugin_init(&module), 0);
        set_spectrum(12, 5);
        // Every frame counts: each one is the next one's background.
        std::vector<uint8_t> pixels;
        Frame last{};
        for (uint32_t tick : kTicks) {
            last = render_at(tick);
            pixels.insert(pixels.end(), last.rgba.begin(), last.rgba.end());
        }
        plugin_quit(&module);
        const std::string hash = sha256_hex(pixels.data(), pixels.size());
        recorded << hash << " " << c.name << "\n";
        const std::string picture = std::string(::testing::TempDir()) + "halcyon-frame-" + c.name + ".png";
        const auto expected = known.find(c.name);
        if (update || expected == known.end() || expected->second != hash) last.write_png(picture);
        if (!update) {
            ASSERT_NE(expected, known.end()) << "no fingerprint recorded";
            EXPECT_EQ(hash, expected->second) << "the frames changed; the last one is in " << picture;
        }
    }
    if (update) {
        std::ofstream out(kFingerprints, std::ios::trunc);
        out << recorded.str();
        ASSERT_TRUE(out) << kFingerprints;
    }
}

}  // namespace
