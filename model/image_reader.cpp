#include "model/image_reader.h"

#include <cstring>

int64_t image_text_length(const ImageView &image, uint64_t offset) {
    if (offset >= image.size) return -1;
    const void *nul = std::memchr(image.data + offset, 0, image.size - offset);
    if (!nul) return -1;
    return static_cast<const uint8_t *>(nul) - (image.data + offset);
}
