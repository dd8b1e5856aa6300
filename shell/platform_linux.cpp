// The platform seam on Linux (see platform_linux.h): the Win32 windows and messages the plug-in
// knows, emulated. Windows are records, each with a GL surface of the kind the player chose
// (platform_linux_surface.h); posted messages and the windows' events reach display_window_proc
// from platform_linux_pump, as the Win32 message loop delivers them.
#include "shell/platform_linux.h"

#include <GL/gl.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <vector>

#include "native/frame_readback.h"
#include "shell/platform_linux_sdl.h"
#include "shell/platform_linux_surface.h"

namespace {

struct Window {
    std::string class_name, title;
    uint32_t style = 0, ex_style = 0;
    int32_t x = 0, y = 0;  // the client area's size is the surface's
    GlSurface surface;
};

struct Posted {
    WindowHandle window;
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
};

// The frame each swap showed, read just before it: a window's back buffer is undefined after.
struct KeptFrame {
    bool keep = false, bgra = false;
    bool held = false;
    int width = 0, height = 0;
    std::vector<uint8_t> bottom_up;
};

struct LinuxPlatform {
    LinuxPlatformSetup setup;
    const GlSurfaceCalls *gl = &kPbufferSurfaces;
    bool gl_open = false;  // the surfaces' display, opened by the first device context
    std::map<uintptr_t, Window> windows;
    uintptr_t next_window = 0x1000;
    std::set<std::string> classes;
    std::set<void *> contexts;
    void *current = nullptr;
    uintptr_t current_window = 0;
    std::deque<Posted> posted;
    bool quit_posted = false;
    int quit_code = 0;
    int cursor_level = 0;
    bool parent_minimized = false;
    int fullscreen_display = -1;  // on screen: the display a popup window fills
    const char *display_kind = "";
    KeptFrame kept;
    std::string gl_lost;     // why the context was lost; empty while it is not
    int fail_swaps_at = -1;  // a test's lost context: the swap of that number fails
    int swaps = 0;
};

LinuxPlatform state;
std::string g_surface_error;
bool g_surface_lost = false;

constexpr const char kModuleFileName[] = "vis_halcyonsphere";  // no backslash: assets from the current directory

uintptr_t id_of(WindowHandle window) { return reinterpret_cast<uintptr_t>(window); }
WindowHandle handle_of(uintptr_t id) { return reinterpret_cast<WindowHandle>(id); }

Window *find_window(const void *handle) {
    auto found = state.windows.find(reinterpret_cast<uintptr_t>(handle));
    return found == state.windows.end() ? nullptr : &found->second;
}

intptr_t size_lparam(int32_t width, int32_t height) {
    return intptr_t((uint32_t(height) & 0xFFFF) << 16 | (uint32_t(width) & 0xFFFF));
}

void note(const std::string &text) { std::fprintf(stderr, "halcyonsphere: %s\n", text.c_str()); }

const char *button_name(int answer) {
    switch (answer) {
    case win32::IDOK: return "OK";
    case win32::IDCANCEL: return "Cancel";
    case win32::IDYES: return "Yes";
    case win32::IDNO: return "No";
    default: return "?";
    }
}

bool on_screen() { return state.gl == &kSdlWindowSurfaces; }

void note_if_lost() {
    if (g_surface_lost && state.gl_lost.empty()) state.gl_lost = g_surface_error;
}

bool release_current() {
    const bool ok = !state.gl_open || state.gl->make_current(nullptr, nullptr);
    state.current = nullptr;
    state.current_window = 0;
    return ok;
}

void close_window(Window &window) {
    state.gl->drop(&window.surface);
    sdl_window_close(&window.surface);
}

// The drawing area follows a new size before the plug-in hears of it.
bool resize_window(WindowHandle handle, Window &window, int32_t width, int32_t height) {
    void *current = state.current_window == id_of(handle) ? state.current : nullptr;
    if (!state.gl->resize(&window.surface, width, height, current)) {
        note_if_lost();
        return false;
    }
    state.posted.push_back({handle, win32::WM_SIZE, 0, size_lparam(width, height)});
    return true;
}

void deliver_sdl_message(WindowHandle handle, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    Window *window = find_window(handle);
    if (!window) return;
    if (message == win32::WM_SIZE) resize_window(handle, *window, int32_t(lparam & 0xFFFF), int32_t(lparam >> 16 & 0xFFFF));
    else state.posted.push_back({handle, message, wparam, lparam});
}

int32_t fill_display(int display) {
    if (display < 0) return -1;  // DISP_CHANGE_FAILED: offscreen there is no display to fill
    state.fullscreen_display = display;
    return win32::DISP_CHANGE_SUCCESSFUL;
}

void keep_frame() {
    KeptFrame &kept = state.kept;
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    kept.held = viewport[2] > 0 && viewport[3] > 0;
    if (!kept.held) return;
    kept.width = viewport[2];
    kept.height = viewport[3];
    kept.bottom_up.resize(size_t(kept.width) * 4 * size_t(kept.height));
    // The plug-in's own pack state (alignment, row length, a bound pack buffer) stays as it set it.
    read_pixels_keeping_state(viewport[0], viewport[1], kept.width, kept.height, kept.bgra ? GL_BGRA : GL_RGBA,
                              kept.bottom_up.data());
}

}  // namespace

