#include "settings/options_dialog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "settings/leading_integer.h"
#include "settings/user_options.h"
#include "shell/lifecycle.h"
#include "shell/plugin_state.h"
#include "tests/fakes/plugin_fixture.h"

namespace {

std::vector<uint8_t> bytes_of(const UserOptions &options) {
    const uint8_t *p = reinterpret_cast<const uint8_t *>(&options);
    return std::vector<uint8_t>(p, p + sizeof options);
}

const int kCheckBoxes[] = {kFullscreenCheck, kLightPanningCheck, kDetailedHeightCheck, kAltSphereCheck,
                           kMipmapsCheck,    kFloatCheck,        kRotateCheck};

TEST(LeadingInteger, ReadsTheDigitsAtTheStartAndSaturates) {
    struct Case {
        const char *text;
        int32_t value;
    };
    const Case cases[] = {
        {"800x600", 800}, {"x800", 0}, {"", 0}, {"-5", -5}, {"  \t\n\v\f\r42", 42}, {"+7", 7}, {"-", 0},
        {"- 5", 0}, {"12 34", 12}, {"007", 7}, {"0x10", 0}, {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX},
        {"99999999999999999999999999", INT32_MAX}, {"-2147483648", INT32_MIN}, {"-2147483649", INT32_MIN},
        {"-99999999999", INT32_MIN},
    };
    for (const Case &c : cases) EXPECT_EQ(parse_leading_integer(c.text), c.value) << '"' << c.text << '"';
}

using OptionsDialog = PluginTest;

TEST_F(OptionsDialog, OkStoresEveryControlIntoTheRecordAndTheFile) {
    UserOptions stored = default_user_options();
    stored.width = 640;
    stored.light_brightness = 100;
    stored.sphere_count = 300;  // beyond the slider
    stored.delay = 7;
    write_asset("useropt.cfg", bytes_of(stored));
    plugin_state.module = &module;
    plugin_state.options.width = 1;  // unsaved, so dropped when the dialog opens

    fake.user = [](WindowHandle dialog) {
        EXPECT_EQ(fake.controls[kWidthEdit].text, "640");
        EXPECT_EQ(fake.controls[kHeightEdit].text, "384");
        const std::vector<uint32_t> shown = {0, 1, 0, 0, 0, 1, 0};
        for (size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(fake.controls[kCheckBoxes[i]].checked, shown[i]);
        EXPECT_EQ(fake.controls[kLightBrightnessSlider].position, 100);
        EXPECT_EQ(fake.controls[kSphereCountSlider].position, 256);
        EXPECT_EQ(fake.controls[kDelaySlider].position, 2);

        fake_type(dialog, kWidthEdit, "800x600");
        fake_type(dialog, kHeightEdit, "      1234567890");  // 16 characters: the last is not read
        for (int id : kCheckBoxes) fake_click(dialog, id);
        EXPECT_FALSE(fake.dialog_ended) << "a check box click is no OK";
        fake_slide(dialog, kLightBrightnessSlider, 1024);
        fake_slide(dialog, kRadialBrightnessSlider, 0);
        fake_slide(dialog, kSphereSizeSlider, 5000);
        fake_slide(dialog, kDelaySlider, 1);
        fake_click(dialog, win32::IDOK);
    };
    run_options_dialog(module.library_instance, module.parent_window);

    EXPECT_TRUE(fake.dialog_ended);
    EXPECT_EQ(fake.dialog_result, 1);
    UserOptions expected = stored;
    expected.width = 800;
    expected.height = 123456789;
    expected.fullscreen = 1;
    expected.light_panning = 0;
    expected.detailed_height = 1;
    expected.alt_sphere = 1;
    expected.mipmaps = 1;
    expected.floating = 0;
    expected.rotating = 1;
    expected.light_brightness = 1024;
    expected.radial_brightness = 0;
    expected.sphere_size = 1024;
    expected.sphere_count = 256;  // clamped by the slider, and so stored
    expected.delay = 1;
    EXPECT_EQ(bytes_of(plugin_state.options), bytes_of(expected));
    EXPECT_EQ(read_asset("useropt.cfg"), bytes_of(expected));

    // Each slider gets its range before its position, so that the position lands inside it.
    struct Slider {
        int id;
        long range;
        int32_t value;
    };
    for (const Slider s : {Slider{kLightBrightnessSlider, 0x04000000, 100},
                           Slider{kRadialBrightnessSlider, 0x04000000, 384}, Slider{kSphereSizeSlider, 0x04000000, 768},
                           Slider{kSphereCountSlider, 0x01000001, 300}, Slider{kDelaySlider, 0x00020000, 7}}) {
        const std::string prefix = "SendDlgItemMessageA(" + std::to_string(s.id) + ",";
        const int range = fake_call_index(prefix + "1030,1," + std::to_string(s.range) + ")");
        const int position = fake_call_index(prefix + "1029,1," + std::to_string(s.value) + ")");
        EXPECT_GE(range, 0) << s.id;
        EXPECT_GT(position, range) << s.id;
    }
}

TEST_F(OptionsDialog, CancelAndTheCloseBoxLeaveRecordAndFileAsOpened) {
    std::vector<uint8_t> file = bytes_of(default_user_options());
    file[0] = 0x80;  // width 640
    file.insert(file.end(), {0xDE, 0xAD, 0xBE, 0xEF});
    for (const bool close_box : {false, true}) {
        write_asset("useropt.cfg", file);
        plugin_state.module = &module;
        plugin_state.options.sphere_count = 99;  // unsaved
        fake.calls.clear();
        fake.user = [close_box](WindowHandle dialog) {
            fake_type(dialog, kWidthEdit, "1");
            fake_type(dialog, kHeightEdit, "2");
            for (int id : kCheckBoxes) fake_click(dialog, id);
            for (int id : {kLightBrightnessSlider, kRadialBrightnessSlider, kSphereSizeSlider, kSphereCountSlider,
                           kDelaySlider})
                fake_slide(dialog, id, 1);
            if (close_box)
                fake_close_box(dialog);
            else
                fake_click(dialog, win32::IDCANCEL);
        };
        run_options_dialog(module.library_instance, module.parent_window);
        EXPECT_TRUE(fake.dialog_ended) << close_box;
        EXPECT_EQ(fake.dialog_result, 1);
        EXPECT_EQ(read_asset("useropt.cfg"), file) << close_box;
        EXPECT_EQ(bytes_of(plugin_state.options), std::vector<uint8_t>(file.begin(), file.begin() + 56)) << close_box;
        EXPECT_FALSE(fake_called("GetDlgItemTextA")) << "nothing is read";
    }
}

TEST_F(OptionsDialog, ConfigOpensOneDialogAndTheNextInitUsesWhatWasSaved) {
    // Without the trackbar class the dialog cannot open; Config still returns and can try again.
    fake.failing.insert("DialogBoxParamA");
    plugin_config(&module);
    EXPECT_EQ(plugin_state.config_open, 0);
    fake.failing.clear();

    VisModule *const host_module = &module;
    fake.user = [host_module](WindowHandle dialog) {
        plugin_config(host_module);  // the dialog's own loop lets the host call again
        fake_type(dialog, kWidthEdit, "320");
        fake_type(dialog, kHeightEdit, "200");
        fake_slide(dialog, kSphereCountSlider, 3);
        fake_slide(dialog, kDelaySlider, 0);
        fake_click(dialog, win32::IDOK);
    };
    plugin_config(&module);
    EXPECT_EQ(fake_call_count("DialogBoxParamA(102)"), 2);  // the failed one and this one
    EXPECT_EQ(fake.dialog_owner, module.parent_window);
    EXPECT_EQ(fake.dialog_instance, module.library_instance);
    EXPECT_EQ(plugin_state.config_open, 0);

    fake.user = nullptr;
    ASSERT_EQ(plugin_init(&module), 0);
    EXPECT_EQ(plugin_state.viewport_width, 320);
    EXPECT_EQ(plugin_state.viewport_height, 200);
    EXPECT_EQ(plugin_state.options.sphere_count, 3);
    EXPECT_EQ(module.delay_ms, 0);
}

}  // namespace
