#include "audio/spectrum_stream.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "audio/stream_feed_thread.h"
#else
#include <poll.h>
#include <sys/ioctl.h>
#endif

namespace {

uint32_t read_u32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void write_u32(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// What a file or descriptor is, in 64 bits on both systems (streams pass 2 GB at 60 fps).
enum class FileKind { regular, pipe, other };

#ifdef _WIN32
using FileStatus = struct _stat64;
bool status_of_path(const char *path, FileStatus *status) { return _stat64(path, status) == 0; }
bool status_of_file(FILE *file, FileStatus *status) { return _fstat64(_fileno(file), status) == 0; }
bool seek_to(FILE *file, uint64_t offset) { return _fseeki64(file, int64_t(offset), SEEK_SET) == 0; }
#else
using FileStatus = struct stat;
bool status_of_path(const char *path, FileStatus *status) { return stat(path, status) == 0; }
bool status_of_file(FILE *file, FileStatus *status) { return fstat(fileno(file), status) == 0; }
bool seek_to(FILE *file, uint64_t offset) { return fseeko(file, off_t(offset), SEEK_SET) == 0; }
#endif

// What a pipe holds now, without waiting: some bytes, nothing yet, or nothing ever again.
enum class Waiting { bytes, none, closed, failed };

#ifdef _WIN32
Waiting bytes_waiting(FILE *file, size_t *count) {
    DWORD available = 0;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (!PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr))
        return GetLastError() == ERROR_BROKEN_PIPE ? Waiting::closed : Waiting::failed;
    *count = available;
    return available ? Waiting::bytes : Waiting::none;
}
#else
Waiting bytes_waiting(FILE *file, size_t *count) {
    const int fd = fileno(file);
    int available = 0;
    if (ioctl(fd, FIONREAD, &available) != 0) return Waiting::failed;
    if (available > 0) {
        *count = size_t(available);
        return Waiting::bytes;
    }
    // Readable with nothing to read is the writer gone; asked again for bytes that came meanwhile.
    pollfd ready = {fd, POLLIN, 0};
    if (poll(&ready, 1, 0) <= 0 || !(ready.revents & (POLLIN | POLLHUP | POLLERR))) return Waiting::none;
    if (ioctl(fd, FIONREAD, &available) != 0) return Waiting::failed;
    *count = size_t(available);
    return available > 0 ? Waiting::bytes : Waiting::closed;
}
#endif

FileKind kind_of(const FileStatus &status) {
    if (S_ISREG(status.st_mode)) return FileKind::regular;
    if (S_ISFIFO(status.st_mode)) return FileKind::pipe;
    return FileKind::other;
}

bool refuse(SpectrumStreamReader *reader, const char *reason) {
    std::snprintf(reader->reason, sizeof reader->reason, "%s", reason);
    return false;
}

const uint8_t *slot(SpectrumStreamReader *reader, uint32_t row) {
    return reader->window[row % kStreamReaderWindow];
}

// The record just filled becomes the newest in the window.
void keep_record(SpectrumStreamReader *reader) {
    ++reader->rows_read;
    if (reader->rows_read - reader->first_kept > kStreamReaderWindow)
        reader->first_kept = reader->rows_read - kStreamReaderWindow;
}

// Takes the next record from the file into the window; false at the stream's end.
bool read_next(SpectrumStreamReader *reader) {
    uint8_t *into = reader->window[reader->rows_read % kStreamReaderWindow];
    const size_t got = std::fread(into, 1, kStreamRecordSize, reader->file);
    if (got == kStreamRecordSize) {
        keep_record(reader);
        if (reader->rows_read != reader->stream.frame_count) return true;
        reader->end = StreamEnd::complete;
        // A pipe that holds more than its header claims is not that stream (think cat /dev/zero
        // behind a header); what its writer sends later goes unseen, as nothing waits for it.
        size_t extra = 0;
        if (reader->pipe && bytes_waiting(reader->file, &extra) == Waiting::bytes) {
            reader->end = StreamEnd::failed;
            std::snprintf(reader->reason, sizeof reader->reason, "the stream holds more than its header's %u records",
                          reader->stream.frame_count);
        }
        return true;
    }
    // The record we were filling is lost; the newest one kept stays what the window says.
    if (reader->rows_read > reader->first_kept && reader->rows_read - reader->first_kept == kStreamReaderWindow)
        ++reader->first_kept;
    if (reader->pipe && !std::ferror(reader->file)) {
        reader->end = StreamEnd::early;
        std::snprintf(reader->reason, sizeof reader->reason, "the stream ended after %u of its %u records%s",
                      reader->rows_read, reader->stream.frame_count, got ? " and part of the next" : "");
    } else {
        reader->end = StreamEnd::failed;
        std::snprintf(reader->reason, sizeof reader->reason, "%s after %u records",
                      std::ferror(reader->file) ? "cannot read the stream" : "the file shrank while being read",
                      reader->rows_read);
    }
    return false;
}

}  // namespace

