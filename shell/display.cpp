#include "shell/display.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "image/texture_manager.h"
#include "model/model_table.h"
#include "shell/gl_api.h"
#include "shell/platform.h"
#include "shell/plugin_name.h"
#include "shell/plugin_state.h"

namespace {

constexpr uint32_t kWindowedStyle = win32::WS_CAPTION | win32::WS_SYSMENU;
constexpr uint32_t kWindowedExStyle = win32::WS_EX_APPWINDOW | win32::WS_EX_WINDOWEDGE;
constexpr uint32_t kFullscreenStyle = win32::WS_POPUP;
constexpr uint32_t kFullscreenExStyle = win32::WS_EX_APPWINDOW;
constexpr uint32_t kClipStyles = win32::WS_CLIPSIBLINGS | win32::WS_CLIPCHILDREN;

const PixelFormatDescriptor kPixelFormatRequest = {
    sizeof(PixelFormatDescriptor), 1,
    win32::PFD_DRAW_TO_WINDOW | win32::PFD_SUPPORT_OPENGL | win32::PFD_DOUBLEBUFFER,
    win32::PFD_TYPE_RGBA, 32, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 16, 0, 0, win32::PFD_MAIN_PLANE, 0,
    0, 0, 0,
};

void show_error_code(const char *code) {
    platform_message_box(plugin_state.module->parent_window, code, kPluginName, win32::MB_OK);
}

using DeviceName = char[sizeof(MonitorInfoEx::device) + 1];

// The device name fills up to 32 bytes and need not end in a NUL.
void monitor_device_name(DeviceName &out) {
    std::memcpy(out, plugin_state.monitor_info.device, sizeof plugin_state.monitor_info.device);
    out[sizeof plugin_state.monitor_info.device] = '\0';
}

bool ask_for_monitor(MonitorHandle monitor, void *) {
    plugin_state.monitor_info = MonitorInfoEx{};
    plugin_state.monitor_info.size = sizeof(MonitorInfoEx);
    if (!platform_get_monitor_info(monitor, &plugin_state.monitor_info)) return true;
    DeviceName device;
    monitor_device_name(device);
    char question[1024];
    std::snprintf(question, sizeof question, "Use device '%s' for fullscreen display?", device);
    if (platform_message_box(nullptr, question, "Crappy multimon support", win32::MB_YESNO) == win32::IDYES) {
        plugin_state.monitor_chosen = 1;
        return false;
    }
    return true;
}

// Tries the fullscreen mode; false means stay windowed.
bool enter_fullscreen_mode() {
    DisplayModeRequest mode{};
    mode.fields = win32::DM_BITSPERPEL | win32::DM_PELSWIDTH | win32::DM_PELSHEIGHT;
    mode.bits_per_pixel = 32;
    mode.width = uint32_t(plugin_state.viewport_width);
    mode.height = uint32_t(plugin_state.viewport_height);

    plugin_state.monitor_chosen = 0;
    platform_enum_display_monitors(ask_for_monitor, nullptr);

    int32_t result;
    if (plugin_state.monitor_chosen) {
        DeviceName device;
        monitor_device_name(device);
        result = platform_change_display_settings_ex(device, &mode, win32::CDS_FULLSCREEN);
    } else {
        result = platform_change_display_settings(&mode, win32::CDS_FULLSCREEN);
    }
    return result == win32::DISP_CHANGE_SUCCESSFUL;
}

// Models point into the cached file images, so they go first, then the cache itself. The list
// keeps its handles: they stay valid and load their model again when next resolved.
void release_scene_models() {
    for (int i = 0; i < plugin_state.model_count; ++i)
        if (plugin_state.model_list[i]) release_model(plugin_state.model_list[i]->slot);
    release_all_models();
    // The next start loads its spheres afresh, so the list stays bounded over any number of starts.
    plugin_state.model_count = 0;
}

// The window's steps after the class: any failure shows its code and tears everything down.
bool fail_display(const char *code) {
    show_error_code(code);
    destroy_display();
    return false;
}

}  // namespace

