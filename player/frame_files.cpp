#include "player/frame_files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "player/png_writer.h"

void frame_rows_top_down(const std::vector<uint8_t> &bottom_up, int width, int height, std::vector<uint8_t> *pixels) {
    const size_t stride = size_t(width) * 4;
    pixels->resize(bottom_up.size());
    for (int y = 0; y < height; ++y)
        std::memcpy(pixels->data() + size_t(y) * stride, bottom_up.data() + size_t(height - 1 - y) * stride, stride);
}

CaptureResult capture_write(const char *folder, char separator, int frame_index, std::vector<uint8_t> *rows,
                            int width, int height, const char *source) {
    CaptureResult result;
    result.source = source;
    // Alpha is forced opaque: the window shows no alpha.
    double sums[3] = {0, 0, 0};
    for (size_t x = 0; x < rows->size(); x += 4) {
        sums[0] += (*rows)[x];
        sums[1] += (*rows)[x + 1];
        sums[2] += (*rows)[x + 2];
        (*rows)[x + 3] = 255;
    }
    char name[32];
    std::snprintf(name, sizeof name, "frame_%05d.png", frame_index);
    result.path = std::string(folder) + separator + name;
    result.captured = png_write_rgba(result.path.c_str(), width, height, rows->data(), &result.error);
    result.width = width;
    result.height = height;
    const double count = double(width) * double(height);
    result.mean_red = sums[0] / count;
    result.mean_green = sums[1] / count;
    result.mean_blue = sums[2] / count;
    return result;
}

static void put_u32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

static bool write_header(RawVideo *video, int width, int height) {
    video->width = width;
    video->height = height;
    uint8_t header[16];
    std::memcpy(header, "HRAW", 4);
    put_u32(header + 4, uint32_t(width));
    put_u32(header + 8, uint32_t(height));
    std::memcpy(header + 12, "BGRA", 4);
    return video->write_all(header, sizeof header);
}

bool raw_video_begin(RawVideo *video, int width, int height) {
    if (video->width != 0 || !frame_size_usable(width, height)) return false;  // else the first frame's size
    return write_header(video, width, height);
}

bool raw_video_frame(RawVideo *video, const std::vector<uint8_t> &pixels, int width, int height, std::string *error) {
    if (video->width == 0 && !write_header(video, width, height)) {
        *error = "cannot write the video stream";
        return false;
    }
    const int w = video->width, h = video->height;
    const uint8_t *frame = pixels.data();
    if (width != w || height != h) {
        video->fitted.assign(size_t(w) * size_t(h) * 4, 0);
        const size_t row = size_t(std::min(width, w)) * 4;
        for (int y = 0; y < std::min(height, h); ++y)
            std::memcpy(video->fitted.data() + size_t(y) * size_t(w) * 4, pixels.data() + size_t(y) * size_t(width) * 4,
                        row);
        frame = video->fitted.data();
    }
    if (!video->write_all(frame, size_t(w) * size_t(h) * 4)) {
        *error = "cannot write the video stream";
        return false;
    }
    return true;
}