bool spectrum_stream_parse_header(const uint8_t header[kStreamHeaderSize], SpectrumStream *stream, const char **error) {
    if (std::memcmp(header, "HSPS", 4) != 0) {
        *error = "not a spectrum stream";
        return false;
    }
    if (read_u32(header + 4) != 2) {
        *error = "unknown version";
        return false;
    }
    const uint32_t flags = read_u32(header + 36);
    if (flags & ~kStreamFlagLive) {
        *error = "unknown flags";
        return false;
    }
    SpectrumStream out;
    out.channel_count = read_u32(header + 8);
    out.rate_numerator = read_u32(header + 16);
    out.rate_denominator = read_u32(header + 20);
    out.frame_count = read_u32(header + 24);
    out.start_ms = read_u32(header + 28);
    out.length_ms = read_u32(header + 32);
    out.live = (flags & kStreamFlagLive) != 0;
    if (out.live && (out.frame_count != 0 || out.length_ms != 0)) {
        *error = "a live stream with a frame count or a length";
        return false;
    }
    if (out.channel_count < 1 || out.channel_count > 2 || read_u32(header + 12) != kStreamBins) {
        *error = "bad channel or bin count";
        return false;
    }
    if (out.rate_numerator == 0 || out.rate_denominator == 0) {
        *error = "bad rate";
        return false;
    }
    *stream = out;
    return true;
}

bool spectrum_stream_parse(const uint8_t *data, size_t size, SpectrumStream *stream, const char **error) {
    if (size < kStreamHeaderSize) {
        *error = "not a spectrum stream";
        return false;
    }
    SpectrumStream out;
    if (!spectrum_stream_parse_header(data, &out, error)) return false;
    // Division, not multiplication, so that a huge count cannot wrap around.
    if ((size - kStreamHeaderSize) % kStreamRecordSize != 0 ||
        (size - kStreamHeaderSize) / kStreamRecordSize != out.frame_count) {
        *error = "size does not match the frame count";
        return false;
    }
    out.records = data + kStreamHeaderSize;
    *stream = out;
    return true;
}

void spectrum_stream_header(const SpectrumStream &stream, uint8_t out[kStreamHeaderSize]) {
    std::memset(out, 0, kStreamHeaderSize);
    std::memcpy(out, "HSPS", 4);
    write_u32(out + 4, 2);
    write_u32(out + 8, stream.channel_count);
    write_u32(out + 12, kStreamBins);
    write_u32(out + 16, stream.rate_numerator);
    write_u32(out + 20, stream.rate_denominator);
    write_u32(out + 24, stream.frame_count);
    write_u32(out + 28, stream.start_ms);
    write_u32(out + 32, stream.length_ms);
    write_u32(out + 36, stream.live ? kStreamFlagLive : 0);
}

