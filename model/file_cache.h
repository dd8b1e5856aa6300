// Bytes of every model file read from disk, one image per distinct path (ignoring ASCII case),
// kept until release_all_models so that a released model parses again without disk access.
#pragma once

#include <cstdint>

constexpr int kFileCacheSize = 128;

struct FileCacheEntry {
    char *path;     // owned copy
    uint8_t *data;  // owned, exactly the file's bytes
    int32_t size;
    uint8_t used;
};

struct FileCache {
    FileCacheEntry entries[kFileCacheSize];
};

extern FileCache file_cache;

// Index of the entry holding the file's image, reading it on first use; -1 when the file cannot
// be read whole or every entry is taken.
int file_cache_load(const char *path);

// Frees every image and path copy. Models that point into them must be gone first.
void file_cache_release_all();
