#include "host/player_files.h"

#include <windows.h>

#include "player/player_platform.h"

bool ini_file_open(const std::string &path, bool *created) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    *created = GetLastError() != ERROR_ALREADY_EXISTS;
    CloseHandle(file);
    return true;
}

bool file_exists(const char *path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }
