// Every asset is found beside the library: its directory (through the last backslash of its file
// name) followed by a relative path that starts with "vis_halcyonsphere_assets/".
#pragma once

#include <cstddef>

constexpr size_t kMaxPath = 260;

// Writes the full path into out (kMaxPath bytes). False, with out empty, when it would not fit.
bool asset_path(const char *relative_path, char out[kMaxPath]);

// The joining rule on its own: directory of library_file_name, then relative_path.
bool join_asset_path(const char *library_file_name, const char *relative_path, char out[kMaxPath]);
