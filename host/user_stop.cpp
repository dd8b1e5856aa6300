#include "host/user_stop.h"

#include <cstring>

#include "player/event_log.h"

enum UserStop : LONG { kNone = 0, kEscape = 1, kClose = 2 };

constexpr int kMostThreads = 8;

struct ThreadHooks {
    DWORD thread = 0;
    HHOOK posted = nullptr;
    HHOOK sent = nullptr;
};

// The hooks run on the threads they watch; the cause is read on the host's.
static volatile LONG g_cause = kNone;
static ThreadHooks g_threads[kMostThreads];
static int g_thread_count = 0;

static bool is_dialog(HWND window) {
    char class_name[16] = "";
    GetClassNameA(window, class_name, sizeof class_name);
    return std::strcmp(class_name, "#32770") == 0;
}

// Only while the plug-in runs: a WM_CLOSE its Quit sends itself is no user's.
static bool plugin_running() {
    const char *phase = event_log_phase();
    return std::strcmp(phase, "init") == 0 || std::strcmp(phase, "render") == 0;
}

static void note(HWND window, UINT message, WPARAM wparam) {
    LONG cause = kNone;
    if (message == WM_KEYDOWN && wparam == VK_ESCAPE) cause = kEscape;
    if (message == WM_CLOSE || (message == WM_SYSCOMMAND && (wparam & 0xFFF0) == SC_CLOSE)) cause = kClose;
    if (cause == kNone || window == nullptr || !plugin_running()) return;
    // Escape in a message box answers the box; it does not stop the run.
    HWND root = GetAncestor(window, GA_ROOT);
    if (is_dialog(window) || (root != nullptr && is_dialog(root))) return;
    // The first wins: a plug-in may answer Escape by closing its own window.
    InterlockedCompareExchange(&g_cause, cause, kNone);
}

static LRESULT CALLBACK posted_proc(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HC_ACTION && wparam == PM_REMOVE) {
        const MSG *m = reinterpret_cast<const MSG *>(lparam);
        note(m->hwnd, m->message, m->wParam);
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

static LRESULT CALLBACK sent_proc(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HC_ACTION) {
        const CWPSTRUCT *m = reinterpret_cast<const CWPSTRUCT *>(lparam);
        note(m->hwnd, m->message, m->wParam);
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

static bool hook_thread(DWORD thread) {
    for (int i = 0; i < g_thread_count; ++i)
        if (g_threads[i].thread == thread) return true;
    if (g_thread_count == kMostThreads) return false;
    // A thread of this process takes a hook of this module's code with no module handle.
    ThreadHooks hooks = {thread, SetWindowsHookExA(WH_GETMESSAGE, posted_proc, nullptr, thread),
                         SetWindowsHookExA(WH_CALLWNDPROC, sent_proc, nullptr, thread)};
    if (hooks.posted == nullptr && hooks.sent == nullptr) return false;
    g_threads[g_thread_count++] = hooks;
    return hooks.posted != nullptr && hooks.sent != nullptr;
}

bool user_stop_install() { return hook_thread(GetCurrentThreadId()); }

void user_stop_watch(HWND window) {
    if (window == nullptr) return;
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    if (thread != 0) hook_thread(thread);
}

void user_stop_remove() {
    for (int i = 0; i < g_thread_count; ++i) {
        if (g_threads[i].posted != nullptr) UnhookWindowsHookEx(g_threads[i].posted);
        if (g_threads[i].sent != nullptr) UnhookWindowsHookEx(g_threads[i].sent);
    }
    g_thread_count = 0;
}

const char *user_stop_take() {
    switch (InterlockedExchange(&g_cause, kNone)) {
    case kEscape: return "escape";
    case kClose: return "close";
    default: return nullptr;
    }
}
