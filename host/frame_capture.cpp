#include "host/frame_capture.h"

#include <windows.h>

#include <GL/gl.h>

#include <cstdio>
#include <vector>

#include "host/png_writer.h"

CaptureResult frame_capture(const char *folder, int frame_index) {
    CaptureResult result = {};
    if (!wglGetCurrentContext()) return result;
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int width = viewport[2], height = viewport[3];
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return result;

    // After SwapBuffers the back buffer still holds the frame under this stack (llvmpipe copies on
    // swap), while the front buffer may read black; what a player shows comes from that copy.
    std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(viewport[0], viewport[1], width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());

    // GL rows run bottom up; PNG rows top down. Alpha is forced opaque: the window shows no alpha.
    std::vector<uint8_t> rows(pixels.size());
    double sums[3] = {0, 0, 0};
    const size_t stride = size_t(width) * 4;
    for (int y = 0; y < height; ++y) {
        const uint8_t *from = pixels.data() + size_t(height - 1 - y) * stride;
        uint8_t *to = rows.data() + size_t(y) * stride;
        for (size_t x = 0; x < stride; x += 4) {
            to[x] = from[x];
            to[x + 1] = from[x + 1];
            to[x + 2] = from[x + 2];
            to[x + 3] = 255;
            sums[0] += from[x];
            sums[1] += from[x + 1];
            sums[2] += from[x + 2];
        }
    }
    char path[1024];
    std::snprintf(path, sizeof path, "%s\\frame_%05d.png", folder, frame_index);
    result.captured = png_write_rgba(path, width, height, rows.data());
    result.width = width;
    result.height = height;
    const double count = double(width) * double(height);
    result.mean_red = sums[0] / count;
    result.mean_green = sums[1] / count;
    result.mean_blue = sums[2] / count;
    result.path = path;
    return result;
}
