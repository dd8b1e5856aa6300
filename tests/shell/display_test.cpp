#include "shell/display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "shell/lifecycle.h"
#include "shell/plugin_state.h"
#include "tests/fakes/plugin_fixture.h"

namespace {

using Display = PluginTest;

struct FailureCase {
    const char *failing_call;
    const char *code;
    bool destroys_window, releases_dc, deletes_context;
};

TEST_F(Display, EachFailingStepShowsItsCodeAndCleansUpWhatExists) {
    const FailureCase cases[] = {
        {"CreateWindowExA", "ERRORCODE2", false, false, false},
        {"GetDC", "ERRORCODE3", true, false, false},
        {"ChoosePixelFormat", "ERRORCODE4", true, true, false},
        {"SetPixelFormat", "ERRORCODE5", true, true, false},
        {"wglCreateContext", "ERRORCODE6", true, true, false},
        {"wglMakeCurrent", "ERRORCODE7", true, true, true},
    };
    for (const FailureCase &c : cases) {
        fake_reset();
        fake.module_file_name = "vis_halcyonsphere.dll";
        fake.failing.insert(c.failing_call);
        EXPECT_EQ(plugin_init(&module), 1) << c.failing_call;
        ASSERT_EQ(fake.boxes.size(), 1u) << c.failing_call;
        EXPECT_EQ(fake.boxes[0].text, c.code);
        EXPECT_EQ(fake.boxes[0].caption, "Halcyonsphere");
        EXPECT_EQ(fake.boxes[0].owner, module.parent_window);
        EXPECT_EQ(fake_called("DestroyWindow"), c.destroys_window) << c.code;
        EXPECT_EQ(fake_called("ReleaseDC"), c.releases_dc) << c.code;
        EXPECT_EQ(fake_called("wglDeleteContext"), c.deletes_context) << c.code;
        EXPECT_TRUE(fake_called("UnregisterClassA")) << c.code;
        EXPECT_EQ(fake.quit_messages, 0) << c.code;
        EXPECT_FALSE(fake_called("SendMessageA(4096,611)")) << c.code;
        EXPECT_EQ(plugin_state.window, nullptr);
        EXPECT_EQ(plugin_state.device_context, nullptr);
        EXPECT_EQ(plugin_state.gl_context, nullptr);
    }
}

TEST_F(Display, ClassRegistrationFailurePostsQuitAndReleasesNothing) {
    fake.failing.insert("RegisterClassA");
    EXPECT_EQ(plugin_init(&module), 1);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "ERRORCODE1");
    EXPECT_EQ(fake.quit_messages, 1);
    EXPECT_FALSE(fake_called("UnregisterClassA"));
    EXPECT_FALSE(fake_called("CreateWindowExA"));
}

TEST_F(Display, WindowedModeUsesTheCaptionedStylesAndAdjustedSize) {
    ASSERT_EQ(plugin_init(&module), 0);
    ASSERT_EQ(fake.windows.size(), 1u);
    const FakeWindow &w = fake.windows[0];
    EXPECT_EQ(w.class_name, "f_Halcyonsphere");
    EXPECT_EQ(w.title, "Halcyonsphere");
    EXPECT_EQ(w.style, 0x06C80000u);
    EXPECT_EQ(w.ex_style, 0x00040100u);
    EXPECT_EQ(w.x, 0);
    EXPECT_EQ(w.y, 0);
    EXPECT_EQ(w.width, 512 + 6);  // the fake frame adds 3 + 3 and 22 + 3
    EXPECT_EQ(w.height, 384 + 25);
    EXPECT_EQ(w.owner, module.parent_window);
    EXPECT_TRUE(fake_called("RegisterClassA(f_Halcyonsphere,101)"));
    EXPECT_TRUE(fake_called("ChoosePixelFormat(25,32,16)"));
    EXPECT_FALSE(fake_called("EnumDisplayMonitors"));
}

class Fullscreen : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        std::vector<uint8_t> options(56, 0);
        const int32_t values[14] = {640, 480, 1, 1, 0, 0, 0, 512, 384, 768, 1, 1, 0, 2};
        std::memcpy(options.data(), values, sizeof values);
        write_asset("useropt.cfg", options);
    }
};

TEST_F(Fullscreen, RefusedModeFallsBackToACaptionedWindowAndLeavesTheDisplayAlone) {
    fake.display_change_result = -2;
    ASSERT_EQ(plugin_init(&module), 0);
    ASSERT_EQ(fake.boxes.size(), 1u);  // the monitor prompt only
    EXPECT_EQ(fake.boxes[0].caption, "Crappy multimon support");
    EXPECT_EQ(fake.display_changes, std::vector<std::string>{"whole:640x480x32:1c0000"});
    const FakeWindow &w = fake.windows.at(0);
    EXPECT_EQ(w.style, 0x06C80000u);
    EXPECT_EQ(w.x, 0);
    EXPECT_EQ(w.y, 0);
    EXPECT_EQ(plugin_state.fullscreen_active, 0);
    EXPECT_EQ(fake.cursor_level, 0);
    EXPECT_FALSE(fake.window_minimized);
    plugin_quit(&module);
    EXPECT_EQ(fake.display_changes.size(), 1u) << "teardown must not restore a mode it never changed";
    EXPECT_EQ(fake.cursor_level, 0);
}

