// The platform seam over the real Win32, GDI and WGL calls: one-line forwards.
// The seam's header comes first: its win32:: constants share their names with <windows.h> macros.
#include "shell/platform.h"

#include <windows.h>

#include <cstring>

namespace {

HWND hwnd(WindowHandle window) { return static_cast<HWND>(window); }
HDC hdc(DeviceContextHandle dc) { return static_cast<HDC>(dc); }

LRESULT CALLBACK render_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return display_window_proc(window, message, wparam, lparam);
}

INT_PTR CALLBACK options_dialog_forward(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    return options_dialog_proc(dialog, message, wparam, lparam);
}

struct MonitorWalk {
    MonitorVisitor visit;
    void *context;
};

BOOL CALLBACK visit_monitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    const MonitorWalk *walk = reinterpret_cast<const MonitorWalk *>(data);
    return walk->visit(monitor, walk->context) ? TRUE : FALSE;
}

DEVMODEA to_devmode(const DisplayModeRequest &mode) {
    DEVMODEA devmode;
    std::memset(&devmode, 0, sizeof devmode);
    devmode.dmSize = sizeof devmode;
    devmode.dmFields = mode.fields;
    devmode.dmBitsPerPel = mode.bits_per_pixel;
    devmode.dmPelsWidth = mode.width;
    devmode.dmPelsHeight = mode.height;
    return devmode;
}

static_assert(sizeof(DEVMODEA) == 156, "the display mode request is a 156-byte DEVMODEA");
static_assert(sizeof(MONITORINFOEXA) == sizeof(MonitorInfoEx), "monitor information mirrors MONITORINFOEXA");
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == sizeof(PixelFormatDescriptor), "pixel format mirrors the GDI record");
static_assert(sizeof(RECT) == sizeof(PlatformRect), "rectangles mirror RECT");

}  // namespace

uint32_t platform_get_module_file_name(InstanceHandle instance, char *buffer, uint32_t size) {
    return GetModuleFileNameA(static_cast<HMODULE>(instance), buffer, size);
}

intptr_t platform_send_message(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    return SendMessageA(hwnd(window), message, wparam, lparam);
}

int platform_message_box(WindowHandle owner, const char *text, const char *caption, uint32_t type) {
    return MessageBoxA(hwnd(owner), text, caption, type);
}

void platform_post_quit_message(int exit_code) { PostQuitMessage(exit_code); }

uint32_t platform_get_tick_count() { return GetTickCount(); }

bool platform_register_window_class(InstanceHandle instance, const char *class_name, int icon_resource) {
    WNDCLASSA window_class;
    std::memset(&window_class, 0, sizeof window_class);
    window_class.lpfnWndProc = render_window_proc;
    window_class.hInstance = static_cast<HINSTANCE>(instance);
    window_class.hIcon = LoadIconA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(icon_resource));
    window_class.lpszClassName = class_name;
    return RegisterClassA(&window_class) != 0;
}

bool platform_unregister_window_class(const char *class_name, InstanceHandle instance) {
    return UnregisterClassA(class_name, static_cast<HINSTANCE>(instance)) != 0;
}

bool platform_adjust_window_rect_ex(PlatformRect *rect, uint32_t style, bool menu, uint32_t ex_style) {
    return AdjustWindowRectEx(reinterpret_cast<RECT *>(rect), style, menu, ex_style) != 0;
}

WindowHandle platform_create_window_ex(uint32_t ex_style, const char *class_name, const char *title, uint32_t style,
                                       int32_t x, int32_t y, int32_t width, int32_t height, WindowHandle owner,
                                       InstanceHandle instance) {
    return CreateWindowExA(ex_style, class_name, title, style, x, y, width, height, hwnd(owner), nullptr,
                           static_cast<HINSTANCE>(instance), nullptr);
}

bool platform_destroy_window(WindowHandle window) { return DestroyWindow(hwnd(window)) != 0; }

