#include "native/frame_output.h"

#include <GL/gl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/png_writer.h"
#include "shell/platform_linux.h"

namespace {

int g_video = -1;
bool g_video_owned = false;
int g_width = 0, g_height = 0;
std::vector<uint8_t> g_pixels, g_fitted, g_bottom_up;

// The plug-in's viewport: where it draws, and so the frame.
bool current_viewport(GLint viewport[4]) {
    if (!platform_linux_gl_current()) return false;
    glGetIntegerv(GL_VIEWPORT, viewport);
    return viewport[2] > 0 && viewport[3] > 0 && viewport[2] <= 16384 && viewport[3] <= 16384;
}

bool write_all(const uint8_t *bytes, size_t size) {
    while (size > 0) {
        const ssize_t done = write(g_video, bytes, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        size -= size_t(done);
    }
    return true;
}

void put_u32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

bool write_header(int width, int height) {
    g_width = width;
    g_height = height;
    uint8_t header[16];
    std::memcpy(header, "HRAW", 4);
    put_u32(header + 4, uint32_t(width));
    put_u32(header + 8, uint32_t(height));
    std::memcpy(header + 12, "BGRA", 4);
    return write_all(header, sizeof header);
}

}  // namespace

bool frame_read_back(bool bgra, std::vector<uint8_t> *pixels, int *width, int *height) {
    GLint viewport[4] = {};
    if (!current_viewport(viewport)) return false;
    const int w = viewport[2], h = viewport[3];
    const size_t stride = size_t(w) * 4;
    g_bottom_up.resize(stride * size_t(h));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(viewport[0], viewport[1], w, h, bgra ? GL_BGRA : GL_RGBA, GL_UNSIGNED_BYTE, g_bottom_up.data());
    // GL rows run bottom up; images top down.
    pixels->resize(g_bottom_up.size());
    for (int y = 0; y < h; ++y)
        std::memcpy(pixels->data() + size_t(y) * stride, g_bottom_up.data() + size_t(h - 1 - y) * stride, stride);
    *width = w;
    *height = h;
    return true;
}

FrameCapture frame_capture(const char *folder, int frame_index) {
    FrameCapture result;
    std::vector<uint8_t> rows;
    if (!frame_read_back(false, &rows, &result.width, &result.height)) return result;
    double sums[3] = {0, 0, 0};
    for (size_t x = 0; x < rows.size(); x += 4) {
        sums[0] += rows[x];
        sums[1] += rows[x + 1];
        sums[2] += rows[x + 2];
        rows[x + 3] = 255;
    }
    char path[4096];
    std::snprintf(path, sizeof path, "%s/frame_%05d.png", folder, frame_index);
    result.captured = png_write_rgba(path, result.width, result.height, rows.data());
    const double count = double(result.width) * double(result.height);
    result.mean_red = sums[0] / count;
    result.mean_green = sums[1] / count;
    result.mean_blue = sums[2] / count;
    result.path = path;
    return result;
}

bool frame_video_open(const char *path) {
    if (std::strcmp(path, "-") == 0) {
        g_video = STDOUT_FILENO;
        g_video_owned = false;
        return true;
    }
    // A pipe the reader made beforehand (a FIFO) opens as an existing file.
    g_video = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    g_video_owned = g_video >= 0;
    return g_video >= 0;
}

bool frame_video_begin() {
    GLint viewport[4] = {};
    if (g_width != 0 || !current_viewport(viewport)) return false;  // else the first frame's size
    return write_header(viewport[2], viewport[3]);
}

bool frame_video_write(std::string *error) {
    int width = 0, height = 0;
    if (!frame_read_back(true, &g_pixels, &width, &height)) {
        *error = "no frame to read: the plug-in has no GL context";
        return false;
    }
    if (g_width == 0 && !write_header(width, height)) {
        *error = "cannot write the video stream";
        return false;
    }
    const uint8_t *frame = g_pixels.data();
    if (width != g_width || height != g_height) {
        g_fitted.assign(size_t(g_width) * size_t(g_height) * 4, 0);
        const size_t row = size_t(std::min(width, g_width)) * 4;
        for (int y = 0; y < std::min(height, g_height); ++y)
            std::memcpy(g_fitted.data() + size_t(y) * size_t(g_width) * 4,
                        g_pixels.data() + size_t(y) * size_t(width) * 4, row);
        frame = g_fitted.data();
    }
    if (!write_all(frame, size_t(g_width) * size_t(g_height) * 4)) {
        *error = "cannot write the video stream";
        return false;
    }
    return true;
}

void frame_video_close() {
    if (g_video_owned) close(g_video);
    g_video = -1;
    g_video_owned = false;
}
