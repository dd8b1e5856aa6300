// The plug-in's lifecycle over the real Linux seam, offscreen on llvmpipe: the window and its
// context, a resize, Escape and the close box, a context that cannot be made, message boxes, and
// the kept frame, read whole whatever pack state the plug-in left.
#include "shell/platform_linux.h"

#include <EGL/egl.h>
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "settings/user_options.h"
#include "shell/lifecycle.h"
#include "shell/module_export.h"
#include "shell/plugin_state.h"

namespace {

char parent_window;
intptr_t probe_answer = 0x5066;
std::vector<std::string> boxes;  // "caption: text", as the player was asked

intptr_t answer_parent(uint32_t, uintptr_t, intptr_t lparam) { return lparam == 505 ? probe_answer : 0; }

int answer_box(WindowHandle, const char *text, const char *caption, uint32_t) {
    boxes.push_back(std::string(caption) + ": " + text);
    return win32::IDOK;
}

class LinuxSeam : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/halcyon-seam-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
        ASSERT_EQ(chdir(folder.c_str()), 0);
        // The shipped assets, and a small window.
        ASSERT_EQ(std::system("mkdir vis_halcyonsphere_assets && ln -s " HALCYON_NATIVE_ASSETS
                              "/*.bmp " HALCYON_NATIVE_ASSETS "/*.qtl " HALCYON_NATIVE_ASSETS
                              "/light_std.fp vis_halcyonsphere_assets/"),
                  0);
        UserOptions options = default_user_options();
        options.width = 160;
        options.height = 120;
        FILE *file = std::fopen("vis_halcyonsphere_assets/useropt.cfg", "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(&options, sizeof options, 1, file);
        std::fclose(file);
        boxes.clear();
        probe_answer = 0x5066;
        module = winampVisGetHeader()->get_module(0);
        module->parent_window = &parent_window;
        module->channel_count = 2;
    }

    void TearDown() override {
        platform_linux_stop();
        ASSERT_EQ(chdir(previous), 0);
        ASSERT_EQ(std::system(("rm -rf '" + folder + "'").c_str()), 0);
    }

    void start(EglDisplayChoice gl = EglDisplayChoice::software, int device = 0) {
        LinuxPlatformSetup setup;
        setup.gl = gl;
        setup.gl_device = device;
        setup.parent = &parent_window;
        setup.answer_parent = answer_parent;
        setup.answer_box = answer_box;
        std::string error;
        ASSERT_TRUE(platform_linux_start(setup, &error)) << error;
    }

    WindowHandle render_window() { return plugin_state.window; }

