#include "host/dialog_hook.h"

#include <cstring>

#include "player/event_log.h"

static const int kMessageBoxTextId = 0xFFFF;  // the static text control of a MessageBox
static const int kLastStandardButton = 11;    // IDOK (1) ... IDCONTINUE (11)

static_assert(IDOK == 1 && IDCANCEL == 2 && IDABORT == 3 && IDRETRY == 4 && IDIGNORE == 5 && IDYES == 6 &&
                  IDNO == 7,
              "the answers' button ids");
static const int kSafeOrder[] = {IDNO, IDCANCEL, IDOK, IDIGNORE, IDRETRY, IDABORT, IDYES};

// The hook runs on the host's thread, the watcher on its own; both answer under the lock.
struct HookState {
    CRITICAL_SECTION lock;
    HHOOK hook = nullptr;
    HANDLE watcher = nullptr;
    HANDLE stop_watching = nullptr;
    DWORD host_thread = 0;
    HWND parent = nullptr;
    std::vector<int> answers;
    size_t next_answer = 0;
    std::vector<HWND> answered;  // dialogs clicked but not yet destroyed
    int count = 0;
    void (*on_dialog)(HWND) = nullptr;
    DialogScript script;
    HWND scripted = nullptr;  // the dialog the script waits for
    int scripted_press = 0;
};
static HookState g_hook;

static bool has_class(HWND window, const char *name) {
    char class_name[64] = "";
    GetClassNameA(window, class_name, sizeof class_name);
    return lstrcmpiA(class_name, name) == 0;
}

static bool is_dialog(HWND window) { return has_class(window, "#32770"); }

// A message box as the system makes it: statics and buttons only, one text static (0xFFFF) and
// standard answer buttons. Labels of a plug-in's dialog carry the same id (-1), but such a dialog
// has several of them, other controls, or buttons of its own.
static bool is_message_box(HWND dialog) {
    int texts = 0;
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(c) & 0xFFFF;
        if (has_class(c, "Static")) {
            texts += id == kMessageBoxTextId ? 1 : 0;
        } else if (!has_class(c, "Button") || id < IDOK || id > kLastStandardButton) {
            return false;
        }
    }
    return texts == 1;
}

static bool was_answered(HWND window) {
    for (HWND w : g_hook.answered)
        if (w == window) return true;
    return false;
}

static void forget(HWND window) {
    for (size_t i = 0; i < g_hook.answered.size(); ++i) {
        if (g_hook.answered[i] == window) {
            g_hook.answered.erase(g_hook.answered.begin() + static_cast<long>(i));
            return;
        }
    }
}

// Posted, not sent: the dialog's own loop handles the click once it is fully up.
static void press(HWND dialog, int pressed) {
    if (pressed == kAnswerCloseBox) {
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (pressed != 0) {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(pressed, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, pressed)));
    } else {
        PostMessageA(dialog, WM_CLOSE, 0, 0);
    }
}

static void run_script() {
    EnterCriticalSection(&g_hook.lock);
    HWND dialog = g_hook.scripted;
    g_hook.scripted = nullptr;
    if (dialog != nullptr && IsWindow(dialog)) {
        dialog_actions_apply(dialog, g_hook.script.actions);
        dialog_controls_log(dialog, "answered");
        if (g_hook.script.shot != nullptr) dialog_shot(dialog, g_hook.script.shot);
        press(dialog, g_hook.scripted_press);
    }
    LeaveCriticalSection(&g_hook.lock);
}

static void CALLBACK run_script_on_timer(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    run_script();
}

// A window's text; from a window of another thread with a bounded wait, as that thread may be busy.
static void read_text(HWND window, char *text, int size) {
    text[0] = 0;
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        GetWindowTextA(window, text, size);
        return;
    }
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, size, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 1000, &ignored);
}

