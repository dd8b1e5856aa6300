#include "model/file_cache.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "model/text_compare.h"

FileCache file_cache;

namespace {

// Reads the whole file into a block of exactly its size; false on any failure or short read.
bool read_whole_file(const char *path, uint8_t *&data, int32_t &size) {
    std::FILE *file = std::fopen(path, "rb");
    if (!file) return false;
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    const long length = ok ? std::ftell(file) : -1;
    ok = ok && length >= 0 && length <= INT32_MAX && std::fseek(file, 0, SEEK_SET) == 0;
    uint8_t *block = ok ? static_cast<uint8_t *>(std::malloc(length > 0 ? static_cast<size_t>(length) : 1)) : nullptr;
    ok = block && std::fread(block, 1, static_cast<size_t>(length), file) == static_cast<size_t>(length);
    std::fclose(file);
    if (!ok) {
        std::free(block);
        return false;
    }
    data = block;
    size = static_cast<int32_t>(length);
    return true;
}

}  // namespace

int file_cache_load(const char *path) {
    if (!path) return -1;
    for (int i = 0; i < kFileCacheSize; ++i) {
        const FileCacheEntry &entry = file_cache.entries[i];
        if (entry.used && entry.path && text_equal_ignoring_case(entry.path, path)) return i;
    }
    int free_index = -1;
    for (int i = 0; i < kFileCacheSize && free_index < 0; ++i)
        if (!file_cache.entries[i].used) free_index = i;
    if (free_index < 0) return -1;

    const size_t path_length = std::strlen(path);
    char *path_copy = static_cast<char *>(std::malloc(path_length + 1));
    if (!path_copy) return -1;
    std::memcpy(path_copy, path, path_length + 1);
    uint8_t *data = nullptr;
    int32_t size = 0;
    if (!read_whole_file(path, data, size)) {
        std::free(path_copy);
        return -1;
    }
    FileCacheEntry &entry = file_cache.entries[free_index];
    entry.path = path_copy;
    entry.data = data;
    entry.size = size;
    entry.used = 1;
    return free_index;
}

void file_cache_release_all() {
    for (FileCacheEntry &entry : file_cache.entries) {
        if (!entry.used) continue;
        std::free(entry.data);
        std::free(entry.path);
        entry = FileCacheEntry{};
    }
}
