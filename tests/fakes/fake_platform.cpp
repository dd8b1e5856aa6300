#include "tests/fakes/fake_platform.h"

#include <cstdio>
#include <cstring>

#include "image/asset_loading.h"
#include "image/texture_manager.h"
#include "model/frame_number.h"
#include "model/model_table.h"
#include "render/frame_clock.h"
#include "render/frame_renderer.h"
#include "render/scene_update.h"
#include "shell/plugin_state.h"

FakePlatform fake;

namespace {

// Handles are small fake addresses, distinct per kind.
WindowHandle const kWindow = reinterpret_cast<WindowHandle>(0x1000);
DeviceContextHandle const kDeviceContext = reinterpret_cast<DeviceContextHandle>(0x2000);
GlContextHandle const kGlContext = reinterpret_cast<GlContextHandle>(0x3000);

bool call(const std::string &name, const std::string &arguments = "") {
    fake.calls.push_back(arguments.empty() ? name : name + "(" + arguments + ")");
    return fake.failing.count(name) == 0;
}

std::string text_of(const char *format, long a, long b = 0, long c = 0, long d = 0) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, a, b, c, d);
    return buffer;
}

MonitorInfoEx monitor_at(int32_t left, int32_t top, int32_t width, int32_t height, const char *device) {
    MonitorInfoEx info{};
    info.size = sizeof info;
    info.monitor = {left, top, left + width, top + height};
    info.work = info.monitor;
    std::strncpy(info.device, device, sizeof info.device);
    return info;
}

}  // namespace

void fake_reset() {
    fake = FakePlatform{};
    fake.monitors.push_back({monitor_at(0, 0, 1280, 1024, "\\\\.\\DISPLAY1"), true});
    plugin_state = PluginState{};
    // The rest of the plug-in's process-wide state, as at library load.
    release_all_models();
    next_texture_name = 1;
    cube_map_texture = -1;
    upload_filter_mode = 1;
    decal_texture_name = normal_texture_name = 0;
    frame_renderer_forget_context();
    model_offsets = ModelOffsets{};
    light_list = nullptr;
    entity_list = nullptr;
    FrameClock = 0;
    FrameNumber = 1;
}

bool fake_called(const std::string &name) { return fake_call_index(name) >= 0; }

int fake_call_count(const std::string &name) {
    int count = 0;
    for (const std::string &c : fake.calls)
        if (c == name || c.rfind(name + "(", 0) == 0) ++count;
    return count;
}

int fake_call_index(const std::string &name) {
    for (size_t i = 0; i < fake.calls.size(); ++i)
        if (fake.calls[i] == name || fake.calls[i].rfind(name + "(", 0) == 0) return int(i);
    return -1;
}

uint32_t platform_get_module_file_name(InstanceHandle, char *buffer, uint32_t size) {
    if (!call("GetModuleFileNameA") || size == 0) return 0;
    // Like the real call: a name that does not fit is cut and the full size returned.
    const uint32_t length = uint32_t(fake.module_file_name.size());
    const uint32_t copied = length < size ? length : size - 1;
    std::memcpy(buffer, fake.module_file_name.data(), copied);
    buffer[copied] = '\0';
    return length < size ? length : size;
}

intptr_t platform_send_message(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    call("SendMessageA", text_of("%ld,%ld", long(wparam), long(lparam)));
    fake.host_messages.push_back({window, message, wparam, lparam});
    return lparam == 505 ? fake.probe_answer : 0;
}

int platform_message_box(WindowHandle owner, const char *text, const char *caption, uint32_t type) {
    call("MessageBoxA", caption);
    fake.boxes.push_back({owner, text, caption, type});
    if (!fake.box_answers.empty()) {
        const int answer = fake.box_answers.front();
        fake.box_answers.erase(fake.box_answers.begin());
        return answer;
    }
    return type == win32::MB_YESNO ? win32::IDNO : win32::IDOK;
}

void platform_post_quit_message(int exit_code) {
    call("PostQuitMessage", text_of("%ld", exit_code));
    ++fake.quit_messages;
}

uint32_t platform_get_tick_count() { return fake.tick_count; }

bool platform_register_window_class(InstanceHandle, const char *class_name, int icon_resource) {
    return call("RegisterClassA", std::string(class_name) + text_of(",%ld", icon_resource));
}

