// Any bytes as a spectrum stream: what the parser accepts, the host reads every row of.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "audio/spectrum_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // A block of exactly the input's size, so that reading past it is caught.
    uint8_t *copy = static_cast<uint8_t *>(std::malloc(size ? size : 1));
    if (size) std::memcpy(copy, data, size);
    SpectrumStream stream;
    const char *error = nullptr;
    if (spectrum_stream_parse(copy, size, &stream, &error)) {
        unsigned sum = 0;
        for (uint32_t i = 0; i < stream.frame_count; ++i) {
            const uint8_t *rows = spectrum_stream_rows(stream, i);
            const uint8_t *wave = spectrum_stream_waveform(stream, i);
            sum += rows[0] + wave[0] + wave[kStreamRowsSize - 1];
        }
        if (sum == 0xFFFFFFFFu) std::abort();  // keeps the reads
    }
    std::free(copy);
    return 0;
}