TEST_F(Fullscreen, WholeDisplayHidesTheCursorAndMinimizesTheHost) {
    ASSERT_EQ(plugin_init(&module), 0);
    const FakeWindow &w = fake.windows.at(0);
    EXPECT_EQ(w.style, 0x86000000u);
    EXPECT_EQ(w.ex_style, 0x00040000u);
    EXPECT_EQ(w.width, 640);
    EXPECT_EQ(w.height, 480);
    EXPECT_EQ(fake.cursor_level, -1);
    EXPECT_TRUE(fake.window_minimized);
    EXPECT_LT(fake_call_index("SetWindowPlacement"), fake_call_index("ShowWindow"));
    plugin_quit(&module);
    EXPECT_EQ(fake.display_changes.back(), "restore");
    EXPECT_EQ(fake.cursor_level, 0);
    // A second teardown does not restore twice.
    destroy_display();
    EXPECT_EQ(fake.display_changes.size(), 2u);
}

TEST_F(Fullscreen, ChosenMonitorGetsTheWindowAtItsCornerWithTheExactSize) {
    fake.monitors.push_back({{}, true});
    fake.monitors[1].info = fake.monitors[0].info;
    fake.monitors[1].info.monitor = {1280, -200, 1280 + 1024, -200 + 768};
    std::strcpy(fake.monitors[1].info.device, "\\\\.\\DISPLAY2");
    fake.box_answers = {win32::IDNO, win32::IDYES};
    ASSERT_EQ(plugin_init(&module), 0);
    ASSERT_EQ(fake.boxes.size(), 2u);
    EXPECT_EQ(fake.boxes[0].text, "Use device '\\\\.\\DISPLAY1' for fullscreen display?");
    EXPECT_EQ(fake.boxes[1].text, "Use device '\\\\.\\DISPLAY2' for fullscreen display?");
    EXPECT_EQ(fake.boxes[1].owner, nullptr);
    EXPECT_EQ(fake.boxes[1].type, win32::MB_YESNO);
    EXPECT_EQ(fake.display_changes, std::vector<std::string>{"device:\\\\.\\DISPLAY2:640x480x32"});
    const FakeWindow &w = fake.windows.at(0);
    EXPECT_EQ(w.x, 1280);
    EXPECT_EQ(w.y, -200);
    EXPECT_EQ(w.width, 640);
    EXPECT_EQ(w.height, 480);
    EXPECT_EQ(w.style, 0x86000000u);
    EXPECT_EQ(fake.cursor_level, 0);
    EXPECT_FALSE(fake.window_minimized);
}

TEST_F(Fullscreen, PromptSkipsUnreadableMonitorsAndAllNoChangesTheWholeDisplay) {
    fake.monitors.insert(fake.monitors.begin(), FakeMonitor{{}, false});
    ASSERT_EQ(plugin_init(&module), 0);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "Use device '\\\\.\\DISPLAY1' for fullscreen display?");
    EXPECT_EQ(fake.display_changes, std::vector<std::string>{"whole:640x480x32:1c0000"});
}

TEST_F(Fullscreen, DeviceNameFillingItsFieldIsReadNoFurther) {
    std::memset(fake.monitors[0].info.device, 'M', sizeof fake.monitors[0].info.device);  // no NUL
    fake.box_answers = {win32::IDYES};
    ASSERT_EQ(plugin_init(&module), 0);
    const std::string name(32, 'M');
    EXPECT_EQ(fake.boxes.at(0).text, "Use device '" + name + "' for fullscreen display?");
    EXPECT_EQ(fake.display_changes, std::vector<std::string>{"device:" + name + ":640x480x32"});
}

TEST_F(Fullscreen, FailureAfterTheModeChangeRestoresTheDisplay) {
    fake.failing.insert("CreateWindowExA");
    EXPECT_EQ(plugin_init(&module), 1);
    EXPECT_EQ(fake.display_changes.back(), "restore");
    EXPECT_EQ(fake.cursor_level, 0);
}

TEST_F(Fullscreen, EachStartAsksAgainAndTheTeardownUndoesOnlyWhatItDid) {
    fake.box_answers = {win32::IDYES};
    ASSERT_EQ(plugin_init(&module), 0);
    EXPECT_EQ(fake.display_changes.back(), "device:\\\\.\\DISPLAY1:640x480x32");
    plugin_quit(&module);
    EXPECT_EQ(fake.display_changes.back(), "restore");
    EXPECT_EQ(fake.cursor_level, 0) << "a chosen monitor never hid the cursor, so it is not shown";

    // No to every monitor this time: the earlier Yes must not linger.
    ASSERT_EQ(plugin_init(&module), 0);
    EXPECT_EQ(fake.display_changes.back(), "whole:640x480x32:1c0000");
    EXPECT_EQ(fake.cursor_level, -1);
    EXPECT_TRUE(fake.window_minimized);
    plugin_quit(&module);
    EXPECT_EQ(fake.display_changes.back(), "restore");
    EXPECT_EQ(fake.cursor_level, 0);
}