bool open_display() {
    plugin_state.fullscreen_active = plugin_state.settings.fullscreen;
    plugin_state.class_instance = plugin_state.module->library_instance;
    PlatformRect wanted = {0, 0, plugin_state.viewport_width, plugin_state.viewport_height};

    if (!platform_register_window_class(plugin_state.class_instance, kWindowClassName, kIconResource)) {
        // No mode was changed, so no later teardown may restore one.
        plugin_state.fullscreen_active = 0;
        show_error_code("ERRORCODE1");
        platform_post_quit_message(0);
        return false;
    }

    uint32_t style = kWindowedStyle, ex_style = kWindowedExStyle;
    if (plugin_state.fullscreen_active) {
        if (enter_fullscreen_mode()) {
            style = kFullscreenStyle;
            ex_style = kFullscreenExStyle;
            // On a monitor the user picked, the rest of the desktop stays usable.
            if (!plugin_state.monitor_chosen) platform_show_cursor(false);
        } else {
            plugin_state.fullscreen_active = 0;
        }
    }

    platform_adjust_window_rect_ex(&wanted, style, false, ex_style);
    int32_t x = 0, y = 0;
    int32_t width = wanted.right - wanted.left, height = wanted.bottom - wanted.top;
    if (plugin_state.fullscreen_active && plugin_state.monitor_chosen) {
        x = plugin_state.monitor_info.monitor.left;
        y = plugin_state.monitor_info.monitor.top;
        width = plugin_state.viewport_width;
        height = plugin_state.viewport_height;
    }

    plugin_state.window = platform_create_window_ex(ex_style, kWindowClassName, kPluginName, style | kClipStyles, x, y,
                                                    width, height, plugin_state.module->parent_window,
                                                    plugin_state.class_instance);
    if (!plugin_state.window) return fail_display("ERRORCODE2");
    plugin_state.device_context = platform_get_dc(plugin_state.window);
    if (!plugin_state.device_context) return fail_display("ERRORCODE3");
    const int format = platform_choose_pixel_format(plugin_state.device_context, &kPixelFormatRequest);
    if (!format) return fail_display("ERRORCODE4");
    if (!platform_set_pixel_format(plugin_state.device_context, format, &kPixelFormatRequest))
        return fail_display("ERRORCODE5");
    plugin_state.gl_context = platform_wgl_create_context(plugin_state.device_context);
    if (!plugin_state.gl_context) return fail_display("ERRORCODE6");
    if (!platform_wgl_make_current(plugin_state.device_context, plugin_state.gl_context))
        return fail_display("ERRORCODE7");
    return true;
}

PerspectiveFrustum perspective_frustum(int width, int height) {
    // 45 degrees vertically, the window's aspect horizontally.
    PerspectiveFrustum f;
    f.near_plane = double(0.1f);
    f.far_plane = 8192.0;
    f.top = f.near_plane * std::tan(3.14159265358979323846 / 8.0);
    f.right = f.top * width / height;
    return f;
}

void set_viewport(int width, int height) {
    if (height <= 0) height = 1;
    if (width <= 0) width = 1;
    glViewport(0, 0, width, height);
    plugin_state.viewport_width = width;
    plugin_state.viewport_height = height;

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const PerspectiveFrustum f = perspective_frustum(width, height);
    glFrustum(-f.right, f.right, -f.top, f.top, f.near_plane, f.far_plane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

bool init_gl_state() {
    glEnable(GL_TEXTURE_2D);
    glClearColor(0, 0, 0, 0);
    glClearDepth(1.0);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_DEPTH_TEST);
    glShadeModel(GL_SMOOTH);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    normalization_cube_map_create();
    return true;
}

void begin_overlay_2d() {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, plugin_state.viewport_width, plugin_state.viewport_height, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
}

void end_overlay_2d() {
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

bool destroy_display() {
    release_scene_models();
    if (plugin_state.fullscreen_active) {
        platform_change_display_settings(nullptr, 0);
        // The cursor was hidden only for the whole display; a chosen monitor kept it.
        if (!plugin_state.monitor_chosen) platform_show_cursor(true);
        plugin_state.fullscreen_active = 0;  // a second teardown must not restore again
    }
    if (plugin_state.gl_context) {
        platform_wgl_make_current(nullptr, nullptr);
        platform_wgl_delete_context(plugin_state.gl_context);
        plugin_state.gl_context = nullptr;
        // Textures went with the context; the next one makes its own.
        texture_manager_forget_context();
    }
    if (plugin_state.device_context) {
        platform_release_dc(plugin_state.window, plugin_state.device_context);
        plugin_state.device_context = nullptr;
    }
    if (plugin_state.window) {
        platform_destroy_window(plugin_state.window);
        plugin_state.window = nullptr;
    }
    return platform_unregister_window_class(kWindowClassName, plugin_state.class_instance);
}

intptr_t display_window_proc(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    switch (message) {
    case win32::WM_SIZE:
        set_viewport(int(lparam & 0xFFFF), int((lparam >> 16) & 0xFFFF));
        return 0;
    case win32::WM_ACTIVATE:
    case win32::WM_KEYUP:
        return 0;
    case win32::WM_CLOSE:
        // The host tears us down through Quit; closing here would pull the context from under it.
        platform_post_quit_message(0);
        return 0;
    case win32::WM_KEYDOWN:
        if (wparam == win32::VK_ESCAPE) platform_post_quit_message(0);
        return 0;
    case win32::WM_SYSCOMMAND:
        // No screen saver and no monitor power-down while the visualization has focus.
        if (wparam == win32::SC_SCREENSAVE || wparam == win32::SC_MONITORPOWER) return 0;
        return platform_def_window_proc(window, message, wparam, lparam);
    default:
        return platform_def_window_proc(window, message, wparam, lparam);
    }
}
