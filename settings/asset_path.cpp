#include "settings/asset_path.h"

#include <cstring>

#include "shell/platform.h"
#include "shell/plugin_state.h"

bool join_asset_path(const char *library_file_name, const char *relative_path, char out[kMaxPath]) {
    out[0] = '\0';
    // Only the backslash separates: the host hands Windows paths, and a name without one is
    // taken relative to the current directory.
    const char *last_backslash = std::strrchr(library_file_name, '\\');
    const size_t directory_length = last_backslash ? size_t(last_backslash - library_file_name) + 1 : 0;
    const size_t relative_length = std::strlen(relative_path);
    if (directory_length + relative_length + 1 > kMaxPath) return false;
    std::memcpy(out, library_file_name, directory_length);
    std::memcpy(out + directory_length, relative_path, relative_length + 1);
    return true;
}

bool asset_path(const char *relative_path, char out[kMaxPath]) {
    char library_file_name[kMaxPath];
    void *instance = plugin_state.module ? plugin_state.module->library_instance : nullptr;
    const uint32_t length = platform_get_module_file_name(instance, library_file_name, kMaxPath);
    // A name that filled the buffer was cut short; using it would point at the wrong folder.
    if (length >= kMaxPath) {
        out[0] = '\0';
        return false;
    }
    library_file_name[length] = '\0';
    return join_asset_path(library_file_name, relative_path, out);
}
