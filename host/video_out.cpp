#include "host/video_out.h"

#include <windows.h>

#include <GL/gl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "host/frame_capture.h"

static HANDLE g_file = INVALID_HANDLE_VALUE;
static int g_width = 0, g_height = 0;
static std::vector<uint8_t> g_pixels, g_fitted;

static bool write_all(const uint8_t *bytes, size_t size) {
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1 << 24)), done = 0;
        if (!WriteFile(g_file, bytes, chunk, &done, nullptr) || done == 0) return false;
        bytes += done;
        size -= done;
    }
    return true;
}

static void put_u32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

bool video_out_open(const char *path) {
    // A pipe the reader made beforehand (a FIFO) opens as an existing file.
    g_file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    return g_file != INVALID_HANDLE_VALUE;
}

static bool write_header(int width, int height) {
    g_width = width;
    g_height = height;
    uint8_t header[16];
    std::memcpy(header, "HRAW", 4);
    put_u32(header + 4, uint32_t(width));
    put_u32(header + 8, uint32_t(height));
    std::memcpy(header + 12, "BGRA", 4);
    return write_all(header, sizeof header);
}

bool video_out_begin() {
    if (g_width != 0 || !frame_has_gl_context()) return false;  // else the first frame's size
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (viewport[2] <= 0 || viewport[3] <= 0 || viewport[2] > 16384 || viewport[3] > 16384) return false;
    return write_header(viewport[2], viewport[3]);
}

bool video_out_frame(std::string *error) {
    int width = 0, height = 0;
    const char *source = nullptr;
    if (!frame_read_back(PixelOrder::bgra, &g_pixels, &width, &height, &source)) {
        *error = "no frame to read: the plug-in has no GL context on the host's thread and no window";
        return false;
    }
    if (g_width == 0 && !write_header(width, height)) {
        *error = "cannot write the video stream";
        return false;
    }
    const uint8_t *frame = g_pixels.data();
    if (width != g_width || height != g_height) {
        g_fitted.assign(size_t(g_width) * g_height * 4, 0);
        const size_t row = size_t(std::min(width, g_width)) * 4;
        for (int y = 0; y < std::min(height, g_height); ++y)
            std::memcpy(g_fitted.data() + size_t(y) * g_width * 4, g_pixels.data() + size_t(y) * width * 4, row);
        frame = g_fitted.data();
    }
    if (!write_all(frame, size_t(g_width) * g_height * 4)) {
        *error = "cannot write the video stream";
        return false;
    }
    return true;
}

void video_out_close() {
    if (g_file != INVALID_HANDLE_VALUE) CloseHandle(g_file);
    g_file = INVALID_HANDLE_VALUE;
}

int video_out_width() { return g_width; }
int video_out_height() { return g_height; }