bool spectrum_stream_open(const char *path, SpectrumStreamReader *reader) {
    *reader = SpectrumStreamReader();
    if (std::strcmp(path, "-") == 0) {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        return spectrum_stream_open_file(stdin, reader);
    }
    // Looked at before opening: opening a FIFO would wait for a writer.
    FileStatus status;
    if (!status_of_path(path, &status)) return refuse(reader, "cannot open");
    if (kind_of(status) != FileKind::regular) return refuse(reader, "not a regular file");
    FILE *file = std::fopen(path, "rb");
    if (file == nullptr) return refuse(reader, "cannot open");
    if (!spectrum_stream_open_file(file, reader)) {
        std::fclose(file);
        return false;
    }
    reader->owns_file = true;
    return true;
}

bool spectrum_stream_open_file(FILE *file, SpectrumStreamReader *reader) {
    *reader = SpectrumStreamReader();
    FileStatus status;
    if (!status_of_file(file, &status)) return refuse(reader, "cannot open");
    const FileKind kind = kind_of(status);
    if (kind == FileKind::other) return refuse(reader, "not a regular file or a pipe");
    if (kind == FileKind::regular && uint64_t(status.st_size) < kStreamHeaderSize)
        return refuse(reader, "not a spectrum stream");
    // Nothing is read yet: stdio buffers nothing of a pipe, so what the system holds is what came.
    if (kind == FileKind::pipe) std::setvbuf(file, nullptr, _IONBF, 0);
    uint8_t header[kStreamHeaderSize];
    if (std::fread(header, 1, sizeof header, file) != sizeof header)
        return refuse(reader, kind == FileKind::pipe ? "the stream ended before its header" : "cannot read");
    const char *error = nullptr;
    if (!spectrum_stream_parse_header(header, &reader->stream, &error)) return refuse(reader, error);
    if (reader->stream.live && kind != FileKind::pipe) return refuse(reader, "a live stream comes through a pipe, not a file");
    const uint64_t claimed = kStreamHeaderSize + uint64_t(reader->stream.frame_count) * kStreamRecordSize;
    if (kind == FileKind::regular && uint64_t(status.st_size) != claimed) {
        std::snprintf(reader->reason, sizeof reader->reason,
                      "size does not match the frame count: the file holds %llu bytes, its %u frames take %llu",
                      static_cast<unsigned long long>(status.st_size), reader->stream.frame_count,
                      static_cast<unsigned long long>(claimed));
        return false;
    }
    reader->file = file;
    reader->pipe = kind == FileKind::pipe;
    if (reader->stream.frame_count == 0 && !reader->stream.live) reader->end = StreamEnd::complete;
    return true;
}

const uint8_t *spectrum_stream_record(SpectrumStreamReader *reader, uint32_t row) {
    if (reader->stream.live) {  // its rows are not numbered ahead: the newest is the one of now
        uint32_t arrived = 0;
        return spectrum_stream_newest(reader, &arrived);
    }
    if (row < reader->rows_read) {
        if (row >= reader->first_kept) return slot(reader, row);
        std::snprintf(reader->reason, sizeof reader->reason, "row %u lies behind the reader (at row %u)", row,
                      reader->rows_read);
        return nullptr;
    }
    if (reader->end == StreamEnd::none && row >= reader->stream.frame_count) row = reader->stream.frame_count - 1;
    if (reader->end == StreamEnd::none && !reader->pipe && row >= reader->rows_read + kStreamReaderWindow) {
        // A file skips what lies between by seeking; the window starts anew there.
        if (!seek_to(reader->file, kStreamHeaderSize + uint64_t(row) * kStreamRecordSize)) {
            reader->end = StreamEnd::failed;
            std::snprintf(reader->reason, sizeof reader->reason, "cannot seek to row %u", row);
        } else {
            reader->rows_read = reader->first_kept = row;
        }
    }
    while (reader->end == StreamEnd::none && reader->rows_read <= row && read_next(reader)) {
    }
    if (row < reader->rows_read) return slot(reader, row);
    if (reader->rows_read > reader->first_kept) return slot(reader, reader->rows_read - 1);
    if (reader->reason[0] == 0) std::snprintf(reader->reason, sizeof reader->reason, "the stream holds no records");
    return nullptr;
}

