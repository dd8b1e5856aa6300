// Any bytes as a bitmap file: decode them, and when a picture comes out, read every pixel of it,
// so that a size that does not match the block shows up under ASan. The bytes are a block of
// exactly the input's size.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "image/bmp_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    uint8_t *bytes = static_cast<uint8_t *>(std::malloc(size ? size : 1));
    if (size) std::memcpy(bytes, data, size);
    const char *failure = "";
    RgbaImage *image = bmp_decode(bytes, size, &failure);
    if (image) {
        const size_t count = size_t(image->width) * size_t(image->height) * 4;
        unsigned sum = 0;
        for (size_t i = 0; i < count; ++i) sum += image->pixels[i];
        for (size_t i = 3; i < count; i += 4)
            if (image->pixels[i] != 255) std::abort();  // every decoded pixel is opaque
        (void)sum;
    } else if (!failure || !*failure) {
        std::abort();  // a refusal always says why
    }
    std::free(image);
    std::free(bytes);
    return 0;
}
