#include "player/png_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_FAILURE_STRINGS
#define STBI_WRITE_NO_STDIO  // its own file writing checks no write; ours does
#include <stb_image_write.h>

namespace {

struct PngFile {
    FILE *file;
    int error;  // errno of the first failed write, 0 while none failed
};

void write_bytes(void *context, void *data, int size) {
    PngFile *png = static_cast<PngFile *>(context);
    if (png->error != 0) return;
    if (std::fwrite(data, 1, size_t(size), png->file) != size_t(size)) png->error = errno ? errno : EIO;
}

}  // namespace

bool png_write_rgba(const char *path, int width, int height, const uint8_t *rows, std::string *error) {
    PngFile png = {std::fopen(path, "wb"), 0};
    if (!png.file) {
        *error = std::string("cannot write ") + path + ": " + std::strerror(errno);
        return false;
    }
    errno = 0;
    const bool encoded = stbi_write_png_to_func(write_bytes, &png, width, height, 4, rows, width * 4) != 0;
    // The data may meet the full disk only when the buffer is flushed, at the close.
    if (std::fflush(png.file) != 0 && png.error == 0) png.error = errno ? errno : EIO;
    if (std::fclose(png.file) != 0 && png.error == 0) png.error = errno ? errno : EIO;
    if (encoded && png.error == 0) return true;
    *error = std::string("cannot write ") + path + ": " + (encoded ? std::strerror(png.error) : "cannot encode it");
    std::remove(path);
    return false;
}
