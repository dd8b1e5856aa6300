#include "native/player_window.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "player/dialog_answers.h"
#include "player/event_log.h"
#include "player/player_platform.h"
#include "shell/platform_linux.h"
#include "shell/vis_module.h"

namespace {

// The parent window is this record's address: no window of the seam has it.
char g_parent_window;

std::vector<int> g_answers;
size_t g_next_answer = 0;
int g_boxes = 0;
WindowHandle g_registered = nullptr, g_last_registered = nullptr;
std::string g_registered_class;

// There is no player's frame natively: a plug-in that calls the embed function gets none, where a
// null answer would mean a player too old for embedding.
void *no_embedded_frame(void *) { return nullptr; }

intptr_t embed_answer(uintptr_t wparam) {
    return wparam == 0 ? reinterpret_cast<intptr_t>(&no_embedded_frame) : 0;
}

void note_registration(uintptr_t wparam, JsonLine &line) {
    WindowHandle window = reinterpret_cast<WindowHandle>(wparam);
    LinuxWindowInfo info;
    const bool is_window = window && platform_linux_window_info(window, &info);
    json_bool(line, "is_window", is_window);
    if (is_window) {
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
    g_registered = window;
    if (window) g_last_registered = window;
}

bool open_ini(const std::string &path, bool *created) {
    int file = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    *created = file >= 0;
    if (file < 0 && errno == EEXIST) file = open(path.c_str(), O_RDWR);
    if (file < 0) return false;
    close(file);
    return true;
}

bool ini_writable(const std::string &path) {
    if (access(path.c_str(), F_OK) == 0) return access(path.c_str(), W_OK) == 0;
    return errno == ENOENT && access(path_folder(path, "/").c_str(), W_OK | X_OK) == 0;
}

}  // namespace

const PlayerPlatform kLinuxPlayerPlatform = {"/", embed_answer, note_registration, open_ini, ini_writable};

WindowHandle player_window() { return &g_parent_window; }

void player_boxes_setup(const int *answers, int answer_count) { g_answers.assign(answers, answers + answer_count); }

intptr_t player_answer_message(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    if (message != kHostMessage) return 0;
    return player_host_message(wparam, lparam);
}

int player_answer_box(WindowHandle owner, const char *text, const char *caption, uint32_t type) {
    // The boxes our plug-in shows: OK, or Yes and No.
    const bool yes_no = (type & 0xF) == win32::MB_YESNO;
    const char *const present[2] = {yes_no ? "yes" : "ok", "no"};
    int requested = g_next_answer < g_answers.size() ? g_answers[g_next_answer++] : kAnswerDefault;
    // A box's close box answers as its default does: an OK box closes with OK, a Yes/No box has none.
    if (requested == kAnswerCloseBox) requested = kAnswerDefault;
    int pressed = yes_no ? win32::IDNO : win32::IDOK;  // the safe answer: No, else OK
    if (requested == win32::IDOK && !yes_no) pressed = win32::IDOK;
    if ((requested == win32::IDYES || requested == win32::IDNO) && yes_no) pressed = requested;
    JsonLine line = json_begin("message_box");
    json_string(line, "phase", event_log_phase());
    json_int(line, "index", g_boxes++);
    json_string(line, "caption", caption);
    json_string(line, "text", text);
    json_string_array(line, "buttons", present, yes_no ? 2 : 1);
    json_string(line, "requested", requested == kAnswerDefault ? "default" : dialog_answer_name(requested));
    json_string(line, "pressed", dialog_answer_name(pressed));
    json_bool(line, "owner_is_parent", owner == player_window());
    json_bool(line, "host_thread", true);
    event_write(line);
    return pressed;
}

int player_boxes_shown() { return g_boxes; }

WindowHandle player_registered_window() { return g_registered; }

bool registered_window_alive() {
    LinuxWindowInfo info;
    return g_last_registered && platform_linux_window_info(g_last_registered, &info);
}

bool registered_class_alive() {
    return !g_registered_class.empty() && platform_linux_class_registered(g_registered_class.c_str());
}
