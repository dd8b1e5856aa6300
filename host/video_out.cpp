#include "host/video_out.h"

#include <windows.h>

#include <GL/gl.h>

#include <algorithm>
#include <vector>

#include "host/frame_capture.h"
#include "player/frame_files.h"

static HANDLE g_file = INVALID_HANDLE_VALUE;

static bool write_all(const uint8_t *bytes, size_t size) {
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1 << 24)), done = 0;
        if (!WriteFile(g_file, bytes, chunk, &done, nullptr) || done == 0) return false;
        bytes += done;
        size -= done;
    }
    return true;
}

static RawVideo g_video = {write_all, 0, 0, {}};
static std::vector<uint8_t> g_pixels;

bool video_out_open(const char *path) {
    // A pipe the reader made beforehand (a FIFO) opens as an existing file.
    g_file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    return g_file != INVALID_HANDLE_VALUE;
}

bool video_out_begin() {
    if (g_video.width != 0 || !frame_has_gl_context()) return false;  // else the first frame's size
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    return raw_video_begin(&g_video, viewport[2], viewport[3]);
}

bool video_out_frame(std::string *error) {
    int width = 0, height = 0;
    const char *source = nullptr;
    if (!frame_read_back(PixelOrder::bgra, &g_pixels, &width, &height, &source)) {
        *error = "no frame to read: the plug-in has no GL context on the host's thread and no window";
        return false;
    }
    return raw_video_frame(&g_video, g_pixels, width, height, error);
}

void video_out_close() {
    if (g_file != INVALID_HANDLE_VALUE) CloseHandle(g_file);
    g_file = INVALID_HANDLE_VALUE;
}
