#include "native/player_answers.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/event_log.h"
#include "shell/platform_linux.h"
#include "shell/vis_module.h"

namespace {

// The questions, by the numbers the player gives them.
constexpr intptr_t kAskVersion = 0, kAskPlaying = 104, kAskTime = 105, kAskListLength = 124, kAskListPosition = 125,
                   kAskEmbedWindow = 505, kAskListFile = 211, kAskListTitle = 212, kAskIniFile = 334,
                   kAskIniFolder = 335, kAskPluginFolder = 336;

// The parent window is this record's address: no window of the seam has it.
char g_parent_window;

intptr_t g_version = 0x5066;
bool g_embed = true;
std::string g_track_path, g_track_title;
std::string g_ini_file, g_ini_folder, g_plugin_folder;
bool g_playing = false;
uint32_t g_position_ms = 0, g_length_seconds = 0;
std::vector<int> g_answers;
size_t g_next_answer = 0;
int g_boxes = 0;
WindowHandle g_registered = nullptr, g_last_registered = nullptr;
std::string g_registered_class;

// There is no player's frame natively: a plug-in that calls the embed function gets none, where a
// null answer would mean a player too old for embedding.
void *no_embedded_frame(void *) { return nullptr; }

std::string folder_of(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string name_of(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool same_text_ignoring_case(const std::string &a, const char *b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && !b[i];
}

// Opens the file for writing without truncating it; true when it can be written.
bool open_ini(const std::string &path, bool *created) {
    int file = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    *created = file >= 0;
    if (file < 0 && errno == EEXIST) file = open(path.c_str(), O_RDWR);
    if (file < 0) return false;
    close(file);
    return true;
}

// Plug-ins ask some questions every frame: each number is logged the first time it comes with each
// wParam (an unknown number only the first time it comes at all), the registrations every time.
bool worth_logging(intptr_t number, uintptr_t wparam, bool known) {
    static std::set<std::pair<intptr_t, uintptr_t>> seen;
    if (number == kHostRegisterWindow) return true;
    if (seen.size() >= 4096) return false;
    return seen.insert({number, known ? wparam : 0}).second;
}

intptr_t text_answer(const std::string &value, const char **text) {
    *text = value.c_str();
    return reinterpret_cast<intptr_t>(value.c_str());
}

bool answer(uintptr_t wparam, intptr_t number, intptr_t *result, const char **text) {
    *result = 0;
    *text = nullptr;
    switch (number) {
    case kAskVersion: *result = g_version; return true;
    case kAskPlaying: *result = g_playing ? 1 : 0; return true;
    case kAskTime:
        if (wparam == 0) *result = g_position_ms;
        else if (wparam == 1) *result = g_length_seconds;
        return true;
    case kAskListLength: *result = 1; return true;
    case kAskListPosition: *result = 0; return true;
    case kAskListFile:
        if (wparam == 0) *result = text_answer(g_track_path, text);
        return true;
    case kAskListTitle:
        if (wparam == 0) *result = text_answer(g_track_title, text);
        return true;
    case kAskEmbedWindow:
        if (g_embed && wparam == 0) *result = reinterpret_cast<intptr_t>(&no_embedded_frame);
        return true;
    case kAskIniFile: *result = text_answer(g_ini_file, text); return true;
    case kAskIniFolder: *result = text_answer(g_ini_folder, text); return true;
    case kAskPluginFolder: *result = text_answer(g_plugin_folder, text); return true;
    }
    return false;
}

void describe_registration(JsonLine &line, WindowHandle window) {
    LinuxWindowInfo info;
    const bool is_window = window && platform_linux_window_info(window, &info);
    json_bool(line, "is_window", is_window);
    if (!is_window) return;
    json_string(line, "window_class", info.class_name.c_str());
    json_string(line, "window_title", info.title.c_str());
    json_bool(line, "same_thread", true);
    json_int(line, "client_width", info.client_width);
    json_int(line, "client_height", info.client_height);
    json_int(line, "x", info.x);
    json_int(line, "y", info.y);
    json_int(line, "style", info.style);
    json_int(line, "ex_style", info.ex_style);
    g_registered_class = info.class_name;
}

const char *button_name(int id) {
    static const char *const kNames[] = {"close", "ok", "cancel", "abort", "retry", "ignore", "yes", "no"};
    return id >= 0 && id <= 7 ? kNames[id] : "close";
}

}  // namespace

WindowHandle player_window() { return &g_parent_window; }

void player_setup(intptr_t version, bool embed, const char *track, const int *answers, int answer_count) {
    g_version = version;
    g_embed = embed;
    g_track_path = track ? track : "";
    g_track_title = name_of(g_track_path);
    const size_t dot = g_track_title.find_last_of('.');
    if (dot != std::string::npos && dot > 0) g_track_title.resize(dot);
    g_answers.assign(answers, answers + answer_count);
}

void player_files_prepare(const char *plugin_folder, const char *run_folder) {
    g_plugin_folder = plugin_folder;
    const bool in_plugins = same_text_ignoring_case(name_of(g_plugin_folder), "Plugins");
    g_ini_folder = in_plugins ? folder_of(g_plugin_folder) : run_folder;
    bool created = false;
    bool writable = open_ini(g_ini_folder + "/winamp.ini", &created);
    bool moved = false;
    if (!writable && in_plugins) {
        // A player's folder we may not write to: an ini in the run's folder still takes settings.
        g_ini_folder = run_folder;
        writable = open_ini(g_ini_folder + "/winamp.ini", &created);
        moved = true;
    }
    g_ini_file = g_ini_folder + "/winamp.ini";
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

intptr_t player_answer_message(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    if (message != kHostMessage) return 0;
    intptr_t result = 0;
    bool known = true;
    const char *text = nullptr;
    JsonLine line = json_begin("host_message");
    json_string(line, "phase", event_log_phase());
    json_int(line, "lparam", lparam);
    json_int(line, "wparam", static_cast<long long>(wparam));
    if (lparam == kHostRegisterWindow) {
        WindowHandle window = reinterpret_cast<WindowHandle>(wparam);
        describe_registration(line, window);
        g_registered = window;
        if (window) g_last_registered = window;
    } else {
        known = answer(wparam, lparam, &result, &text);
    }
    if (!worth_logging(lparam, wparam, known)) return result;
    json_int(line, "answer", result);
    if (text) json_string(line, "text", text);
    json_bool(line, "known", known);
    event_write(line);
    return result;
}

int player_answer_box(WindowHandle owner, const char *text, const char *caption, uint32_t type) {
    // The boxes our plug-in shows: OK, or Yes and No.
    const bool yes_no = (type & 0xF) == win32::MB_YESNO;
    const char *const present[2] = {yes_no ? "yes" : "ok", "no"};
    const int requested = g_next_answer < g_answers.size() ? g_answers[g_next_answer++] : 0;
    int pressed = yes_no ? win32::IDNO : win32::IDOK;  // the safe answer: No, else OK
    if (requested == win32::IDOK && !yes_no) pressed = win32::IDOK;
    if ((requested == win32::IDYES || requested == win32::IDNO) && yes_no) pressed = requested;
    JsonLine line = json_begin("message_box");
    json_string(line, "phase", event_log_phase());
    json_int(line, "index", g_boxes++);
    json_string(line, "caption", caption);
    json_string(line, "text", text);
    json_string_array(line, "buttons", present, yes_no ? 2 : 1);
    json_string(line, "requested", requested == 0 ? "default" : button_name(requested));
    json_string(line, "pressed", button_name(pressed));
    json_bool(line, "owner_is_parent", owner == player_window());
    json_bool(line, "host_thread", true);
    event_write(line);
    return pressed;
}

int player_boxes_shown() { return g_boxes; }

WindowHandle player_registered_window() { return g_registered; }

bool player_last_registered_alive() {
    LinuxWindowInfo info;
    return g_last_registered && platform_linux_window_info(g_last_registered, &info);
}

bool player_last_class_registered() {
    return !g_registered_class.empty() && platform_linux_class_registered(g_registered_class.c_str());
}
