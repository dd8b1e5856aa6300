// Whole-file access through the run-time library's low-level calls, the same on Windows and here.
#pragma once

#include <cstdint>

int file_open_read(const char *path);        // -1 when it cannot be opened
int file_open_write_keep(const char *path);  // creates when missing, never truncates; -1 on failure
int64_t file_length(int file);               // -1 on failure
bool file_seek(int file, uint32_t offset);   // from the start of the file
int64_t file_read(int file, void *buffer, uint32_t count);   // bytes read, -1 on failure
int64_t file_write(int file, const void *buffer, uint32_t count);
void file_close(int file);

// Reads a whole file into a heap block of its length (free with std::free). Null on failure; an
// empty file gives a non-null block and length 0.
uint8_t *file_read_whole(const char *path, uint32_t *length);
