#include "player/player_answers.h"

#include <cctype>
#include <set>
#include <utility>

#include "shell/vis_module.h"

// Set up once on the player's thread before the plug-in starts; the texts stay put from then on,
// since plug-ins keep the pointers they get.
static intptr_t g_version = 0x5066;
static bool g_embed = true;
static PlayerPlatform g_platform = {"/", nullptr, nullptr, nullptr, nullptr};
static std::string g_track_path, g_track_title;
static std::string g_ini_file, g_ini_folder, g_plugin_folder;
// Set when the plug-in first asks for the ini file's path, reset by player_files_prepare.
static bool g_ini_opened = false, g_ini_created = false;
// Changed by the frame loop, read when the plug-in asks (on the player's thread).
static bool g_playing = false;
static uint32_t g_position_ms = 0, g_length_seconds = 0;

std::string path_folder(const std::string &path, const char *separators) {
    const size_t slash = path.find_last_of(separators);
    if (slash == std::string::npos) return ".";
    return path.substr(0, slash == 0 ? 1 : slash);  // the root keeps its separator
}

static std::string name_of(const std::string &path, const char *separators) {
    const size_t slash = path.find_last_of(separators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

static bool same_text_ignoring_case(const std::string &a, const char *b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && !b[i];
}

void player_setup(intptr_t version, bool embed, const char *track, const PlayerPlatform &platform) {
    g_version = version;
    g_embed = embed;
    g_platform = platform;
    g_track_path = track != nullptr ? track : "";
    g_track_title = name_of(g_track_path, g_platform.separators);
    const size_t dot = g_track_title.find_last_of('.');
    if (dot != std::string::npos && dot > 0) g_track_title.resize(dot);
}

void player_files_prepare(const std::string &plugin_folder, const std::string &run_folder) {
    const char *separators = g_platform.separators;
    const std::string name = std::string(separators, 1) + "winamp.ini";
    g_plugin_folder = plugin_folder;
    const bool in_plugins = same_text_ignoring_case(name_of(g_plugin_folder, separators), "Plugins");
    g_ini_folder = in_plugins ? path_folder(g_plugin_folder, separators) : run_folder;
    bool writable = g_platform.ini_writable(g_ini_folder + name);
    bool moved = false;
    if (!writable && in_plugins) {
        // A player's folder we may not write to: an ini in the run's folder still takes settings.
        g_ini_folder = run_folder;
        writable = g_platform.ini_writable(g_ini_folder + name);
        moved = true;
    }
    g_ini_file = g_ini_folder + name;
    g_ini_opened = g_ini_created = false;
    JsonLine line = json_begin("player_files");
    json_string(line, "ini_file", g_ini_file.c_str());
    json_string(line, "ini_folder", g_ini_folder.c_str());
    json_string(line, "plugin_folder", g_plugin_folder.c_str());
    json_bool(line, "beside_plugins", in_plugins && !moved);
    json_bool(line, "writable", writable);
    event_write(line);
}

// Plug-ins that ask for the path use it unchecked, many to open the file for writing: it is there
// from the first answer on.
static void ini_file_make() {
    if (g_ini_opened) return;
    g_ini_opened = true;
    g_platform.open_ini(g_ini_file, &g_ini_created);
}

void player_set_playing(bool playing) { g_playing = playing; }

void player_set_time(uint32_t position_ms, uint32_t length_seconds) {
    g_position_ms = position_ms;
    g_length_seconds = length_seconds;
}

static intptr_t text_answer(const std::string &value, const char **text) {
    *text = value.c_str();
    return reinterpret_cast<intptr_t>(value.c_str());
}

bool player_answer(uintptr_t wparam, intptr_t number, intptr_t *answer, const char **text) {
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
        if (g_embed) *answer = g_platform.embed(wparam);
        return true;
    case kAskIniFile:
        ini_file_make();
        *answer = text_answer(g_ini_file, text);
        return true;
    case kAskIniFolder: *answer = text_answer(g_ini_folder, text); return true;
    case kAskPluginFolder: *answer = text_answer(g_plugin_folder, text); return true;
    }
    return false;
}

// Plug-ins ask some questions every frame: each number is logged the first time it comes with each
// wParam (an unknown number only the first time it comes at all), the registrations every time.
static bool worth_logging(intptr_t number, uintptr_t wparam, bool known) {
    static std::set<std::pair<intptr_t, uintptr_t>> seen;
    if (number == kHostRegisterWindow) return true;
    if (seen.size() >= 4096) return false;  // a plug-in asking with ever new wParams
    return seen.insert({number, known ? wparam : 0}).second;
}

intptr_t player_host_message(uintptr_t wparam, intptr_t lparam) {
    intptr_t result = 0;
    bool known = true;
    const char *text = nullptr;
    JsonLine line = json_begin("host_message");
    json_string(line, "phase", event_log_phase());
    json_int(line, "lparam", static_cast<long long>(lparam));
    json_int(line, "wparam", static_cast<long long>(wparam));
    if (lparam == kHostRegisterWindow) g_platform.registered(wparam, line);
    else known = player_answer(wparam, lparam, &result, &text);
    if (!worth_logging(lparam, wparam, known)) return result;
    json_int(line, "answer", static_cast<long long>(result));
    if (text != nullptr) json_string(line, "text", text);
    if (lparam == kAskIniFile) json_bool(line, "created", g_ini_created);
    json_bool(line, "known", known);
    event_write(line);
    return result;
}
