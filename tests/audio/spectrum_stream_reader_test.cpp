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

// A stream of frames records whose bytes tell their row (live: header_frames is not written).
std::vector<uint8_t> stream_bytes(uint32_t frames, uint32_t header_frames, bool live = false) {
    SpectrumStream fields;
    fields.channel_count = 2;
    fields.rate_numerator = 30;
    fields.frame_count = live ? 0 : header_frames;
    fields.live = live;
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
    std::vector<uint8_t> unknown_flag = good, counted_live = stream_bytes(3, 3, true);
    unknown_flag[36] = 2;
    counted_live[24] = 3;
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
        {write_file("flag", unknown_flag), "unknown flags"},
        {write_file("counted_live", counted_live), "a live stream with a frame count"},
        {write_file("live", stream_bytes(0, 0, true)), "a live stream comes through a pipe"},
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

    // More than the header claims, there when its last record is read (one write, so all of it
    // is in the pipe once the header is): a failure.
    Pipe longer(stream_bytes(4, 3));
    ASSERT_TRUE(spectrum_stream_open_file(longer.read_end, &reader));
    EXPECT_EQ(row_of(spectrum_stream_record(&reader, 2)), 2);
    EXPECT_EQ(reader.end, StreamEnd::failed);
    EXPECT_STREQ(reader.reason, "the stream holds more than its header's 3 records");
}

// A live stream written by hand: every call takes what has come, hands out the newest, holds it
// while nothing comes, keeps a record's first part for the rest, and ends when the writer closes.
TEST(StreamReader, ALiveStreamGivesItsNewestRecordWithoutWaiting) {
    const std::vector<uint8_t> bytes = stream_bytes(6, 0, true);
    auto record = [&](size_t row) { return bytes.data() + kStreamHeaderSize + row * kStreamRecordSize; };
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    auto send = [&](const uint8_t *from, size_t size) { ASSERT_EQ(write(ends[1], from, size), ssize_t(size)); };
    send(bytes.data(), kStreamHeaderSize);
    std::FILE *read_end = fdopen(ends[0], "rb");
    SpectrumStreamReader reader;
    ASSERT_TRUE(spectrum_stream_open_file(read_end, &reader)) << reader.reason;
    EXPECT_TRUE(reader.stream.live);
    uint32_t arrived = 99;
    EXPECT_EQ(spectrum_stream_newest(&reader, &arrived), nullptr);  // none yet, and no wait for one
    EXPECT_EQ(arrived, 0u);
    send(record(0), kStreamRecordSize);
    EXPECT_EQ(row_of(spectrum_stream_newest(&reader, &arrived)), 0);
    EXPECT_EQ(arrived, 1u);
    EXPECT_EQ(row_of(spectrum_stream_newest(&reader, &arrived)), 0);  // held
    EXPECT_EQ(arrived, 0u);
    send(record(1), 3 * kStreamRecordSize + 100);  // rows 1 to 3 and the start of 4
    EXPECT_EQ(row_of(spectrum_stream_newest(&reader, &arrived)), 3);
    EXPECT_EQ(arrived, 3u);
    send(record(4) + 100, kStreamRecordSize - 100);
    const uint8_t *newest = spectrum_stream_newest(&reader, &arrived);
    ASSERT_NE(newest, nullptr);
    EXPECT_EQ(std::memcmp(newest, record(4), kStreamRecordSize), 0);  // whole, across the two writes
    EXPECT_EQ(reader.end, StreamEnd::none);
    send(record(5), 10);  // a part that never completes
    close(ends[1]);
    EXPECT_EQ(row_of(spectrum_stream_newest(&reader, &arrived)), 4);
    EXPECT_EQ(reader.end, StreamEnd::closed);
    EXPECT_STREQ(reader.reason, "the feeder closed the stream after 5 records");
    std::fclose(read_end);
}

}  // namespace