void platform_set_window_user_data(WindowHandle window, void *data) {
    SetWindowLongPtrA(hwnd(window), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
}

void platform_show_window(WindowHandle window, int command) { ShowWindow(hwnd(window), command); }

void platform_set_foreground_window(WindowHandle window) { SetForegroundWindow(hwnd(window)); }

void platform_set_focus(WindowHandle window) { SetFocus(hwnd(window)); }

bool platform_minimize_by_placement(WindowHandle window) {
    WINDOWPLACEMENT placement;
    std::memset(&placement, 0, sizeof placement);
    placement.length = sizeof placement;
    if (!GetWindowPlacement(hwnd(window), &placement)) return false;
    placement.showCmd = SW_MINIMIZE;
    return SetWindowPlacement(hwnd(window), &placement) != 0;
}

intptr_t platform_def_window_proc(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    return DefWindowProcA(hwnd(window), message, wparam, lparam);
}

int platform_show_cursor(bool show) { return ShowCursor(show); }

void platform_enum_display_monitors(MonitorVisitor visit, void *context) {
    MonitorWalk walk = {visit, context};
    EnumDisplayMonitors(nullptr, nullptr, visit_monitor, reinterpret_cast<LPARAM>(&walk));
}

bool platform_get_monitor_info(MonitorHandle monitor, MonitorInfoEx *info) {
    return GetMonitorInfoA(static_cast<HMONITOR>(monitor), reinterpret_cast<MONITORINFO *>(info)) != 0;
}

int32_t platform_change_display_settings(const DisplayModeRequest *mode, uint32_t flags) {
    if (!mode) return ChangeDisplaySettingsA(nullptr, flags);
    DEVMODEA devmode = to_devmode(*mode);
    return ChangeDisplaySettingsA(&devmode, flags);
}

int32_t platform_change_display_settings_ex(const char *device, const DisplayModeRequest *mode, uint32_t flags) {
    if (!mode) return ChangeDisplaySettingsExA(device, nullptr, nullptr, flags, nullptr);
    DEVMODEA devmode = to_devmode(*mode);
    return ChangeDisplaySettingsExA(device, &devmode, nullptr, flags, nullptr);
}

DeviceContextHandle platform_get_dc(WindowHandle window) { return GetDC(hwnd(window)); }

int platform_release_dc(WindowHandle window, DeviceContextHandle dc) { return ReleaseDC(hwnd(window), hdc(dc)); }

int platform_choose_pixel_format(DeviceContextHandle dc, const PixelFormatDescriptor *request) {
    return ChoosePixelFormat(hdc(dc), reinterpret_cast<const PIXELFORMATDESCRIPTOR *>(request));
}

bool platform_set_pixel_format(DeviceContextHandle dc, int format, const PixelFormatDescriptor *request) {
    return SetPixelFormat(hdc(dc), format, reinterpret_cast<const PIXELFORMATDESCRIPTOR *>(request)) != 0;
}

GlContextHandle platform_wgl_create_context(DeviceContextHandle dc) { return wglCreateContext(hdc(dc)); }

bool platform_wgl_make_current(DeviceContextHandle dc, GlContextHandle context) {
    return wglMakeCurrent(hdc(dc), static_cast<HGLRC>(context)) != 0;
}

bool platform_wgl_delete_context(GlContextHandle context) { return wglDeleteContext(static_cast<HGLRC>(context)) != 0; }

void *platform_wgl_get_proc_address(const char *name) { return reinterpret_cast<void *>(wglGetProcAddress(name)); }

bool platform_swap_buffers(DeviceContextHandle dc) { return SwapBuffers(hdc(dc)) != 0; }

// The options dialog.

intptr_t platform_dialog_box(InstanceHandle instance, int resource_id, WindowHandle owner) {
    return DialogBoxParamA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(resource_id), hwnd(owner),
                           options_dialog_forward, 0);
}

bool platform_end_dialog(WindowHandle dialog, intptr_t result) { return EndDialog(hwnd(dialog), result) != 0; }

bool platform_set_dlg_item_text(WindowHandle dialog, int id, const char *text) {
    return SetDlgItemTextA(hwnd(dialog), id, text) != 0;
}

uint32_t platform_get_dlg_item_text(WindowHandle dialog, int id, char *text, int size) {
    if (size > 0) text[0] = '\0';  // a failed call leaves an empty text, not stale bytes
    return GetDlgItemTextA(hwnd(dialog), id, text, size);
}

bool platform_check_dlg_button(WindowHandle dialog, int id, uint32_t state) {
    return CheckDlgButton(hwnd(dialog), id, state) != 0;
}

uint32_t platform_is_dlg_button_checked(WindowHandle dialog, int id) { return IsDlgButtonChecked(hwnd(dialog), id); }

intptr_t platform_send_dlg_item_message(WindowHandle dialog, int id, uint32_t message, uintptr_t wparam,
                                        intptr_t lparam) {
    return SendDlgItemMessageA(hwnd(dialog), id, message, wparam, lparam);
}
