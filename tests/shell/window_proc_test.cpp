#include <gtest/gtest.h>

#include "shell/plugin_state.h"
#include "tests/fakes/fake_platform.h"

namespace {

struct ProcCase {
    const char *what;
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
    intptr_t result;
    int quit_messages;
    bool default_handling;
};

TEST(WindowProcedure, AnswersEachMessageAsTheTableSays) {
    const ProcCase cases[] = {
        {"close box", win32::WM_CLOSE, 0, 0, 0, 1, false},
        {"escape", win32::WM_KEYDOWN, win32::VK_ESCAPE, 0, 0, 1, false},
        {"other key", win32::WM_KEYDOWN, 'A', 0, 0, 0, false},
        {"key up", win32::WM_KEYUP, win32::VK_ESCAPE, 0, 0, 0, false},
        {"activate", win32::WM_ACTIVATE, 1, 0, 0, 0, false},
        {"screen saver", win32::WM_SYSCOMMAND, 61760, 0, 0, 0, false},
        {"monitor power", win32::WM_SYSCOMMAND, 61808, 0, 0, 0, false},
        {"other system command", win32::WM_SYSCOMMAND, 61761, 0, 77, 0, true},
        {"unhandled message", 0x0200, 0, 0, 77, 0, true},
    };
    for (const ProcCase &c : cases) {
        fake_reset();
        const intptr_t result = display_window_proc(nullptr, c.message, c.wparam, c.lparam);
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(fake.quit_messages, c.quit_messages) << c.what;
        EXPECT_EQ(fake_called("DefWindowProcA"), c.default_handling) << c.what;
        if (c.quit_messages) {
            EXPECT_TRUE(fake_called("PostQuitMessage(0)")) << c.what;
        }
        EXPECT_FALSE(fake_called("DestroyWindow")) << c.what;
    }
}

TEST(WindowProcedure, ResizeSetsTheViewportFromLParam) {
    fake_reset();
    EXPECT_EQ(display_window_proc(nullptr, win32::WM_SIZE, 0, (480 << 16) | 640), 0);
    EXPECT_EQ(plugin_state.viewport_width, 640);
    EXPECT_EQ(plugin_state.viewport_height, 480);
    EXPECT_EQ(display_window_proc(nullptr, win32::WM_SIZE, 0, 0), 0);
    EXPECT_EQ(plugin_state.viewport_width, 1);
    EXPECT_EQ(plugin_state.viewport_height, 1);
}

}  // namespace
