#include "host/player_answers.h"

#include <cstring>
#include <string>

#include "host/embed_window.h"
#include "host/event_log.h"

// Set up once on the host's thread before the plug-in starts; the texts stay put from then on,
// since plug-ins keep the pointers they get.
static intptr_t g_version = 0x5066;
static bool g_embed = true;
static std::string g_track_path, g_track_title;
static std::string g_ini_file, g_ini_folder, g_plugin_folder;
// Changed by the frame loop, read when the plug-in asks (on the host's thread).
static bool g_playing = false;
static uint32_t g_position_ms = 0, g_length_seconds = 0;

static std::string folder_of(const std::string &path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

static std::string name_of(const std::string &path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void player_setup(intptr_t version, bool embed, const char *track) {
    g_version = version;
    g_embed = embed;
    g_track_path = track != nullptr ? track : "";
    g_track_title = name_of(g_track_path);
    const size_t dot = g_track_title.find_last_of('.');
    if (dot != std::string::npos && dot > 0) g_track_title.resize(dot);
}

// Opens the file for writing without truncating it; true when it can be written.
static bool open_ini(const std::string &path, bool *created) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    *created = GetLastError() != ERROR_ALREADY_EXISTS;
    CloseHandle(file);
    return true;
}

void player_files_prepare(const char *dll_path) {
    g_plugin_folder = folder_of(dll_path);
    char current[MAX_PATH] = ".";
    GetCurrentDirectoryA(MAX_PATH, current);
    const bool in_plugins = lstrcmpiA(name_of(g_plugin_folder).c_str(), "Plugins") == 0;
    g_ini_folder = in_plugins ? folder_of(g_plugin_folder) : current;
    bool created = false;
    bool writable = open_ini(g_ini_folder + "\\winamp.ini", &created);
    bool moved = false;
    if (!writable && in_plugins) {
        // A player's folder we may not write to: an ini in the run's folder still takes settings.
        g_ini_folder = current;
        writable = open_ini(g_ini_folder + "\\winamp.ini", &created);
        moved = true;
    }
    g_ini_file = g_ini_folder + "\\winamp.ini";
    JsonLine line = json_begin("player_files");
    json_string(line, "ini_file", g_ini_file.c_str());
    json_string(line, "ini_folder", g_ini_folder.c_str());
    json_string(line, "plugin_folder", g_plugin_folder.c_str());
    json_bool(line, "beside_plugins", in_plugins && !moved);
    json_bool(line, "created", created);
    json_bool(line, "writable", writable);
    event_write(line);
}

void player_set_playing(bool playing) { g_playing = playing; }

void player_set_time(uint32_t position_ms, uint32_t length_seconds) {
    g_position_ms = position_ms;
    g_length_seconds = length_seconds;
}

static LRESULT text_answer(const std::string &value, const char **text) {
    *text = value.c_str();
    return reinterpret_cast<LRESULT>(value.c_str());
}

bool player_answer(WPARAM wparam, LPARAM number, LRESULT *answer, const char **text) {
    *answer = 0;
    *text = nullptr;
    switch (number) {
    case kAskVersion: *answer = g_version; return true;
    case kAskPlaying: *answer = g_playing ? 1 : 0; return true;
    case kAskTime:
        if (wparam == 0) *answer = g_position_ms;
        else if (wparam == 1) *answer = g_length_seconds;
        return true;
    case kAskListLength: *answer = 1; return true;
    case kAskListPosition: *answer = 0; return true;
    case kAskListFile:
        if (wparam == 0) *answer = text_answer(g_track_path, text);  // the list's one entry
        return true;
    case kAskListTitle:
        if (wparam == 0) *answer = text_answer(g_track_title, text);
        return true;
    case kAskEmbedWindow:
        if (!g_embed) return true;
        if (wparam == 0) *answer = reinterpret_cast<LRESULT>(embed_window_function());
        else *answer = reinterpret_cast<LRESULT>(embed_window_create(reinterpret_cast<EmbedWindowState *>(wparam)));
        return true;
    case kAskIniFile: *answer = text_answer(g_ini_file, text); return true;
    case kAskIniFolder: *answer = text_answer(g_ini_folder, text); return true;
    case kAskPluginFolder: *answer = text_answer(g_plugin_folder, text); return true;
    }
    return false;
}
