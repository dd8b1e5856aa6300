#include "native/frame_output.h"

#include <GL/gl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "native/frame_readback.h"
#include "shell/platform_linux.h"

namespace {

int g_video_file = -1;
bool g_video_owned = false;

bool write_all(const uint8_t *bytes, size_t size) {
    while (size > 0) {
        const ssize_t done = write(g_video_file, bytes, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        size -= size_t(done);
    }
    return true;
}

RawVideo g_video = {write_all, 0, 0, {}};
std::vector<uint8_t> g_pixels, g_bottom_up;

// The plug-in's viewport: where it draws, and so the frame.
bool current_viewport(GLint viewport[4]) {
    if (!platform_linux_gl_current()) return false;
    glGetIntegerv(GL_VIEWPORT, viewport);
    return frame_size_usable(viewport[2], viewport[3]);
}

// The copy the swap kept, in the order asked for.
bool kept_frame(bool bgra, std::vector<uint8_t> *pixels, int *width, int *height) {
    const std::vector<uint8_t> *kept = nullptr;
    bool kept_bgra = false;
    if (!platform_linux_kept_frame(&kept, width, height, &kept_bgra) || !frame_size_usable(*width, *height))
        return false;
    if (bgra == kept_bgra) {
        frame_rows_top_down(*kept, *width, *height, pixels);
        return true;
    }
    g_bottom_up = *kept;
    for (size_t i = 0; i + 3 < g_bottom_up.size(); i += 4) std::swap(g_bottom_up[i], g_bottom_up[i + 2]);
    frame_rows_top_down(g_bottom_up, *width, *height, pixels);
    return true;
}

}  // namespace

bool frame_read_back(bool bgra, std::vector<uint8_t> *pixels, int *width, int *height) {
    if (kept_frame(bgra, pixels, width, height)) return true;
    GLint viewport[4] = {};
    if (!current_viewport(viewport)) return false;
    const int w = viewport[2], h = viewport[3];
    g_bottom_up.resize(size_t(w) * 4 * size_t(h));
    read_pixels_keeping_state(viewport[0], viewport[1], w, h, bgra ? GL_BGRA : GL_RGBA, g_bottom_up.data());
    frame_rows_top_down(g_bottom_up, w, h, pixels);
    *width = w;
    *height = h;
    return true;
}

CaptureResult frame_capture(const char *folder, int frame_index) {
    std::vector<uint8_t> rows;
    int width = 0, height = 0;
    if (!frame_read_back(false, &rows, &width, &height)) return CaptureResult();
    return capture_write(folder, '/', frame_index, &rows, width, height, "gl");
}

bool video_out_open(const char *path) {
    if (std::strcmp(path, "-") == 0) {
        g_video_file = STDOUT_FILENO;
        g_video_owned = false;
        return true;
    }
    // A pipe the reader made beforehand (a FIFO) opens as an existing file.
    g_video_file = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    g_video_owned = g_video_file >= 0;
    return g_video_file >= 0;
}

bool video_out_begin() {
    GLint viewport[4] = {};
    if (g_video.width != 0 || !current_viewport(viewport)) return false;  // else the first frame's size
    return raw_video_begin(&g_video, viewport[2], viewport[3]);
}

bool video_out_frame(std::string *error) {
    int width = 0, height = 0;
    if (!frame_read_back(true, &g_pixels, &width, &height)) {
        *error = "no frame to read: the plug-in has no GL context";
        return false;
    }
    return raw_video_frame(&g_video, g_pixels, width, height, error);
}

void video_out_close() {
    if (g_video_owned) close(g_video_file);
    g_video_file = -1;
    g_video_owned = false;
}
