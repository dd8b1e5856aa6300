// Any bytes as a spectrum stream: what the parser accepts, the host reads every row of; and the
// reader, over the same bytes as a regular file and as a pipe, hands out only the records the bytes
// hold, each the bytes at its place, however it is asked; a live stream's newest, through a pipe.
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "audio/spectrum_stream.h"

namespace {

void check_parse(const uint8_t *data, size_t size) {
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
}

// Asks for rows in strides taken from the input, checking each record against the bytes.
void read_all(SpectrumStreamReader *reader, const uint8_t *data, size_t size) {
    const uint32_t stride = 1 + data[size - 1] % 7;
    const size_t held = (size - kStreamHeaderSize) / kStreamRecordSize;
    uint32_t newest = 0;
    for (uint32_t row = 0; reader->end == StreamEnd::none; row += stride) {
        const uint8_t *record = spectrum_stream_record(reader, row);
        if (record == nullptr) {
            if (reader->rows_read == 0 && reader->end != StreamEnd::none) return;  // none came
            std::abort();  // forward, so never behind the window
        }
        newest = row < reader->rows_read ? row : reader->rows_read - 1;
        if (newest >= held || std::memcmp(record, data + kStreamHeaderSize + newest * kStreamRecordSize, kStreamRecordSize))
            std::abort();
    }
    if (reader->end == StreamEnd::complete && reader->rows_read != reader->stream.frame_count) std::abort();
}

// A live stream: the newest record, however the writer's pieces fall, until the writer closes.
void read_live(SpectrumStreamReader *reader, const uint8_t *data, size_t size) {
    const size_t held = (size - kStreamHeaderSize) / kStreamRecordSize;
    while (reader->end == StreamEnd::none) {
        uint32_t arrived = 0;
        const uint8_t *record = spectrum_stream_newest(reader, &arrived);
        if (record == nullptr) {
            if (reader->rows_read != 0) std::abort();
            continue;
        }
        const size_t newest = reader->rows_read - 1;
        if (newest >= held || std::memcmp(record, data + kStreamHeaderSize + newest * kStreamRecordSize, kStreamRecordSize))
            std::abort();
    }
    if (reader->end == StreamEnd::closed && reader->rows_read != held) std::abort();
}

void check_file(const uint8_t *data, size_t size) {
    const int fd = memfd_create("stream", 0);
    if (fd < 0) return;
    if (size && write(fd, data, size) != ssize_t(size)) std::abort();
    lseek(fd, 0, SEEK_SET);
    std::FILE *file = fdopen(fd, "rb");
    SpectrumStreamReader reader;
    if (spectrum_stream_open_file(file, &reader)) {
        SpectrumStream parsed;
        const char *error = nullptr;
        if (!spectrum_stream_parse(data, size, &parsed, &error)) std::abort();  // the same rules
        read_all(&reader, data, size);
    }
    std::fclose(file);
}

void check_pipe(const uint8_t *data, size_t size) {
    int ends[2];
    if (pipe(ends) != 0) return;
    std::thread writer([&] {
        for (size_t done = 0; done < size;) {
            const ssize_t n = write(ends[1], data + done, size - done);
            if (n <= 0) break;  // the reader gave up
            done += size_t(n);
        }
        close(ends[1]);
    });
    std::FILE *file = fdopen(ends[0], "rb");
    SpectrumStreamReader reader;
    if (spectrum_stream_open_file(file, &reader)) {
        if (reader.stream.live) read_live(&reader, data, size);
        else read_all(&reader, data, size);
    }
    std::fclose(file);
    writer.join();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    std::signal(SIGPIPE, SIG_IGN);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    check_parse(data, size);
    check_file(data, size);
    check_pipe(data, size);
    return 0;
}
