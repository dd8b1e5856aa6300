// The platform seam: every Win32, GDI and WGL call the plug-in makes, as plain functions over
// opaque handles. platform_win32.cpp forwards each to the real call; the native tests link a fake
// that records the calls and can make any of them fail.
#pragma once

#include <cstddef>
#include <cstdint>

using WindowHandle = void *;
using InstanceHandle = void *;
using DeviceContextHandle = void *;
using GlContextHandle = void *;
using MonitorHandle = void *;

struct PlatformRect {
    int32_t left, top, right, bottom;
};

// Mirrors MONITORINFOEXA.
struct MonitorInfoEx {
    uint32_t size;
    PlatformRect monitor;
    PlatformRect work;
    uint32_t flags;
    char device[32];
};
static_assert(sizeof(MonitorInfoEx) == 72, "MONITORINFOEXA layout");
static_assert(offsetof(MonitorInfoEx, device) == 40, "MONITORINFOEXA layout");

// Mirrors PIXELFORMATDESCRIPTOR.
struct PixelFormatDescriptor {
    uint16_t size, version;
    uint32_t flags;
    uint8_t pixel_type, color_bits, red_bits, red_shift, green_bits, green_shift, blue_bits, blue_shift;
    uint8_t alpha_bits, alpha_shift, accum_bits, accum_red_bits, accum_green_bits, accum_blue_bits,
        accum_alpha_bits, depth_bits, stencil_bits, aux_buffers, layer_type, reserved;
    uint32_t layer_mask, visible_mask, damage_mask;
};
static_assert(sizeof(PixelFormatDescriptor) == 40, "PIXELFORMATDESCRIPTOR layout");
static_assert(offsetof(PixelFormatDescriptor, depth_bits) == 23, "PIXELFORMATDESCRIPTOR layout");

// The fields of DEVMODEA that a fullscreen request sets; the rest are zero.
struct DisplayModeRequest {
    uint32_t fields;
    uint32_t bits_per_pixel;
    uint32_t width;
    uint32_t height;
};

// Win32 values the portable logic passes through the seam.
namespace win32 {
constexpr uint32_t MB_OK = 0x0, MB_YESNO = 0x4;
constexpr int IDOK = 1, IDYES = 6, IDNO = 7;
constexpr int SW_SHOW = 5, SW_MINIMIZE = 6;
constexpr uint32_t WM_SIZE = 0x0005, WM_ACTIVATE = 0x0006, WM_CLOSE = 0x0010, WM_KEYDOWN = 0x0100,
                   WM_KEYUP = 0x0101, WM_SYSCOMMAND = 0x0112;
constexpr uintptr_t SC_SCREENSAVE = 0xF140, SC_MONITORPOWER = 0xF170;
constexpr uintptr_t VK_ESCAPE = 0x1B;
constexpr uint32_t WS_POPUP = 0x80000000u, WS_CAPTION = 0x00C00000u, WS_SYSMENU = 0x00080000u,
                   WS_CLIPSIBLINGS = 0x04000000u, WS_CLIPCHILDREN = 0x02000000u;
constexpr uint32_t WS_EX_APPWINDOW = 0x00040000u, WS_EX_WINDOWEDGE = 0x00000100u;
constexpr uint32_t DM_BITSPERPEL = 0x00040000u, DM_PELSWIDTH = 0x00080000u, DM_PELSHEIGHT = 0x00100000u;
constexpr uint32_t CDS_FULLSCREEN = 0x4;
constexpr int32_t DISP_CHANGE_SUCCESSFUL = 0;
constexpr uint32_t PFD_DRAW_TO_WINDOW = 0x4, PFD_SUPPORT_OPENGL = 0x20, PFD_DOUBLEBUFFER = 0x1;
constexpr uint8_t PFD_TYPE_RGBA = 0, PFD_MAIN_PLANE = 0;
}  // namespace win32