// Every way Init can fail after the probe, in every display mode: the host is told to let go of
// a window it was given, everything made is released, and the display mode and the cursor are as
// before; a Quit that follows (some hosts call it) changes nothing more.
TEST_F(Display, EveryFailedStartLeavesTheHostAndTheDisplayAsTheyWere) {
    const struct {
        const char *what;
        void (*arrange)();
    } steps[] = {
        {"class", [] { fake.failing.insert("RegisterClassA"); }},
        {"window", [] { fake.failing.insert("CreateWindowExA"); }},
        {"device context", [] { fake.failing.insert("GetDC"); }},
        {"pixel format", [] { fake.failing.insert("SetPixelFormat"); }},
        {"context", [] { fake.failing.insert("wglMakeCurrent"); }},
        {"extensions", [] { fake.gl_texture_units = 3; }},
        {"program", [] { fake.program_error_position = 3; }},
    };
    const struct {
        const char *what;
        int32_t fullscreen;
        std::vector<int> answers;
    } modes[] = {{"windowed", 0, {}}, {"whole display", 1, {}}, {"chosen monitor", 1, {win32::IDYES}}};
    for (const auto &mode : modes) {
        std::vector<uint8_t> options(56, 0);
        const int32_t values[14] = {640, 480, mode.fullscreen, 1, 0, 0, 0, 512, 384, 768, 1, 1, 0, 2};
        std::memcpy(options.data(), values, sizeof values);
        write_asset("useropt.cfg", options);
        for (const auto &step : steps) {
            SCOPED_TRACE(std::string(mode.what) + ", " + step.what);
            fake_reset();
            fake.module_file_name = "vis_halcyonsphere.dll";
            fake.box_answers = mode.answers;
            step.arrange();
            ASSERT_EQ(plugin_init(&module), 1);

            const int registered = fake_call_count("RegisterClassA") - int(fake.failing.count("RegisterClassA"));
            EXPECT_EQ(fake_call_count("UnregisterClassA"), registered);
            EXPECT_EQ(fake_call_count("DestroyWindow"), int(fake.windows.size()));
            EXPECT_EQ(fake_call_count("ReleaseDC"), fake_call_count("GetDC") - int(fake.failing.count("GetDC")));
            EXPECT_EQ(plugin_state.window, nullptr);
            EXPECT_EQ(plugin_state.device_context, nullptr);
            EXPECT_EQ(plugin_state.gl_context, nullptr);
            if (fake_called("SendMessageA(4096,611)")) {
                EXPECT_GT(fake_call_index("SendMessageA(0,611)"), fake_call_index("SendMessageA(4096,611)"));
                EXPECT_LT(fake_call_index("SendMessageA(0,611)"), fake_call_index("DestroyWindow"));
            } else {
                EXPECT_FALSE(fake_called("SendMessageA(0,611)"));
            }
            const auto restores = std::count(fake.display_changes.begin(), fake.display_changes.end(), "restore");
            EXPECT_EQ(size_t(restores) * 2, fake.display_changes.size()) << "one restore per change";
            EXPECT_EQ(fake.cursor_level, 0);

            plugin_quit(&module);
            EXPECT_EQ(size_t(restores) * 2, fake.display_changes.size());
            EXPECT_EQ(fake.cursor_level, 0);
        }
    }
}

TEST(Viewport, FrustumHasFortyFiveDegreesAndTheWindowsAspect) {
    fake_reset();
    set_viewport(640, 480);
    EXPECT_TRUE(fake_called("glViewport(0,0,640,480)"));
    EXPECT_TRUE(fake_called("glFrustum(-0.0552285,0.0552285,-0.0414214,0.0414214,0.1,8192)"));
    EXPECT_EQ(fake.calls.back(), "glLoadIdentity");
    EXPECT_EQ(fake.calls[fake.calls.size() - 2], "glMatrixMode(modelview)");

    fake_reset();
    set_viewport(0, -3);
    EXPECT_TRUE(fake_called("glViewport(0,0,1,1)"));
    EXPECT_EQ(plugin_state.viewport_width, 1);
    EXPECT_EQ(plugin_state.viewport_height, 1);
}

TEST(Viewport, OverlayIsPixelSpaceFromTheTopLeftAndUndoesItself) {
    fake_reset();
    plugin_state.viewport_width = 320;
    plugin_state.viewport_height = 200;
    begin_overlay_2d();
    end_overlay_2d();
    const std::vector<std::string> expected = {
        "glMatrixMode(projection)", "glPushMatrix", "glLoadIdentity", "glOrtho(0,320,200,0,-1,1)",
        "glMatrixMode(modelview)", "glPushMatrix", "glLoadIdentity",
        "glMatrixMode(projection)", "glPopMatrix", "glMatrixMode(modelview)", "glPopMatrix"};
    EXPECT_EQ(fake.calls, expected);
}

}  // namespace
