#include "settings/asset_path.h"

#include <gtest/gtest.h>

#include <string>

#include "shell/plugin_state.h"
#include "tests/fakes/fake_platform.h"

namespace {

TEST(AssetPath, DirectoryRunsThroughTheLastBackslash) {
    char out[kMaxPath];
    ASSERT_TRUE(join_asset_path("C:\\Program Files\\Winamp\\Plugins\\vis_halcyonsphere.dll",
                                "vis_halcyonsphere_assets/useropt.cfg", out));
    EXPECT_STREQ(out, "C:\\Program Files\\Winamp\\Plugins\\vis_halcyonsphere_assets/useropt.cfg");
    // Forward slashes do not separate.
    ASSERT_TRUE(join_asset_path("C:\\a/b/vis.dll", "x", out));
    EXPECT_STREQ(out, "C:\\x");
    ASSERT_TRUE(join_asset_path("vis_halcyonsphere.dll", "vis_halcyonsphere_assets/useropt.cfg", out));
    EXPECT_STREQ(out, "vis_halcyonsphere_assets/useropt.cfg");
    ASSERT_TRUE(join_asset_path("", "rel", out));
    EXPECT_STREQ(out, "rel");
}

TEST(AssetPath, RefusesWhatWouldNotFitTheBuffer) {
    const std::string relative = "vis_halcyonsphere_assets/useropt.cfg";
    char out[kMaxPath + 16];
    out[kMaxPath] = 'G';  // guard byte just past the buffer
    // Exactly filling the buffer with its terminator is fine; one more byte is refused.
    const std::string fits = std::string(kMaxPath - 1 - relative.size() - 1, 'd') + "\\";
    ASSERT_TRUE(join_asset_path((fits + "v.dll").c_str(), relative.c_str(), out));
    EXPECT_EQ(std::string(out).size(), kMaxPath - 1);
    const std::string too_long = "d" + fits;
    EXPECT_FALSE(join_asset_path((too_long + "v.dll").c_str(), relative.c_str(), out));
    EXPECT_STREQ(out, "");
    EXPECT_EQ(out[kMaxPath], 'G');
}

TEST(AssetPath, UsesTheLibraryNameAndRefusesATruncatedOne) {
    fake_reset();
    VisModule module{};
    plugin_state.module = &module;
    char out[kMaxPath];
    fake.module_file_name = "D:\\vis\\vis_halcyonsphere.dll";
    ASSERT_TRUE(asset_path("vis_halcyonsphere_assets/light_std.fp", out));
    EXPECT_STREQ(out, "D:\\vis\\vis_halcyonsphere_assets/light_std.fp");
    // The system cuts a name longer than the buffer; its directory would be wrong, so nothing is used.
    fake.module_file_name = "D:\\" + std::string(400, 'x') + "\\vis.dll";
    EXPECT_FALSE(asset_path("vis_halcyonsphere_assets/light_std.fp", out));
    EXPECT_STREQ(out, "");
}

}  // namespace
