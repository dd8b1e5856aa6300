#include "host/frame_capture.h"

#include <windows.h>

#include <GL/gl.h>

#include "host/gl_window_pixels.h"
#include "host/swap_capture.h"

#ifndef GL_BGRA
#define GL_BGRA 0x80E1
#endif

bool frame_has_gl_context() { return wglGetCurrentContext() != nullptr; }

static bool gl_read_back(PixelOrder order, std::vector<uint8_t> *pixels, int *width, int *height) {
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int w = viewport[2], h = viewport[3];
    if (!frame_size_usable(w, h)) return false;

    // After SwapBuffers the back buffer still holds the frame under this stack (llvmpipe copies on
    // swap), while the front buffer may read black; what a player shows comes from that copy.
    static std::vector<uint8_t> bottom_up;
    bottom_up.resize(size_t(w) * 4 * size_t(h));
    gl_read_window(viewport[0], viewport[1], w, h, order == PixelOrder::bgra ? GL_BGRA : GL_RGBA, bottom_up.data());
    frame_rows_top_down(bottom_up, w, h, pixels);
    *width = w;
    *height = h;
    return true;
}

bool frame_read_back(PixelOrder order, std::vector<uint8_t> *pixels, int *width, int *height, const char **source) {
    if (frame_has_gl_context()) {
        *source = "gl";
        return gl_read_back(order, pixels, width, height);
    }
    if (swap_capture_latest(order, pixels, width, height)) {
        *source = "gl_thread";
        return true;
    }
    *source = "window";
    return window_read_back(window_of_plugin(), order, pixels, width, height);
}

static bool window_shows_something(HWND window) {
    static std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    if (!window_read_back(window, PixelOrder::bgra, &pixels, &width, &height)) return false;
    for (size_t i = 0; i < pixels.size(); i += 4)
        if (pixels[i] != 0 || pixels[i + 1] != 0 || pixels[i + 2] != 0) return true;
    return false;
}

bool frame_picture_ready(double waited_seconds, double gl_start_seconds) {
    if (frame_has_gl_context() || swap_capture_ready()) return true;
    if (swap_capture_gl_elsewhere()) return false;  // its frames come with its swaps
    HWND window = window_of_plugin();
    if (window == nullptr) return false;
    return !swap_capture_gl_imported() || waited_seconds >= gl_start_seconds || window_shows_something(window);
}

CaptureResult frame_capture(const char *folder, int frame_index) {
    std::vector<uint8_t> rows;
    int width = 0, height = 0;
    const char *source = nullptr;
    if (!frame_read_back(PixelOrder::rgba, &rows, &width, &height, &source)) return CaptureResult();
    return capture_write(folder, '\\', frame_index, &rows, width, height, source);
}