// Logs the dialog and presses its button; true when it was left to the script instead.
static bool answer_dialog(HWND dialog) {
    if (g_hook.on_dialog != nullptr) {
        void (*once)(HWND) = g_hook.on_dialog;
        g_hook.on_dialog = nullptr;
        once(dialog);
    }
    const bool message_box = is_message_box(dialog);
    char caption[1024] = "";
    char text[4096] = "";
    read_text(dialog, caption, sizeof caption);
    if (message_box) read_text(GetDlgItem(dialog, kMessageBoxTextId), text, sizeof text);

    const char *present[8];
    int present_count = 0;
    for (const DialogButton &button : kDialogButtons)
        if (GetDlgItem(dialog, button.id) != nullptr) present[present_count++] = button.name;

    int requested = kAnswerDefault;
    if (g_hook.next_answer < g_hook.answers.size()) requested = g_hook.answers[g_hook.next_answer++];
    int pressed = 0;
    if (requested == kAnswerCloseBox) pressed = kAnswerCloseBox;
    if (requested > 0 && GetDlgItem(dialog, requested) != nullptr) pressed = requested;
    for (int id : kSafeOrder) {
        if (pressed != 0) break;
        if (GetDlgItem(dialog, id) != nullptr) pressed = id;
    }

    JsonLine line = json_begin(message_box ? "message_box" : "dialog");
    json_string(line, "phase", event_log_phase());
    json_int(line, "index", g_hook.count);
    json_string(line, "caption", caption);
    json_string(line, "text", text);
    json_string_array(line, "buttons", present, present_count);
    json_string(line, "requested", requested == kAnswerDefault ? "default" : dialog_answer_name(requested));
    json_string(line, "pressed", dialog_answer_name(pressed));
    json_bool(line, "owner_is_parent", GetWindow(dialog, GW_OWNER) == g_hook.parent);
    json_bool(line, "host_thread", GetWindowThreadProcessId(dialog, nullptr) == g_hook.host_thread);
    event_write(line);
    ++g_hook.count;

    g_hook.answered.push_back(dialog);
    if (g_hook.script.active && !message_box) {
        // Acted on once the dialog's own loop runs and it has painted itself.
        g_hook.script.active = false;
        g_hook.scripted = dialog;
        g_hook.scripted_press = pressed;
        dialog_controls_log(dialog, "opened");
        return true;
    }
    press(dialog, pressed);
    return false;
}

static LRESULT CALLBACK cbt_proc(int code, WPARAM wparam, LPARAM lparam) {
    HWND window = reinterpret_cast<HWND>(wparam);
    EnterCriticalSection(&g_hook.lock);
    if (code == HCBT_ACTIVATE && is_dialog(window) && !was_answered(window) && answer_dialog(window))
        SetTimer(nullptr, 0, 100, run_script_on_timer);
    else if (code == HCBT_DESTROYWND)
        forget(window);
    LeaveCriticalSection(&g_hook.lock);
    return CallNextHookEx(g_hook.hook, code, wparam, lparam);
}

// Boxes and dialogs of the plug-in's own threads, which the hook of the host's thread never sees.
static BOOL CALLBACK answer_if_other_thread(HWND window, LPARAM scripted) {
    DWORD process = 0;
    const DWORD thread = GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || thread == g_hook.host_thread || !IsWindowVisible(window) ||
        !is_dialog(window) || was_answered(window))
        return TRUE;
    if (answer_dialog(window)) *reinterpret_cast<bool *>(scripted) = true;
    return TRUE;
}

static DWORD WINAPI watch_other_threads(void *) {
    while (WaitForSingleObject(g_hook.stop_watching, 50) == WAIT_TIMEOUT) {
        bool scripted = false;
        EnterCriticalSection(&g_hook.lock);
        for (size_t i = g_hook.answered.size(); i-- > 0;)  // windows of other threads leave no hook event
            if (!IsWindow(g_hook.answered[i])) g_hook.answered.erase(g_hook.answered.begin() + static_cast<long>(i));
        EnumWindows(answer_if_other_thread, reinterpret_cast<LPARAM>(&scripted));
        LeaveCriticalSection(&g_hook.lock);
        if (scripted) {
            Sleep(100);
            run_script();
        }
    }
    return 0;
}

bool dialog_hook_install(HWND parent, const std::vector<int> &answers, void (*on_dialog)(HWND)) {
    InitializeCriticalSection(&g_hook.lock);
    g_hook.parent = parent;
    g_hook.answers = answers;
    g_hook.next_answer = 0;
    g_hook.on_dialog = on_dialog;
    g_hook.host_thread = GetCurrentThreadId();
    g_hook.hook = SetWindowsHookExA(WH_CBT, cbt_proc, nullptr, GetCurrentThreadId());
    g_hook.stop_watching = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_hook.watcher = CreateThread(nullptr, 0, watch_other_threads, nullptr, 0, nullptr);
    return g_hook.hook != nullptr;
}

void dialog_hook_remove() {
    if (g_hook.hook != nullptr) UnhookWindowsHookEx(g_hook.hook);
    g_hook.hook = nullptr;
    if (g_hook.watcher != nullptr) {
        SetEvent(g_hook.stop_watching);
        // Bounded: a plug-in thread that hangs with a box up must not hold the host's end.
        WaitForSingleObject(g_hook.watcher, 3000);
        CloseHandle(g_hook.watcher);
        CloseHandle(g_hook.stop_watching);
        g_hook.watcher = nullptr;
    }
}

int dialog_hook_count() { return g_hook.count; }

void dialog_hook_set_script(const DialogScript &script) { g_hook.script = script; }