// Library, host and messages.
uint32_t platform_get_module_file_name(InstanceHandle instance, char *buffer, uint32_t size);
intptr_t platform_send_message(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
int platform_message_box(WindowHandle owner, const char *text, const char *caption, uint32_t type);
void platform_post_quit_message(int exit_code);
uint32_t platform_get_tick_count();

// The render window's class and the window itself.
bool platform_register_window_class(InstanceHandle instance, const char *class_name, int icon_resource);
bool platform_unregister_window_class(const char *class_name, InstanceHandle instance);
bool platform_adjust_window_rect_ex(PlatformRect *rect, uint32_t style, bool menu, uint32_t ex_style);
WindowHandle platform_create_window_ex(uint32_t ex_style, const char *class_name, const char *title,
                                       uint32_t style, int32_t x, int32_t y, int32_t width, int32_t height,
                                       WindowHandle owner, InstanceHandle instance);
bool platform_destroy_window(WindowHandle window);
void platform_set_window_user_data(WindowHandle window, void *data);
void platform_show_window(WindowHandle window, int command);
void platform_set_foreground_window(WindowHandle window);
void platform_set_focus(WindowHandle window);
// Reads the window's placement, sets its show command to SW_MINIMIZE and writes it back.
bool platform_minimize_by_placement(WindowHandle window);
intptr_t platform_def_window_proc(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
int platform_show_cursor(bool show);

// Monitors and display modes. A null mode restores the stored one.
using MonitorVisitor = bool (*)(MonitorHandle monitor, void *context);  // false stops the walk
void platform_enum_display_monitors(MonitorVisitor visit, void *context);
bool platform_get_monitor_info(MonitorHandle monitor, MonitorInfoEx *info);
int32_t platform_change_display_settings(const DisplayModeRequest *mode, uint32_t flags);
int32_t platform_change_display_settings_ex(const char *device, const DisplayModeRequest *mode, uint32_t flags);

// Device context, pixel format and GL context.
DeviceContextHandle platform_get_dc(WindowHandle window);
int platform_release_dc(WindowHandle window, DeviceContextHandle dc);
int platform_choose_pixel_format(DeviceContextHandle dc, const PixelFormatDescriptor *request);
bool platform_set_pixel_format(DeviceContextHandle dc, int format, const PixelFormatDescriptor *request);
GlContextHandle platform_wgl_create_context(DeviceContextHandle dc);
bool platform_wgl_make_current(DeviceContextHandle dc, GlContextHandle context);
bool platform_wgl_delete_context(GlContextHandle context);
void *platform_wgl_get_proc_address(const char *name);
bool platform_swap_buffers(DeviceContextHandle dc);

// The options dialog: a modal dialog from the library's resources, its controls addressed by id.
namespace win32 {
constexpr uint32_t WM_INITDIALOG = 0x0110, WM_COMMAND = 0x0111;
constexpr int IDCANCEL = 2;
constexpr uint32_t BST_UNCHECKED = 0, BST_CHECKED = 1;
constexpr uint32_t TBM_GETPOS = 0x0400, TBM_SETPOS = 0x0405, TBM_SETRANGE = 0x0406;
}  // namespace win32
// Runs the dialog until it ends; its messages go to options_dialog_proc. -1 when it could not open.
intptr_t platform_dialog_box(InstanceHandle instance, int resource_id, WindowHandle owner);
bool platform_end_dialog(WindowHandle dialog, intptr_t result);
bool platform_set_dlg_item_text(WindowHandle dialog, int id, const char *text);
// Copies at most size - 1 characters and always terminates the text.
uint32_t platform_get_dlg_item_text(WindowHandle dialog, int id, char *text, int size);
bool platform_check_dlg_button(WindowHandle dialog, int id, uint32_t state);
uint32_t platform_is_dlg_button_checked(WindowHandle dialog, int id);
intptr_t platform_send_dlg_item_message(WindowHandle dialog, int id, uint32_t message, uintptr_t wparam,
                                        intptr_t lparam);
intptr_t options_dialog_proc(WindowHandle dialog, uint32_t message, uintptr_t wparam, intptr_t lparam);

// The render window's messages arrive here, whatever the platform.
intptr_t display_window_proc(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