const char *gl_surface_error() { return g_surface_error.c_str(); }
void gl_surface_set_error(const std::string &text) { g_surface_error = text; }
bool gl_surface_lost() { return g_surface_lost; }
void gl_surface_set_lost(bool lost) { g_surface_lost = lost; }

// The player's side.

bool platform_linux_start(const LinuxPlatformSetup &setup, std::string *error) {
    state = LinuxPlatform{};
    state.setup = setup;
    g_surface_error.clear();
    g_surface_lost = false;
    if (!setup.on_screen) return true;
    if (!sdl_video_start(error)) return false;
    state.gl = &kSdlWindowSurfaces;
    return true;
}

void platform_linux_stop() {
    release_current();
    for (void *context : state.contexts) state.gl->delete_context(context);
    state.contexts.clear();
    for (auto &entry : state.windows) close_window(entry.second);
    state.windows.clear();
    if (state.gl_open) state.gl->close();
    sdl_video_stop();
    state = LinuxPlatform{};
}

bool platform_linux_pump(int *exit_code) {
    if (on_screen()) sdl_windows_poll(deliver_sdl_message);
    while (!state.posted.empty()) {
        const Posted message = state.posted.front();
        state.posted.pop_front();
        if (find_window(message.window))
            display_window_proc(message.window, message.message, message.wparam, message.lparam);
    }
    if (!state.quit_posted) return false;
    state.quit_posted = false;
    *exit_code = state.quit_code;
    return true;
}

bool platform_linux_post(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    if (!find_window(window)) return false;
    state.posted.push_back({window, message, wparam, lparam});
    return true;
}

bool platform_linux_set_window_size(WindowHandle handle, int32_t width, int32_t height) {
    Window *window = find_window(handle);
    if (!window || width <= 0 || height <= 0) return false;
    if (on_screen()) {
        sdl_window_set_size(&window->surface, width, height);  // the size event follows from SDL
        return true;
    }
    return resize_window(handle, *window, width, height);
}

bool platform_linux_window_info(WindowHandle handle, LinuxWindowInfo *info) {
    const Window *window = find_window(handle);
    if (!window) return false;
    *info = {window->class_name, window->title, window->style, window->ex_style,
             window->x, window->y, window->surface.width, window->surface.height};
    return true;
}

bool platform_linux_class_registered(const char *class_name) { return state.classes.count(class_name) != 0; }
int platform_linux_window_count() { return int(state.windows.size()); }
bool platform_linux_parent_minimized() { return state.parent_minimized; }
const char *platform_linux_display_kind() { return state.display_kind; }
bool platform_linux_gl_current() { return state.current != nullptr; }

void platform_linux_keep_frames(bool keep, bool bgra) {
    state.kept.keep = keep;
    state.kept.bgra = bgra;
    state.kept.held = false;
}

bool platform_linux_kept_frame(const std::vector<uint8_t> **bottom_up, int *width, int *height, bool *bgra) {
    if (!state.kept.held) return false;
    *bottom_up = &state.kept.bottom_up;
    *width = state.kept.width;
    *height = state.kept.height;
    *bgra = state.kept.bgra;
    return true;
}

const char *platform_linux_user_stop() { return sdl_user_stop(); }

const char *platform_linux_gl_lost() { return state.gl_lost.empty() ? nullptr : state.gl_lost.c_str(); }

void platform_linux_fail_swap(int swap_number) { state.fail_swaps_at = swap_number; }

// The seam.

uint32_t platform_get_module_file_name(InstanceHandle, char *buffer, uint32_t size) {
    if (size == 0) return 0;
    const uint32_t length = sizeof kModuleFileName - 1;
    const uint32_t copied = length < size ? length : size - 1;
    std::memcpy(buffer, kModuleFileName, copied);
    buffer[copied] = '\0';
    return length < size ? length : size;
}

intptr_t platform_send_message(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    if (window && window == state.setup.parent)
        return state.setup.answer_parent ? state.setup.answer_parent(message, wparam, lparam) : 0;
    if (find_window(window)) return display_window_proc(window, message, wparam, lparam);
    return 0;
}

