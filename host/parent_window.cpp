#include "host/parent_window.h"

#include <string>

#include "player/event_log.h"
#include "player/player_answers.h"
#include "player/player_platform.h"
#include "shell/vis_module.h"

static const char kClassName[] = "HalcyonHostParent";
static HWND g_parent = nullptr;
static HWND g_registered = nullptr;
static HWND g_last_registered = nullptr;  // survives the withdrawal, to check the teardown
static std::string g_registered_class;
static HINSTANCE g_registered_instance = nullptr;

void parent_window_note_registration(uintptr_t wparam, JsonLine &line) {
    HWND window = reinterpret_cast<HWND>(wparam);
    bool is_window = window != nullptr && IsWindow(window);
    json_bool(line, "is_window", is_window);
    if (is_window) {
        char class_name[256] = "";
        char title[256] = "";
        GetClassNameA(window, class_name, sizeof class_name);
        GetWindowTextA(window, title, sizeof title);
        json_string(line, "window_class", class_name);
        json_string(line, "window_title", title);
        json_bool(line, "same_thread", GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId());
        RECT client = {}, frame = {};
        GetClientRect(window, &client);
        GetWindowRect(window, &frame);
        json_int(line, "client_width", client.right - client.left);
        json_int(line, "client_height", client.bottom - client.top);
        json_int(line, "x", frame.left);
        json_int(line, "y", frame.top);
        json_int(line, "style", static_cast<long long>(static_cast<uint32_t>(GetWindowLongA(window, GWL_STYLE))));
        json_int(line, "ex_style", static_cast<long long>(static_cast<uint32_t>(GetWindowLongA(window, GWL_EXSTYLE))));
        g_registered_class = class_name;
        g_registered_instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
    }
    g_registered = window;
    if (window != nullptr) g_last_registered = window;
}

static LRESULT CALLBACK parent_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kHostMessage) return player_host_message(wparam, lparam);
    return DefWindowProcA(window, message, wparam, lparam);
}

HWND parent_window_create(HINSTANCE instance) {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = parent_window_proc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    window_class.lpszClassName = kClassName;
    if (RegisterClassA(&window_class) == 0) return nullptr;
    HWND window = CreateWindowExA(0, kClassName, "Halcyon host", WS_OVERLAPPEDWINDOW, 0, 0, 320,
                                  120, nullptr, nullptr, instance, nullptr);
    if (window != nullptr) ShowWindow(window, SW_SHOWNOACTIVATE);
    g_parent = window;
    return window;
}

HWND parent_window() { return g_parent; }

void parent_window_destroy(HWND window) {
    if (window != nullptr) DestroyWindow(window);
    g_parent = nullptr;
    UnregisterClassA(kClassName, GetModuleHandleA(nullptr));
}

HWND parent_window_registered() { return g_registered; }

bool registered_window_alive() { return g_last_registered != nullptr && IsWindow(g_last_registered); }

bool registered_class_alive() {
    WNDCLASSA info;
    return !g_registered_class.empty() &&
           GetClassInfoA(g_registered_instance, g_registered_class.c_str(), &info) != 0;
}
