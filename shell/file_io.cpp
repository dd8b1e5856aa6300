#include "shell/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#define O_BINARY 0
#endif

int file_open_read(const char *path) { return open(path, O_RDONLY | O_BINARY); }

int file_open_write_keep(const char *path) {
    return open(path, O_WRONLY | O_CREAT | O_BINARY, S_IREAD | S_IWRITE);
}

int64_t file_length(int file) {
    const long current = lseek(file, 0, SEEK_CUR);
    const long end = lseek(file, 0, SEEK_END);
    if (current < 0 || end < 0 || lseek(file, current, SEEK_SET) < 0) return -1;
    return end;
}

bool file_seek(int file, uint32_t offset) { return lseek(file, long(offset), SEEK_SET) >= 0; }

int64_t file_read(int file, void *buffer, uint32_t count) {
    uint32_t total = 0;
    while (total < count) {
        const auto got = read(file, static_cast<char *>(buffer) + total, count - total);
        if (got < 0) return total ? int64_t(total) : -1;
        if (got == 0) break;
        total += uint32_t(got);
    }
    return total;
}

int64_t file_write(int file, const void *buffer, uint32_t count) {
    uint32_t total = 0;
    while (total < count) {
        const auto put = write(file, static_cast<const char *>(buffer) + total, count - total);
        if (put <= 0) return total ? int64_t(total) : -1;
        total += uint32_t(put);
    }
    return total;
}

void file_close(int file) { close(file); }

uint8_t *file_read_whole(const char *path, uint32_t *length) {
    *length = 0;
    const int file = file_open_read(path);
    if (file < 0) return nullptr;
    const int64_t size = file_length(file);
    // One allocation of the whole length; +1 so that an empty file still gets a block.
    uint8_t *data = size >= 0 && size < INT32_MAX ? static_cast<uint8_t *>(std::malloc(size_t(size) + 1)) : nullptr;
    if (data && file_read(file, data, uint32_t(size)) != size) {
        std::free(data);
        data = nullptr;
    }
    file_close(file);
    if (data) *length = uint32_t(size);
    return data;
}