int platform_message_box(WindowHandle owner, const char *text, const char *caption, uint32_t type) {
    const bool yes_no = (type & 0xF) == win32::MB_YESNO;
    const int answer = state.setup.answer_box ? state.setup.answer_box(owner, text, caption, type)
                       : yes_no                ? win32::IDNO
                                               : win32::IDOK;
    // One line, whatever the text holds.
    std::string line = text ? text : "";
    for (char &c : line)
        if (c == '\n' || c == '\r') c = ' ';
    if (state.setup.boxes_on_stderr)
        std::fprintf(stderr, "%s: %s [%s]\n", caption ? caption : "", line.c_str(), button_name(answer));
    return answer;
}

void platform_post_quit_message(int exit_code) {
    state.quit_posted = true;
    state.quit_code = exit_code;
}

uint32_t platform_get_tick_count() {
    if (state.setup.tick_count) return state.setup.tick_count();
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint32_t(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u);
}

bool platform_register_window_class(InstanceHandle, const char *class_name, int) {
    return state.classes.insert(class_name).second;
}

bool platform_unregister_window_class(const char *class_name, InstanceHandle) {
    return state.classes.erase(class_name) != 0;
}

// No frame is counted: the window's size is its client area's, as the plug-in asks for.
bool platform_adjust_window_rect_ex(PlatformRect *rect, uint32_t, bool, uint32_t) { return rect != nullptr; }

WindowHandle platform_create_window_ex(uint32_t ex_style, const char *class_name, const char *title, uint32_t style,
                                       int32_t x, int32_t y, int32_t width, int32_t height, WindowHandle,
                                       InstanceHandle) {
    if (!state.classes.count(class_name)) return nullptr;
    Window window;
    window.class_name = class_name;
    window.title = title ? title : "";
    window.style = style;
    window.ex_style = ex_style;
    window.x = x;
    window.y = y;
    window.surface.width = width > 0 ? width : 1;
    window.surface.height = height > 0 ? height : 1;
    const uintptr_t id = state.next_window++;
    if (on_screen()) {
        const bool fill = (style & win32::WS_POPUP) && state.fullscreen_display >= 0;
        if (!sdl_window_open(&window.surface, window.title.c_str(), handle_of(id), fill ? state.fullscreen_display : -1))
            return nullptr;
        // Filling a display, or on a display that scales, the drawing area is not the size asked
        // for: the plug-in hears of it as a resize.
        if (window.surface.width != width || window.surface.height != height)
            state.posted.push_back({handle_of(id), win32::WM_SIZE, 0, size_lparam(window.surface.width, window.surface.height)});
    }
    state.windows[id] = window;
    return handle_of(id);
}

bool platform_destroy_window(WindowHandle handle) {
    Window *window = find_window(handle);
    if (!window) return false;
    if (state.current_window == id_of(handle)) release_current();
    close_window(*window);
    state.windows.erase(id_of(handle));
    for (auto message = state.posted.begin(); message != state.posted.end();)
        message = message->window == handle ? state.posted.erase(message) : message + 1;
    return true;
}

void platform_set_window_user_data(WindowHandle, void *) {}

void platform_show_window(WindowHandle handle, int command) {
    Window *window = find_window(handle);
    if (window && window->surface.window) sdl_window_show(&window->surface, command == win32::SW_MINIMIZE);
}

void platform_set_foreground_window(WindowHandle handle) {
    Window *window = find_window(handle);
    if (window && window->surface.window) sdl_window_raise(&window->surface);
}

void platform_set_focus(WindowHandle handle) { platform_set_foreground_window(handle); }

bool platform_minimize_by_placement(WindowHandle handle) {
    if (handle && handle == state.setup.parent) {
        state.parent_minimized = true;
        return true;
    }
    Window *window = find_window(handle);
    if (!window) return false;
    if (window->surface.window) sdl_window_show(&window->surface, true);
    return true;
}

intptr_t platform_def_window_proc(WindowHandle, uint32_t, uintptr_t, intptr_t) { return 0; }

int platform_show_cursor(bool show) {
    state.cursor_level += show ? 1 : -1;
    if (on_screen()) sdl_show_cursor(state.cursor_level >= 0);
    return state.cursor_level;
}

void platform_enum_display_monitors(MonitorVisitor visit, void *context) {
    const int displays = on_screen() ? sdl_display_count() : 0;
    for (int i = 0; i < displays; ++i)
        if (!visit(reinterpret_cast<MonitorHandle>(uintptr_t(i) + 1), context)) return;
}

bool platform_get_monitor_info(MonitorHandle monitor, MonitorInfoEx *info) {
    const int display = int(reinterpret_cast<uintptr_t>(monitor)) - 1;
    return on_screen() && info && info->size == sizeof(MonitorInfoEx) && sdl_display_info(display, info);
}

