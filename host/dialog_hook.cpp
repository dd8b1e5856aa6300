#include "host/dialog_hook.h"

#include <cstring>

#include "host/event_log.h"

static const int kMessageBoxTextId = 0xFFFF;  // the static text control of a MessageBox

struct ButtonName {
    int id;
    const char *name;
};
static const ButtonName kButtons[] = {
    {IDOK, "ok"},       {IDCANCEL, "cancel"}, {IDABORT, "abort"}, {IDRETRY, "retry"},
    {IDIGNORE, "ignore"}, {IDYES, "yes"},     {IDNO, "no"},
};
static const int kSafeOrder[] = {IDNO, IDCANCEL, IDOK, IDIGNORE, IDRETRY, IDABORT, IDYES};

struct HookState {
    HHOOK hook = nullptr;
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

int dialog_answer_parse(const char *name) {
    if (std::strcmp(name, "default") == 0) return kAnswerDefault;
    if (std::strcmp(name, "close") == 0) return kAnswerCloseBox;
    for (const ButtonName &button : kButtons)
        if (std::strcmp(name, button.name) == 0) return button.id;
    return -1;
}

static const char *button_name(int id) {
    for (const ButtonName &button : kButtons)
        if (button.id == id) return button.name;
    return "close";
}

static bool is_dialog(HWND window) {
    char class_name[64] = "";
    GetClassNameA(window, class_name, sizeof class_name);
    return std::strcmp(class_name, "#32770") == 0;
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

static void CALLBACK run_script(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    HWND dialog = g_hook.scripted;
    g_hook.scripted = nullptr;
    if (dialog == nullptr || !IsWindow(dialog)) return;
    dialog_actions_apply(dialog, g_hook.script.actions);
    dialog_controls_log(dialog, "answered");
    if (g_hook.script.shot != nullptr) dialog_shot(dialog, g_hook.script.shot);
    press(dialog, g_hook.scripted_press);
}

static void answer_dialog(HWND dialog) {
    if (g_hook.on_dialog != nullptr) {
        void (*once)(HWND) = g_hook.on_dialog;
        g_hook.on_dialog = nullptr;
        once(dialog);
    }
    char caption[1024] = "";
    char text[4096] = "";
    GetWindowTextA(dialog, caption, sizeof caption);
    HWND text_control = GetDlgItem(dialog, kMessageBoxTextId);
    if (text_control != nullptr) GetWindowTextA(text_control, text, sizeof text);

    const char *present[8];
    int present_count = 0;
    for (const ButtonName &button : kButtons)
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

    JsonLine line = json_begin(text_control != nullptr ? "message_box" : "dialog");
    json_string(line, "phase", event_log_phase());
    json_int(line, "index", g_hook.count);
    json_string(line, "caption", caption);
    json_string(line, "text", text);
    json_string_array(line, "buttons", present, present_count);
    json_string(line, "requested", requested == kAnswerDefault ? "default" : button_name(requested));
    json_string(line, "pressed", button_name(pressed));
    json_bool(line, "owner_is_parent", GetWindow(dialog, GW_OWNER) == g_hook.parent);
    event_write(line);
    ++g_hook.count;

    g_hook.answered.push_back(dialog);
    if (g_hook.script.active && text_control == nullptr) {
        // Acted on from a timer, once the dialog's own loop runs and it has painted itself.
        g_hook.script.active = false;
        g_hook.scripted = dialog;
        g_hook.scripted_press = pressed;
        dialog_controls_log(dialog, "opened");
        SetTimer(nullptr, 0, 100, run_script);
        return;
    }
    press(dialog, pressed);
}

static LRESULT CALLBACK cbt_proc(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wparam);
        if (is_dialog(window) && !was_answered(window)) answer_dialog(window);
    } else if (code == HCBT_DESTROYWND) {
        forget(reinterpret_cast<HWND>(wparam));
    }
    return CallNextHookEx(g_hook.hook, code, wparam, lparam);
}

bool dialog_hook_install(HWND parent, const std::vector<int> &answers, void (*on_dialog)(HWND)) {
    g_hook.parent = parent;
    g_hook.answers = answers;
    g_hook.next_answer = 0;
    g_hook.on_dialog = on_dialog;
    g_hook.hook = SetWindowsHookExA(WH_CBT, cbt_proc, nullptr, GetCurrentThreadId());
    return g_hook.hook != nullptr;
}

void dialog_hook_remove() {
    if (g_hook.hook != nullptr) UnhookWindowsHookEx(g_hook.hook);
    g_hook.hook = nullptr;
}

int dialog_hook_count() { return g_hook.count; }

void dialog_hook_set_script(const DialogScript &script) { g_hook.script = script; }