bool platform_unregister_window_class(const char *class_name, InstanceHandle) {
    return call("UnregisterClassA", class_name);
}

bool platform_adjust_window_rect_ex(PlatformRect *rect, uint32_t style, bool, uint32_t) {
    if (!call("AdjustWindowRectEx")) return false;
    // A plausible frame: captioned windows grow by borders and a title bar, popups not at all.
    if (style & win32::WS_CAPTION) {
        rect->left -= 3;
        rect->right += 3;
        rect->top -= 22;
        rect->bottom += 3;
    }
    return true;
}

WindowHandle platform_create_window_ex(uint32_t ex_style, const char *class_name, const char *title, uint32_t style,
                                       int32_t x, int32_t y, int32_t width, int32_t height, WindowHandle owner,
                                       InstanceHandle) {
    if (!call("CreateWindowExA")) return nullptr;
    fake.windows.push_back({ex_style, style, x, y, width, height, owner, class_name, title});
    return kWindow;
}

bool platform_destroy_window(WindowHandle) { return call("DestroyWindow"); }

void platform_set_window_user_data(WindowHandle, void *data) {
    call("SetWindowLongA");
    fake.window_user_data = data;
}

void platform_show_window(WindowHandle, int command) { call("ShowWindow", text_of("%ld", command)); }

void platform_set_foreground_window(WindowHandle) { call("SetForegroundWindow"); }

void platform_set_focus(WindowHandle) { call("SetFocus"); }

bool platform_minimize_by_placement(WindowHandle) {
    if (!call("SetWindowPlacement")) return false;
    fake.window_minimized = true;
    return true;
}

intptr_t platform_def_window_proc(WindowHandle, uint32_t message, uintptr_t wparam, intptr_t) {
    call("DefWindowProcA", text_of("%ld,%ld", long(message), long(wparam)));
    return 77;  // something no handled message returns
}

int platform_show_cursor(bool show) {
    call("ShowCursor", show ? "1" : "0");
    fake.cursor_level += show ? 1 : -1;
    return fake.cursor_level;
}

void platform_enum_display_monitors(MonitorVisitor visit, void *context) {
    call("EnumDisplayMonitors");
    for (size_t i = 0; i < fake.monitors.size(); ++i)
        if (!visit(reinterpret_cast<MonitorHandle>(i + 1), context)) break;
}

bool platform_get_monitor_info(MonitorHandle monitor, MonitorInfoEx *info) {
    const size_t index = reinterpret_cast<size_t>(monitor) - 1;
    if (!call("GetMonitorInfoA") || index >= fake.monitors.size() || !fake.monitors[index].readable ||
        info->size != sizeof(MonitorInfoEx))
        return false;
    *info = fake.monitors[index].info;
    return true;
}

int32_t platform_change_display_settings(const DisplayModeRequest *mode, uint32_t flags) {
    call("ChangeDisplaySettingsA", text_of("%ld", long(flags)));
    if (!mode) {
        fake.display_changes.push_back("restore");
        return 0;
    }
    fake.display_changes.push_back(text_of("whole:%ldx%ldx%ld:%lx", mode->width, mode->height, mode->bits_per_pixel,
                                           long(mode->fields)));
    return fake.display_change_result;
}

int32_t platform_change_display_settings_ex(const char *device, const DisplayModeRequest *mode, uint32_t flags) {
    call("ChangeDisplaySettingsExA", text_of("%ld", long(flags)));
    fake.display_changes.push_back(std::string("device:") + device +
                                   text_of(":%ldx%ldx%ld", mode->width, mode->height, mode->bits_per_pixel));
    return fake.display_change_result;
}

DeviceContextHandle platform_get_dc(WindowHandle) { return call("GetDC") ? kDeviceContext : nullptr; }

int platform_release_dc(WindowHandle, DeviceContextHandle) { return call("ReleaseDC") ? 1 : 0; }

int platform_choose_pixel_format(DeviceContextHandle, const PixelFormatDescriptor *request) {
    const bool ok = call("ChoosePixelFormat", text_of("%lx,%ld,%ld", long(request->flags), request->color_bits,
                                                      request->depth_bits));
    return ok ? 7 : 0;
}

