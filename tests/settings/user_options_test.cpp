#include "settings/user_options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "shell/lifecycle.h"
#include "shell/plugin_state.h"
#include "tests/fakes/plugin_fixture.h"

namespace {

const std::vector<uint8_t> kDefaultBytes = {
    0x00, 0x02, 0x00, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00,
    0x80, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
};

std::vector<uint8_t> bytes_of(const UserOptions &options) {
    const uint8_t *p = reinterpret_cast<const uint8_t *>(&options);
    return std::vector<uint8_t>(p, p + sizeof options);
}

std::vector<uint8_t> le32(std::initializer_list<int32_t> values) {
    std::vector<uint8_t> out;
    for (int32_t v : values)
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(uint32_t(v) >> (8 * i)));
    return out;
}

using OptionsFile = PluginTest;

TEST_F(OptionsFile, FirstInitCreatesTheDefaultRecordEvenWhenTheProbeFails) {
    fake.probe_answer = 0;
    EXPECT_EQ(plugin_init(&module), 1);
    EXPECT_EQ(read_asset("useropt.cfg"), kDefaultBytes);
    EXPECT_EQ(bytes_of(default_user_options()), kDefaultBytes);
}

TEST_F(OptionsFile, MissingFileGivesDefaultsWithoutWriting) {
    plugin_state.module = &module;
    plugin_state.options.width = 99;
    EXPECT_FALSE(read_options());
    EXPECT_EQ(bytes_of(plugin_state.options), kDefaultBytes);
    EXPECT_FALSE(asset_exists("useropt.cfg"));
}

TEST_F(OptionsFile, ShortFileReplacesOnlyItsLeadingBytes) {
    plugin_state.module = &module;
    for (int32_t i = 0; i < 14; ++i) reinterpret_cast<int32_t *>(&plugin_state.options)[i] = 1000 + i;
    write_asset("useropt.cfg", le32({800, 600, 1, 0, 1}));
    EXPECT_TRUE(read_options());
    const UserOptions &o = plugin_state.options;
    EXPECT_EQ(o.width, 800);
    EXPECT_EQ(o.height, 600);
    EXPECT_EQ(o.fullscreen, 1);
    EXPECT_EQ(o.light_panning, 0);
    EXPECT_EQ(o.detailed_height, 1);
    EXPECT_EQ(o.alt_sphere, 1005);
    EXPECT_EQ(o.delay, 1013);

    // A file cut inside a field replaces just the bytes it has.
    write_asset("useropt.cfg", std::vector<uint8_t>{0x34, 0x12});
    EXPECT_TRUE(read_options());
    EXPECT_EQ(o.width, 800 - (800 & 0xFFFF) + 0x1234);
}

TEST_F(OptionsFile, BytesPastTheRecordAreIgnoredAndSurviveAWrite) {
    plugin_state.module = &module;
    std::vector<uint8_t> file = kDefaultBytes;
    file[0] = 0x80;  // width 640
    const std::vector<uint8_t> tail = {0xDE, 0xAD, 0xBE, 0xEF};
    file.insert(file.end(), tail.begin(), tail.end());
    write_asset("useropt.cfg", file);

    EXPECT_TRUE(read_options());
    EXPECT_EQ(plugin_state.options.width, 640);
    plugin_state.options.sphere_count = 7;
    EXPECT_TRUE(write_options());

    const std::vector<uint8_t> after = read_asset("useropt.cfg");
    ASSERT_EQ(after.size(), 60u);
    EXPECT_EQ(std::vector<uint8_t>(after.begin() + 56, after.end()), tail);
    EXPECT_EQ(after[40], 7);
}

TEST_F(OptionsFile, ValuesAreKeptAsStoredAndDelayMapsToMilliseconds) {
    struct Case {
        int32_t option, delay_ms;
    };
    for (const Case c : {Case{0, 0}, Case{1, 14}, Case{2, 25}, Case{5, 25}, Case{7, 25}, Case{-1, 25}}) {
        std::vector<uint8_t> file = kDefaultBytes;
        std::memcpy(&file[52], &c.option, 4);
        write_asset("useropt.cfg", file);
        fake_reset();
        fake.module_file_name = "vis_halcyonsphere.dll";
        fake.probe_answer = 0;
        module.delay_ms = 1234;
        plugin_init(&module);
        EXPECT_EQ(module.delay_ms, c.delay_ms) << "delay option " << c.option;
        EXPECT_EQ(plugin_state.options.delay, c.option) << "stored unchanged";
        EXPECT_EQ(read_asset("useropt.cfg"), file) << "an existing file is not rewritten by Init";
    }
}

TEST_F(OptionsFile, UnwritableFolderIsSilentAndInitGoesOn) {
    remove_asset_folder();
    fake.probe_answer = 0;
    EXPECT_EQ(plugin_init(&module), 1);
    EXPECT_EQ(bytes_of(plugin_state.options), kDefaultBytes);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "This plugin requires Winamp 5.0+");
    plugin_state.module = &module;
    EXPECT_FALSE(write_options());
}

TEST(OptionRanges, RenderSettingsDefaults) {
    const RenderSettings s = default_render_settings(1);
    EXPECT_EQ(s.texture_filter_mode, 1);
    EXPECT_EQ(s.fullscreen, 1);
    EXPECT_EQ(s.background_zoom_pulse, 0);
    EXPECT_EQ(s.background_double_pass, 0);
    EXPECT_EQ(s.background_zoom, 10.0f);
    EXPECT_EQ(s.radial_blur, 1);
}

}  // namespace