    // Mean of R, G and B over the drawn frame at its viewport.
    static double frame_brightness(int *width, int *height) {
        GLint viewport[4] = {};
        glGetIntegerv(GL_VIEWPORT, viewport);
        *width = viewport[2];
        *height = viewport[3];
        std::vector<uint8_t> pixels(size_t(viewport[2]) * size_t(viewport[3]) * 4);
        glReadPixels(0, 0, viewport[2], viewport[3], GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        double sum = 0;
        for (size_t i = 0; i < pixels.size(); i += 4) sum += pixels[i] + pixels[i + 1] + pixels[i + 2];
        return sum / (double(pixels.size()) / 4 * 3);
    }

    std::string folder;
    char previous[4096];
    VisModule *module = nullptr;
};

TEST_F(LinuxSeam, StartsDrawsAndStopsCleanlyTwice) {
    start();
    for (int cycle = 0; cycle < 2; ++cycle) {
        SCOPED_TRACE("start " + std::to_string(cycle));
        ASSERT_EQ(module->init(module), 0) << (boxes.empty() ? "" : boxes[0]);
        EXPECT_TRUE(boxes.empty());
        LinuxWindowInfo info;
        ASSERT_TRUE(platform_linux_window_info(render_window(), &info));
        EXPECT_EQ(info.class_name, "f_Halcyonsphere");
        EXPECT_EQ(info.title, "Halcyonsphere");
        EXPECT_EQ(info.client_width, 160);  // the options' size, with no frame counted
        EXPECT_EQ(info.client_height, 120);
        EXPECT_TRUE(platform_linux_gl_current());
        EXPECT_STREQ(platform_linux_display_kind(), "software");
        EXPECT_NE(std::strstr(reinterpret_cast<const char *>(glGetString(GL_RENDERER)), "llvmpipe"), nullptr);
        // 8 bits a channel and, for the 32 colour bits asked, 8 of alpha, as Windows (and Wine) give:
        // the blur weighs its layers by the alpha its frame copy keeps.
        GLint bits[4] = {};
        const GLenum channels[4] = {GL_RED_BITS, GL_GREEN_BITS, GL_BLUE_BITS, GL_ALPHA_BITS};
        for (int i = 0; i < 4; ++i) glGetIntegerv(channels[i], &bits[i]);
        EXPECT_EQ(std::vector<GLint>(bits, bits + 4), std::vector<GLint>({8, 8, 8, 8}));

        double brightness[2];
        for (int frame = 0; frame < 2; ++frame) {
            std::memset(module->spectrum_data, frame ? 200 : 0, sizeof module->spectrum_data);
            ASSERT_EQ(module->render(module), 0);
            int width = 0, height = 0;
            brightness[frame] = frame_brightness(&width, &height);
            EXPECT_EQ(width, 160);
            EXPECT_EQ(height, 120);
        }
        EXPECT_GT(brightness[0], 2.0) << "the sphere is lit";
        EXPECT_GT(brightness[1], brightness[0] + 1.0) << "the music brightens the frame";

        module->quit(module);
        EXPECT_EQ(platform_linux_window_count(), 0);
        EXPECT_FALSE(platform_linux_class_registered("f_Halcyonsphere"));
        EXPECT_FALSE(platform_linux_gl_current());
    }
}

TEST_F(LinuxSeam, ResizeReachesTheViewportAndTheDrawingSurface) {
    start();
    ASSERT_EQ(module->init(module), 0);
    int exit_code = 0;
    ASSERT_TRUE(platform_linux_set_window_size(render_window(), 240, 100));
    EXPECT_FALSE(platform_linux_pump(&exit_code));
    LinuxWindowInfo info;
    ASSERT_TRUE(platform_linux_window_info(render_window(), &info));
    EXPECT_EQ(info.client_width, 240);
    EXPECT_EQ(info.client_height, 100);
    std::memset(module->spectrum_data, 100, sizeof module->spectrum_data);
    ASSERT_EQ(module->render(module), 0);
    int width = 0, height = 0;
    EXPECT_GT(frame_brightness(&width, &height), 2.0);
    EXPECT_EQ(width, 240);
    EXPECT_EQ(height, 100);
    EGLint surface_width = 0, surface_height = 0;
    eglQuerySurface(eglGetCurrentDisplay(), eglGetCurrentSurface(EGL_DRAW), EGL_WIDTH, &surface_width);
    eglQuerySurface(eglGetCurrentDisplay(), eglGetCurrentSurface(EGL_DRAW), EGL_HEIGHT, &surface_height);
    EXPECT_EQ(surface_width, 240);
    EXPECT_EQ(surface_height, 100);
    EXPECT_FALSE(platform_linux_set_window_size(render_window(), 0, 100));
    module->quit(module);
}

TEST_F(LinuxSeam, EscapeAndTheCloseBoxPostTheQuitMessage) {
    start();
    ASSERT_EQ(module->init(module), 0);
    const struct {
        const char *what;
        uint32_t message;
        uintptr_t wparam;
        bool quits;
    } cases[] = {
        {"escape", win32::WM_KEYDOWN, win32::VK_ESCAPE, true},
        {"another key", win32::WM_KEYDOWN, 'A', false},
        {"escape let go", win32::WM_KEYUP, win32::VK_ESCAPE, false},
        {"close box", win32::WM_CLOSE, 0, true},
    };
    for (const auto &c : cases) {
        int exit_code = -1;
        ASSERT_TRUE(platform_linux_post(render_window(), c.message, c.wparam, 0)) << c.what;
        EXPECT_EQ(platform_linux_pump(&exit_code), c.quits) << c.what;
        if (c.quits) {
            EXPECT_EQ(exit_code, 0) << c.what;
        }
        EXPECT_FALSE(platform_linux_pump(&exit_code)) << c.what << ": the quit message is taken once";
        EXPECT_EQ(platform_linux_window_count(), 1) << c.what << ": the player, not the window, ends the run";
    }
    const WindowHandle window = render_window();
    module->quit(module);
    EXPECT_FALSE(platform_linux_post(window, win32::WM_CLOSE, 0, 0)) << "no messages to a destroyed window";
}

TEST_F(LinuxSeam, AContextThatCannotBeMadeShowsItsCodeAndLeavesNothing) {
    start(EglDisplayChoice::device, 999);
    testing::internal::CaptureStderr();
    EXPECT_EQ(module->init(module), 1);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Halcyonsphere: ERRORCODE3");
    EXPECT_NE(said.find("there is no EGL device 999"), std::string::npos) << said;
    EXPECT_NE(said.find("Halcyonsphere: ERRORCODE3 [OK]\n"), std::string::npos) << said;
    EXPECT_EQ(platform_linux_window_count(), 0);
    EXPECT_FALSE(platform_linux_class_registered("f_Halcyonsphere"));
    EXPECT_FALSE(platform_linux_gl_current());
}

TEST_F(LinuxSeam, ALostContextIsToldAndTheFrameBeforeItsSwapKept) {
    start();
    platform_linux_keep_frames(true, false);
    platform_linux_fail_swap(2);  // Init's swap, frame 0's, then frame 1's
    ASSERT_EQ(module->init(module), 0);
    // A plug-in's own pack state, which keeping the frame must neither use nor change.
    GLuint own_buffer = 0;
    glGenBuffers(1, &own_buffer);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, own_buffer);
    glBufferData(GL_PIXEL_PACK_BUFFER, 64, nullptr, GL_STREAM_READ);
    glPixelStorei(GL_PACK_ALIGNMENT, 8);
    glPixelStorei(GL_PACK_ROW_LENGTH, 3);
    for (int frame = 0; frame < 2; ++frame) {
        std::memset(module->spectrum_data, 150, sizeof module->spectrum_data);
        ASSERT_EQ(module->render(module), 0);
        EXPECT_EQ(platform_linux_gl_lost() != nullptr, frame == 1) << frame;
        GLint alignment = 0, row_length = 0, bound = 0;
        glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
        glGetIntegerv(GL_PACK_ROW_LENGTH, &row_length);
        glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &bound);
        EXPECT_EQ((std::vector<int>{alignment, row_length, int(bound)}), (std::vector<int>{8, 3, int(own_buffer)}))
            << frame;
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << frame;
    }
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glDeleteBuffers(1, &own_buffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    EXPECT_NE(std::string(platform_linux_gl_lost()).find("EGL_CONTEXT_LOST"), std::string::npos);
    // The frame whose swap failed was still read, as drawn.
    const std::vector<uint8_t> *kept = nullptr;
    int width = 0, height = 0;
    bool bgra = true;
    ASSERT_TRUE(platform_linux_kept_frame(&kept, &width, &height, &bgra));
    EXPECT_EQ((std::vector<int>{width, height, bgra}), (std::vector<int>{160, 120, false}));
    int drawn_width = 0, drawn_height = 0;
    const double drawn = frame_brightness(&drawn_width, &drawn_height);
    double sum = 0;
    for (size_t i = 0; i < kept->size(); i += 4) sum += (*kept)[i] + (*kept)[i + 1] + (*kept)[i + 2];
    EXPECT_NEAR(sum / (double(kept->size()) / 4 * 3), drawn, 1e-9);
    EXPECT_GT(drawn, 2.0);
    module->quit(module);
}

