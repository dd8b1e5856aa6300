#include "player/png_writer.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_FAILURE_STRINGS
#include <stb_image_write.h>

bool png_write_rgba(const char *path, int width, int height, const uint8_t *rows) {
    return stbi_write_png(path, width, height, 4, rows, width * 4) != 0;
}
