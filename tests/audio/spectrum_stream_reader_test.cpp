// The stream reader: a regular file of exactly its header's size, or a pipe, read forward with a
// few records of memory; everything else refused at once.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "audio/spectrum_stream.h"

namespace {

// A stream of frames records whose bytes tell their row.
std::vector<uint8_t> stream_bytes(uint32_t frames, uint32_t header_frames) {
    SpectrumStream fields;
    fields.channel_count = 2;
    fields.rate_numerator = 30;
    fields.frame_count = header_frames;
    std::vector<uint8_t> bytes(kStreamHeaderSize + size_t(frames) * kStreamRecordSize);
    spectrum_stream_header(fields, bytes.data());
    for (size_t i = kStreamHeaderSize; i < bytes.size(); ++i) {
        const size_t row = (i - kStreamHeaderSize) / kStreamRecordSize, at = (i - kStreamHeaderSize) % kStreamRecordSize;
        bytes[i] = uint8_t(row * 3 + at % 3);
    }
    return bytes;
}

int row_of(const uint8_t *record) { return record ? record[0] / 3 : -1; }

std::string write_file(const std::string &name, const std::vector<uint8_t> &bytes) {
    const std::string path = testing::TempDir() + "halcyon_reader_" + name;
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

// A pipe whose writer sends bytes, then closes; the reader's end is returned.
struct Pipe {
    std::FILE *read_end = nullptr;
    std::thread writer;
    explicit Pipe(std::vector<uint8_t> bytes) {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        read_end = fdopen(ends[0], "rb");
        writer = std::thread([bytes, fd = ends[1]] {
            size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
                if (n <= 0) break;  // the reader closed its end
                done += size_t(n);
            }
            close(fd);
        });
    }
    ~Pipe() {
        std::fclose(read_end);
        writer.join();
    }
};

TEST(StreamReader, RefusesAtOnceWhatIsNotExactlyItsHeadersStream) {
    const std::vector<uint8_t> good = stream_bytes(3, 3);
    std::vector<uint8_t> old_version = good;
    old_version[4] = 1;
    const std::string fifo = testing::TempDir() + "halcyon_reader_fifo";
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        const char *reason;  // the start of it
    } cases[] = {
        {write_file("short", std::vector<uint8_t>(good.begin(), good.end() - 1)), "size does not match the frame count"},
        {write_file("long", stream_bytes(4, 3)), "size does not match the frame count"},
        {write_file("empty", {}), "not a spectrum stream"},
        {write_file("old", old_version), "unknown version"},
        {testing::TempDir() + "halcyon_reader_missing", "cannot open"},
        {fifo, "not a regular file"},  // opening it would wait for a writer forever
        {"/dev/zero", "not a regular file"},
        {testing::TempDir(), "not a regular file"},
    };
    for (const Case &c : cases) {
        SpectrumStreamReader reader;
        EXPECT_FALSE(spectrum_stream_open(c.path.c_str(), &reader)) << c.path;
        EXPECT_EQ(std::string(reader.reason).rfind(c.reason, 0), 0u) << c.path << ": " << reader.reason;
    }
    // A device already open, as stdin would be.
    std::FILE *zero = std::fopen("/dev/zero", "rb");
    SpectrumStreamReader reader;
    EXPECT_FALSE(spectrum_stream_open_file(zero, &reader));
    EXPECT_STREQ(reader.reason, "not a regular file or a pipe");
    std::fclose(zero);
    std::remove(fifo.c_str());
}

TEST(StreamReader, ReadsForwardFromAFileOrAPipeAndHoldsTheLastRecord) {
    const uint32_t frames = 40;
    const std::vector<uint8_t> bytes = stream_bytes(frames, frames);
    for (bool through_pipe : {false, true}) {
        SCOPED_TRACE(through_pipe ? "pipe" : "file");
        SpectrumStreamReader reader;
        Pipe *pipe = nullptr;
        if (through_pipe) {
            pipe = new Pipe(bytes);
            ASSERT_TRUE(spectrum_stream_open_file(pipe->read_end, &reader)) << reader.reason;
        } else {
            ASSERT_TRUE(spectrum_stream_open(write_file("walk", bytes).c_str(), &reader)) << reader.reason;
        }
        EXPECT_EQ(reader.pipe, through_pipe);
        EXPECT_EQ(reader.stream.frame_count, frames);
        // In order, the same row twice, a skip, a step back inside the window, one behind it.
        const struct {
            uint32_t row;
            int expected;  // the record's row, -1 none
        } asks[] = {{0, 0}, {0, 0}, {1, 1}, {20, 20}, {10, -1}, {21, 21}, {24, 24}, {21, 21}, {20, -1},
                    {39, 39}, {1000, 39}};
        for (const auto &ask : asks) EXPECT_EQ(row_of(spectrum_stream_record(&reader, ask.row)), ask.expected) << ask.row;
        EXPECT_EQ(reader.end, StreamEnd::complete);
        // Every byte of a record is the stream's, not only the first.
        EXPECT_EQ(std::memcmp(spectrum_stream_record(&reader, 39), bytes.data() + kStreamHeaderSize + 39 * kStreamRecordSize,
                              kStreamRecordSize), 0);
        spectrum_stream_close(&reader);
        delete pipe;
    }
}

TEST(StreamReader, APipeThatEndsEarlyIsAnEndToldAsSuch) {
    std::vector<uint8_t> bytes = stream_bytes(3, 8);
    bytes.resize(bytes.size() - kStreamRecordSize / 2);  // two records and half of the third
    Pipe pipe(bytes);
    SpectrumStreamReader reader;
    ASSERT_TRUE(spectrum_stream_open_file(pipe.read_end, &reader));
    EXPECT_EQ(row_of(spectrum_stream_record(&reader, 1)), 1);
    EXPECT_EQ(reader.end, StreamEnd::none);
    EXPECT_EQ(row_of(spectrum_stream_record(&reader, 5)), 1);  // the last record there was
    EXPECT_EQ(reader.end, StreamEnd::early);
    EXPECT_STREQ(reader.reason, "the stream ended after 2 of its 8 records and part of the next");
    EXPECT_EQ(row_of(spectrum_stream_record(&reader, 0)), 0);

    Pipe headless(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 20));
    EXPECT_FALSE(spectrum_stream_open_file(headless.read_end, &reader));
    EXPECT_STREQ(reader.reason, "the stream ended before its header");
}

}  // namespace
