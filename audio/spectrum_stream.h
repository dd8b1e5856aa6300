// The spectrum stream: what a player hands a visualization for every video frame, as the analyser
// writes it and the host reads it: the two 576-byte spectrum rows and the two 576-sample waveform
// rows, plus where the frames lie in the audio.
//
// Layout, little-endian: a 40-byte header, then frame_count records of 4 x 576 bytes: the first
// channel's spectrum row, the second's, then the first channel's waveform row and the second's
// (signed 8-bit samples, -128..127). A mono stream has channel_count 1 and each pair of rows equal.
//   0 magic "HSPS"   4 version (2)   8 channel_count (1 or 2)   12 bins (576)
//   16 rate numerator   20 rate denominator (rows a second = numerator / denominator)
//   24 frame_count   28 start_ms (where frame 0 begins in the audio)   32 length_ms (the whole
//   audio's length)   36 flags: bit 0 live (written before bit 0 existed as 0, so old streams
//   read as they did)
//
// A live stream (frame_count 0, length_ms 0) has records that arrive as they are heard, without
// end, through a pipe: a player takes the newest one each frame, and the stream ends when its
// feeder closes it. A reader that knows no flags sees no records and ends at once.
//
// Built natively and with MinGW for the Windows host: C stdio only (and on Windows a thread that
// waits on a live stream's pipe, stream_feed_thread.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr int kStreamBins = 576;
constexpr size_t kStreamHeaderSize = 40;
constexpr size_t kStreamRowsSize = 2 * kStreamBins;  // one pair of rows: spectrum or waveform
constexpr size_t kStreamRecordSize = 2 * kStreamRowsSize;
constexpr uint32_t kStreamFlagLive = 1;
static_assert(kStreamHeaderSize == 10 * sizeof(uint32_t), "the header is ten little-endian words");
static_assert(kStreamRecordSize == 2304, "a record is four rows of 576 bytes");

struct SpectrumStream {
    uint32_t channel_count = 0;
    uint32_t rate_numerator = 0;
    uint32_t rate_denominator = 1;
    uint32_t frame_count = 0;
    uint32_t start_ms = 0;
    uint32_t length_ms = 0;
    bool live = false;  // records arrive as they are heard; frame_count and length_ms are 0
    const uint8_t *records = nullptr;  // into the caller's buffer
};

// Checks every field of a header. On failure returns false with a short reason in *error.
bool spectrum_stream_parse_header(const uint8_t header[kStreamHeaderSize], SpectrumStream *stream, const char **error);
// The header's checks, and that the size holds exactly frame_count records.
bool spectrum_stream_parse(const uint8_t *data, size_t size, SpectrumStream *stream, const char **error);

// The two spectrum rows of frame i (i < frame_count).
inline const uint8_t *spectrum_stream_rows(const SpectrumStream &stream, uint32_t i) {
    return stream.records + size_t(i) * kStreamRecordSize;
}
// The two waveform rows of frame i (i < frame_count).
inline const uint8_t *spectrum_stream_waveform(const SpectrumStream &stream, uint32_t i) {
    return spectrum_stream_rows(stream, i) + kStreamRowsSize;
}

// The header for the fields of stream (records is not used).
void spectrum_stream_header(const SpectrumStream &stream, uint8_t out[kStreamHeaderSize]);

// ---------------------------------------------------------------------------------------------
// Reading a stream as it comes, one record after the other, in memory of a few records whatever
// its length. From a regular file, whose size must be exactly what its header claims (checked
// before any record is read; rows skipped are sought past), or from a pipe, read as far as the
// rows asked for (rows skipped are read and dropped), whose early end is an end. Anything else (a
// FIFO or device named as a file, /dev/zero on stdin) is refused at once.

constexpr uint32_t kStreamReaderWindow = 4;  // rows kept behind the newest, for callers that ask twice

enum class StreamEnd : uint8_t {
    none,      // more records may come
    complete,  // every record the header claims was read
    early,     // the pipe ended before the header's frame count
    failed,    // a read failed, or the file changed under the reader
    closed,    // a live stream's feeder closed it
};

struct StreamFeedThread;

struct SpectrumStreamReader {
    SpectrumStream stream;  // the header's fields (records unused)
    FILE *file = nullptr;
    bool owns_file = false;  // opened by path: closed by spectrum_stream_close
    bool pipe = false;
    uint32_t rows_read = 0;   // rows 0 .. rows_read - 1 have been taken from the file
    uint32_t first_kept = 0;  // window holds rows first_kept .. rows_read - 1 (the newest few)
    StreamEnd end = StreamEnd::none;
    char reason[160] = "";  // why the reader refused, stopped or returned no record
    uint32_t pending_size = 0;  // live: the bytes of the next record that have arrived so far
    uint8_t pending[kStreamRecordSize];
    StreamFeedThread *feed = nullptr;  // Windows: the thread that reads a live stream's pipe
    uint8_t window[kStreamReaderWindow][kStreamRecordSize];  // row r at window[r % kStreamReaderWindow]
};

// path "-" reads stdin. False with reader->reason set (and nothing to close) when refused.
bool spectrum_stream_open(const char *path, SpectrumStreamReader *reader);
// A stream already open: a regular file at its start, or a pipe. The caller keeps the FILE.
bool spectrum_stream_open_file(FILE *file, SpectrumStreamReader *reader);

// The record (spectrum rows, then waveform rows) of a row, reading forward as far as it. A row
// past what the stream holds gives the last record read, with reader->end telling why; null when
// there is none, or for a row that lies behind the window (reader->reason says which).
const uint8_t *spectrum_stream_record(SpectrumStreamReader *reader, uint32_t row);

// A live stream: takes every whole record that has arrived, without waiting for more, and returns
// the newest record (the one held when none came; null before the first). *arrived: how many came.
// reader->end turns closed when the feeder closed the stream, failed when a read failed.
const uint8_t *spectrum_stream_newest(SpectrumStreamReader *reader, uint32_t *arrived);

// A regular file read again from its first record (for a row behind the window); false for a pipe
// or when the seek fails.
bool spectrum_stream_rewind(SpectrumStreamReader *reader);

void spectrum_stream_close(SpectrumStreamReader *reader);