bool platform_set_pixel_format(DeviceContextHandle, int format, const PixelFormatDescriptor *) {
    return call("SetPixelFormat", text_of("%ld", format));
}

GlContextHandle platform_wgl_create_context(DeviceContextHandle) {
    return call("wglCreateContext") ? kGlContext : nullptr;
}

bool platform_wgl_make_current(DeviceContextHandle dc, GlContextHandle) {
    return call("wglMakeCurrent", dc ? "context" : "none");
}

bool platform_wgl_delete_context(GlContextHandle) { return call("wglDeleteContext"); }

bool platform_swap_buffers(DeviceContextHandle) {
    ++fake.swaps;
    return call("SwapBuffers");
}

// The options dialog.

namespace {

WindowHandle const kDialog = reinterpret_cast<WindowHandle>(0x4000);

int32_t clamp_to(const FakeControl &slider, int32_t position) {
    return position < slider.low ? slider.low : position > slider.high ? slider.high : position;
}

}  // namespace

intptr_t platform_dialog_box(InstanceHandle instance, int resource_id, WindowHandle owner) {
    if (!call("DialogBoxParamA", text_of("%ld", resource_id))) return -1;
    fake.dialog_instance = instance;
    fake.dialog_owner = owner;
    fake.controls.clear();
    fake.dialog_ended = false;
    fake.dialog_result = 0;
    options_dialog_proc(kDialog, win32::WM_INITDIALOG, 0, 0);
    if (fake.user) fake.user(kDialog);
    return fake.dialog_result;
}

bool platform_end_dialog(WindowHandle, intptr_t result) {
    call("EndDialog", text_of("%ld", long(result)));
    fake.dialog_ended = true;
    fake.dialog_result = result;
    return true;
}

bool platform_set_dlg_item_text(WindowHandle, int id, const char *text) {
    call("SetDlgItemTextA", text_of("%ld,", id) + text);
    fake.controls[id].text = text;
    return true;
}

uint32_t platform_get_dlg_item_text(WindowHandle, int id, char *text, int size) {
    call("GetDlgItemTextA", text_of("%ld,%ld", id, size));
    if (size <= 0) return 0;
    const std::string &held = fake.controls[id].text;
    const size_t copied = held.size() < size_t(size) ? held.size() : size_t(size) - 1;
    std::memcpy(text, held.data(), copied);
    text[copied] = '\0';
    return uint32_t(copied);
}

bool platform_check_dlg_button(WindowHandle, int id, uint32_t state) {
    call("CheckDlgButton", text_of("%ld,%ld", id, long(state)));
    fake.controls[id].checked = state;
    return true;
}

uint32_t platform_is_dlg_button_checked(WindowHandle, int id) {
    call("IsDlgButtonChecked", text_of("%ld", id));
    return fake.controls[id].checked;
}

intptr_t platform_send_dlg_item_message(WindowHandle, int id, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    call("SendDlgItemMessageA", text_of("%ld,%ld,%ld,%ld", id, long(message), long(wparam), long(lparam)));
    FakeControl &control = fake.controls[id];
    if (message == win32::TBM_SETRANGE) {
        control.low = int16_t(lparam & 0xFFFF);
        control.high = int16_t((lparam >> 16) & 0xFFFF);
        control.position = clamp_to(control, control.position);
    } else if (message == win32::TBM_SETPOS) {
        control.position = clamp_to(control, int32_t(lparam));
    } else if (message == win32::TBM_GETPOS) {
        return control.position;
    }
    return 0;
}

void fake_type(WindowHandle, int id, const std::string &text) { fake.controls[id].text = text; }

void fake_click(WindowHandle dialog, int id) {
    if (id != win32::IDOK && id != win32::IDCANCEL) fake.controls[id].checked ^= 1;
    options_dialog_proc(dialog, win32::WM_COMMAND, uintptr_t(id), 0);  // BN_CLICKED is 0
}

void fake_slide(WindowHandle, int id, int32_t position) {
    FakeControl &slider = fake.controls[id];
    slider.position = clamp_to(slider, position);
}

void fake_close_box(WindowHandle dialog) { options_dialog_proc(dialog, win32::WM_CLOSE, 0, 0); }