TEST_F(LinuxSeam, AnOldPlayerIsRefusedBeforeAnyWindow) {
    probe_answer = 0;  // the embed question answered 0
    start();
    EXPECT_EQ(module->init(module), 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Halcyonsphere: This plugin requires Winamp 5.0+");
    EXPECT_EQ(platform_linux_window_count(), 0);
}

TEST_F(LinuxSeam, MessageBoxesAreOneLineWithTheDefaultAnswer) {
    LinuxPlatformSetup setup;  // no player's answers: the boxes' defaults
    std::string error;
    ASSERT_TRUE(platform_linux_start(setup, &error));
    testing::internal::CaptureStderr();
    EXPECT_EQ(platform_message_box(nullptr, "Use device 'x'\r\nfor fullscreen display?", "Question", win32::MB_YESNO),
              win32::IDNO);
    EXPECT_EQ(platform_message_box(nullptr, "Image load failed.", "Halcyonsphere", win32::MB_OK), win32::IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Question: Use device 'x'  for fullscreen display? [No]\nHalcyonsphere: Image load failed. [OK]\n");
}

TEST(LinuxSeamOnScreen, NoDisplayIsSaidAtTheStart) {
    // Whatever display the test runs under, this process has none.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    LinuxPlatformSetup setup;
    setup.on_screen = true;
    std::string error;
    EXPECT_FALSE(platform_linux_start(setup, &error));
    EXPECT_NE(error.find("no display"), std::string::npos) << error;
    platform_linux_stop();
}

}  // namespace
