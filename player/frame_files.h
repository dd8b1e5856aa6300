// What both players make of a frame they read back, whatever read it (Win32 and WGL in the host,
// EGL natively): its rows turned top down, a PNG capture, and the raw video stream for an encoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A viewport worth reading: bounded, so that a stray one cannot ask for gigabytes.
inline bool frame_size_usable(int width, int height) {
    return width > 0 && height > 0 && width <= 16384 && height <= 16384;
}

// GL's rows run bottom up; images top down. 4 bytes a pixel.
void frame_rows_top_down(const std::vector<uint8_t> &bottom_up, int width, int height, std::vector<uint8_t> *pixels);

struct CaptureResult {
    bool captured = false;
    int width = 0, height = 0;
    double mean_red = 0, mean_green = 0, mean_blue = 0;  // 0..255, for quick checks in the log
    std::string path;
    const char *source = nullptr;  // what read the frame ("gl", ...), or null when nothing was read
    std::string error;             // why a frame that was read is not captured: its file's failure
};

// Writes rows (RGBA, top row first) as FOLDER/frame_NNNNN.png, joined with separator, alpha made
// opaque as the window shows it; not captured, with the reason, when the file cannot be written.
CaptureResult capture_write(const char *folder, char separator, int frame_index, std::vector<uint8_t> *rows,
                            int width, int height, const char *source);

// Raw frames for an encoder, written to a file or a pipe as the frames are drawn, so that no frame
// goes through an image file. Layout: a 16-byte header ("HRAW", width and height as 32-bit
// little-endian numbers, "BGRA"), then width x height x 4 bytes per frame, top row first. The
// first frame fixes the size; a later frame of another size is cut or padded with black to it.
struct RawVideo {
    bool (*write_all)(const uint8_t *bytes, size_t size);  // the platform's: all of it, or false
    int width = 0, height = 0;                              // 0 until the header is written
    std::vector<uint8_t> fitted;
};
// Fixes the size and writes the header, unless it is fixed already or the size is not usable:
// after Init, from the viewport, so that the encoder starts while the first frame is drawn.
bool raw_video_begin(RawVideo *video, int width, int height);
// Writes a frame (BGRA, top row first); the header first if none is written yet. False with the
// reason in *error when the write failed (the reader went away).
bool raw_video_frame(RawVideo *video, const std::vector<uint8_t> &pixels, int width, int height, std::string *error);
