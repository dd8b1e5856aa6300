// Zero-filled arrays for the mesh's derived data. A count of 0 still gives a block, so that
// "array missing" always means "never made" (or out of memory), never "empty".
#pragma once

#include <cstdint>
#include <cstdlib>

template <typename T>
T *allocate_zeroed(int64_t count) {
    if (count < 0) return nullptr;
    return static_cast<T *>(std::calloc(count > 0 ? static_cast<size_t>(count) : 1, sizeof(T)));
}
