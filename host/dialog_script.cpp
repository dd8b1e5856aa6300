#include "host/dialog_script.h"

#include <commctrl.h>

#include <cstdlib>
#include <cstring>

#include "host/window_capture.h"
#include "player/event_log.h"
#include "player/png_writer.h"

bool dialog_action_parse(DialogAction::Kind kind, const char *text, DialogAction *action) {
    char *end = nullptr;
    const long id = std::strtol(text, &end, 10);
    if (end == text || id < -1 || id > 0xFFFF) return false;
    *action = DialogAction{kind, int(id), "", 0};
    if (kind == DialogAction::kClick) return *end == '\0';
    if (*end != '=') return false;
    const char *value = end + 1;
    if (kind == DialogAction::kText) {
        action->text = value;
        return true;
    }
    const long position = std::strtol(value, &end, 10);
    action->position = int(position);
    return end != value && *end == '\0';
}

namespace {

bool is_class(HWND window, const char *name) {
    char class_name[64] = "";
    GetClassNameA(window, class_name, sizeof class_name);
    return lstrcmpiA(class_name, name) == 0;
}

bool is_check_button(LONG style) {
    const LONG type = style & BS_TYPEMASK;
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE ||
           type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

std::string control_json(HWND control) {
    char class_name[64] = "";
    char text[256] = "";
    GetClassNameA(control, class_name, sizeof class_name);
    GetWindowTextA(control, text, sizeof text);
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    JsonLine c;
    c.text = "{\"id\":" + std::to_string(GetDlgCtrlID(control));
    json_string(c, "class", class_name);
    json_string(c, "text", text);
    json_int(c, "style", static_cast<uint32_t>(style));
    if (is_class(control, "Button") && is_check_button(style))
        json_int(c, "checked", SendMessageA(control, BM_GETCHECK, 0, 0));
    if (is_class(control, TRACKBAR_CLASSA)) {
        const int range[2] = {int(SendMessageA(control, TBM_GETRANGEMIN, 0, 0)),
                              int(SendMessageA(control, TBM_GETRANGEMAX, 0, 0))};
        json_int_array(c, "range", range, 2);
        json_int(c, "position", SendMessageA(control, TBM_GETPOS, 0, 0));
    }
    return c.text + "}";
}

}  // namespace

void dialog_controls_log(HWND dialog, const char *when) {
    std::string controls = "[";
    // A dialog's children are in template order, which is also the tab order.
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
        controls += (controls.size() > 1 ? "," : "") + control_json(c);
    JsonLine line = json_begin("dialog_controls");
    json_string(line, "phase", event_log_phase());
    json_string(line, "when", when);
    json_raw(line, "controls", (controls + "]").c_str());
    event_write(line);
}

void dialog_actions_apply(HWND dialog, const std::vector<DialogAction> &actions) {
    for (const DialogAction &action : actions) {
        HWND control = GetDlgItem(dialog, action.id);
        JsonLine line = json_begin("dialog_action");
        json_int(line, "id", action.id);
        json_bool(line, "found", control != nullptr);
        if (action.kind == DialogAction::kText) {
            json_string(line, "action", "text");
            json_string(line, "text", action.text.c_str());
            if (control) SetWindowTextA(control, action.text.c_str());
        } else if (action.kind == DialogAction::kClick) {
            json_string(line, "action", "click");
            // A click as the mouse makes it: the button toggles itself and tells the dialog.
            if (control) SendMessageA(control, BM_CLICK, 0, 0);
        } else {
            json_string(line, "action", "slider");
            json_int(line, "position", action.position);
            if (control) SendMessageA(control, TBM_SETPOS, TRUE, action.position);
        }
        event_write(line);
    }
}

// The client area only: under Xvfb no window manager draws the title bar and frame.
bool dialog_shot(HWND dialog, const char *path) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    std::string error;
    const bool written = window_read_back(dialog, PixelOrder::rgba, &pixels, &width, &height) && width <= 4096 &&
                         height <= 4096 && png_write_rgba(path, width, height, pixels.data(), &error);
    JsonLine line = json_begin("dialog_shot");
    json_string(line, "path", path);
    json_bool(line, "written", written);
    json_int(line, "width", width);
    json_int(line, "height", height);
    event_write(line);
    return written;
}