#ifdef _WIN32
// Wine answers PeekNamedPipe on the pipes a Linux parent hands it with "not supported": a thread
// of the feed's own waits on the pipe instead, and this takes what it has read.
const uint8_t *spectrum_stream_newest(SpectrumStreamReader *reader, uint32_t *arrived) {
    *arrived = 0;
    if (reader->end == StreamEnd::none) {
        if (!reader->feed) reader->feed = stream_feed_start(reader->file);
        uint32_t count = reader->rows_read;
        const FeedState state = reader->feed ? stream_feed_take(reader->feed, &count, reader->pending) : FeedState::failed;
        if (count != reader->rows_read) {
            std::memcpy(reader->window[(count - 1) % kStreamReaderWindow], reader->pending, kStreamRecordSize);
            *arrived = count - reader->rows_read;
            reader->rows_read = count;
            if (*arrived > 1)
                reader->first_kept = reader->rows_read - 1;  // those between were passed over
            else if (reader->rows_read - reader->first_kept > kStreamReaderWindow)
                reader->first_kept = reader->rows_read - kStreamReaderWindow;
        }
        if (state == FeedState::failed) {
            reader->end = StreamEnd::failed;
            std::snprintf(reader->reason, sizeof reader->reason, "cannot read the stream after %u records",
                          reader->rows_read);
        } else if (state == FeedState::closed) {
            reader->end = StreamEnd::closed;
            std::snprintf(reader->reason, sizeof reader->reason, "the feeder closed the stream after %u records",
                          reader->rows_read);
        }
    }
    return reader->rows_read > reader->first_kept ? slot(reader, reader->rows_read - 1) : nullptr;
}
#else
const uint8_t *spectrum_stream_newest(SpectrumStreamReader *reader, uint32_t *arrived) {
    *arrived = 0;
    while (reader->end == StreamEnd::none) {
        size_t available = 0;
        const Waiting waiting = bytes_waiting(reader->file, &available);
        if (waiting == Waiting::none) break;
        size_t want = 0, got = 0;
        if (waiting == Waiting::bytes) {
            want = std::min(available, kStreamRecordSize - reader->pending_size);
            got = std::fread(reader->pending + reader->pending_size, 1, want, reader->file);
            reader->pending_size += uint32_t(got);
        }
        if (waiting == Waiting::failed || (got < want && std::ferror(reader->file))) {
            reader->end = StreamEnd::failed;
            std::snprintf(reader->reason, sizeof reader->reason, "cannot read the stream after %u records",
                          reader->rows_read);
        } else if (got < want || waiting == Waiting::closed) {
            reader->end = StreamEnd::closed;
            std::snprintf(reader->reason, sizeof reader->reason, "the feeder closed the stream after %u records",
                          reader->rows_read);
        } else if (reader->pending_size == kStreamRecordSize) {
            std::memcpy(reader->window[reader->rows_read % kStreamReaderWindow], reader->pending, kStreamRecordSize);
            reader->pending_size = 0;
            keep_record(reader);
            ++*arrived;
        }
    }
    return reader->rows_read > reader->first_kept ? slot(reader, reader->rows_read - 1) : nullptr;
}
#endif

bool spectrum_stream_rewind(SpectrumStreamReader *reader) {
    if (reader->pipe || reader->file == nullptr || !seek_to(reader->file, kStreamHeaderSize)) return false;
    reader->rows_read = reader->first_kept = 0;
    reader->end = reader->stream.frame_count == 0 ? StreamEnd::complete : StreamEnd::none;
    reader->reason[0] = 0;
    return true;
}

void spectrum_stream_close(SpectrumStreamReader *reader) {
#ifdef _WIN32
    if (reader->feed) stream_feed_stop(reader->feed);
    reader->feed = nullptr;
#endif
    if (reader->owns_file && reader->file) std::fclose(reader->file);
    reader->file = nullptr;
    reader->owns_file = false;
}
