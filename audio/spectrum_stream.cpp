#include "audio/spectrum_stream.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
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

// Takes the next record from the file into the window; false at the stream's end.
bool read_next(SpectrumStreamReader *reader) {
    uint8_t *into = reader->window[reader->rows_read % kStreamReaderWindow];
    const size_t got = std::fread(into, 1, kStreamRecordSize, reader->file);
    if (got == kStreamRecordSize) {
        ++reader->rows_read;
        if (reader->rows_read - reader->first_kept > kStreamReaderWindow)
            reader->first_kept = reader->rows_read - kStreamReaderWindow;
        if (reader->rows_read == reader->stream.frame_count) reader->end = StreamEnd::complete;
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
    SpectrumStream out;
    out.channel_count = read_u32(header + 8);
    out.rate_numerator = read_u32(header + 16);
    out.rate_denominator = read_u32(header + 20);
    out.frame_count = read_u32(header + 24);
    out.start_ms = read_u32(header + 28);
    out.length_ms = read_u32(header + 32);
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
    uint8_t header[kStreamHeaderSize];
    if (std::fread(header, 1, sizeof header, file) != sizeof header)
        return refuse(reader, kind == FileKind::pipe ? "the stream ended before its header" : "cannot read");
    const char *error = nullptr;
    if (!spectrum_stream_parse_header(header, &reader->stream, &error)) return refuse(reader, error);
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
    if (reader->stream.frame_count == 0) reader->end = StreamEnd::complete;
    return true;
}

const uint8_t *spectrum_stream_record(SpectrumStreamReader *reader, uint32_t row) {
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

void spectrum_stream_close(SpectrumStreamReader *reader) {
    if (reader->owns_file && reader->file) std::fclose(reader->file);
    reader->file = nullptr;
    reader->owns_file = false;
}