// Modes are never changed: a request marks the display that a popup window then fills at its
// own resolution, and the restore unmarks it. No device: the primary display, as on Windows.
int32_t platform_change_display_settings(const DisplayModeRequest *mode, uint32_t) {
    state.fullscreen_display = -1;
    if (!mode) return win32::DISP_CHANGE_SUCCESSFUL;
    return fill_display(on_screen() && sdl_display_count() > 0 ? 0 : -1);
}

int32_t platform_change_display_settings_ex(const char *device, const DisplayModeRequest *mode, uint32_t) {
    state.fullscreen_display = -1;
    if (!mode) return win32::DISP_CHANGE_SUCCESSFUL;
    if (!device) return platform_change_display_settings(mode, 0);
    return fill_display(on_screen() ? sdl_display_named(device) : -1);
}

// One device context per window, as with a class of its own: the handle is the window's.
DeviceContextHandle platform_get_dc(WindowHandle handle) {
    if (!find_window(handle)) return nullptr;
    if (!state.gl_open) {
        std::string error;
        if (!state.gl->open(state.setup, &error)) {
            note("no GL display: " + error);
            return nullptr;
        }
        state.gl_open = true;
    }
    return handle;
}

int platform_release_dc(WindowHandle handle, DeviceContextHandle dc) {
    return handle == dc && find_window(handle) ? 1 : 0;
}

int platform_choose_pixel_format(DeviceContextHandle dc, const PixelFormatDescriptor *request) {
    const uint32_t needed = win32::PFD_SUPPORT_OPENGL | win32::PFD_DRAW_TO_WINDOW;
    if (!state.gl_open || !find_window(dc) || !request || (request->flags & needed) != needed ||
        request->pixel_type != win32::PFD_TYPE_RGBA)
        return 0;
    return state.gl->choose_format(*request);
}

bool platform_set_pixel_format(DeviceContextHandle dc, int format, const PixelFormatDescriptor *) {
    Window *window = find_window(dc);
    if (!state.gl_open || !window || format <= 0) return false;
    if (window->surface.format) return window->surface.format == format;  // a window keeps its first format
    if (!state.gl->set_format(&window->surface, format)) return false;
    window->surface.format = format;
    return true;
}

GlContextHandle platform_wgl_create_context(DeviceContextHandle dc) {
    Window *window = find_window(dc);
    if (!window || !window->surface.format) return nullptr;
    g_surface_error = "no GL context";
    void *context = state.gl->make_context(&window->surface);
    if (!context) {
        note(g_surface_error);
        return nullptr;
    }
    state.display_kind = state.gl->kind();
    state.contexts.insert(context);
    return context;
}

bool platform_wgl_make_current(DeviceContextHandle dc, GlContextHandle context) {
    if (!context) return release_current();
    Window *window = find_window(dc);
    if (!window || !state.contexts.count(context)) return false;
    if (!state.gl->make_current(&window->surface, context)) {
        note_if_lost();
        return false;
    }
    state.current = context;
    state.current_window = id_of(dc);
    return true;
}

bool platform_wgl_delete_context(GlContextHandle context) {
    if (!state.contexts.count(context)) return false;
    if (state.current == context) release_current();
    state.gl->delete_context(context);
    state.contexts.erase(context);
    return true;
}

void *platform_wgl_get_proc_address(const char *name) { return state.gl->entry_point(name); }

// The one place every frame passes: it is read here, before the swap leaves its buffer
// undefined, and shown opaque (kSdlWindowSurfaces).
bool platform_swap_buffers(DeviceContextHandle dc) {
    Window *window = find_window(dc);
    if (!window) return false;
    const bool drawing_here = state.current && state.current_window == id_of(dc);
    if (state.kept.keep && drawing_here) keep_frame();
    if (state.fail_swaps_at >= 0 && state.swaps++ == state.fail_swaps_at) {
        g_surface_error = "showing the frame failed: EGL_CONTEXT_LOST (a test's)";
        g_surface_lost = true;
        note_if_lost();
        return false;
    }
    if (!drawing_here || state.gl->swap(&window->surface)) return true;
    note_if_lost();
    return false;
}

// The options dialog is Windows-only: its template lives in the DLL's resources.

intptr_t platform_dialog_box(InstanceHandle, int, WindowHandle) {
    note("the options dialog opens only on Windows; the options are in vis_halcyonsphere_assets/useropt.cfg");
    return -1;
}

bool platform_end_dialog(WindowHandle, intptr_t) { return false; }
bool platform_set_dlg_item_text(WindowHandle, int, const char *) { return false; }

uint32_t platform_get_dlg_item_text(WindowHandle, int, char *text, int size) {
    if (size > 0) text[0] = '\0';
    return 0;
}

bool platform_check_dlg_button(WindowHandle, int, uint32_t) { return false; }
uint32_t platform_is_dlg_button_checked(WindowHandle, int) { return 0; }

intptr_t platform_send_dlg_item_message(WindowHandle, int, uint32_t, uintptr_t, intptr_t) { return 0; }
