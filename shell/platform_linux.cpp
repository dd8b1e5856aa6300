// The platform seam on Linux (see platform_linux.h): windows are records, offscreen with an EGL
// pbuffer each or on screen as SDL2 windows; posted messages and the windows' events reach
// display_window_proc from platform_linux_pump, as the Win32 message loop delivers them.
#include "shell/platform_linux.h"

#include <EGL/egl.h>
#include <SDL.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <set>

namespace {

struct Window {
    std::string class_name, title;
    uint32_t style = 0, ex_style = 0;
    int32_t x = 0, y = 0, width = 1, height = 1;  // the client area
    SDL_Window *sdl = nullptr;                    // on screen
    int format = 0;                               // the pixel format set on its device context
    EGLConfig config = nullptr;                   // offscreen: that format's EGL config
    EGLSurface surface = EGL_NO_SURFACE;          // offscreen: made when a context is first current on it
};

struct Context {
    EGLContext egl = EGL_NO_CONTEXT;
    SDL_GLContext sdl = nullptr;
    bool swap_interval_set = false;
};

struct Posted {
    WindowHandle window;
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
};

struct LinuxPlatform {
    LinuxPlatformSetup setup;
    bool sdl_started = false;
    EglDisplayOpened egl;  // offscreen: opened by the first device context, kept for later starts
    std::map<uintptr_t, Window> windows;
    uintptr_t next_window = 0x1000;
    std::set<std::string> classes;
    std::set<Context *> contexts;
    Context *current = nullptr;
    uintptr_t current_window = 0;
    std::deque<Posted> posted;
    bool quit_posted = false;
    int quit_code = 0;
    int cursor_level = 0;
    bool parent_minimized = false;
    int fullscreen_display = -1;  // on screen: the display a popup window fills
    const char *display_kind = "";
};

LinuxPlatform state;

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

bool release_current() {
    bool ok = true;
    if (state.sdl_started) ok = SDL_GL_MakeCurrent(nullptr, nullptr) == 0;
    else if (state.egl.display) ok = eglMakeCurrent(state.egl.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    state.current = nullptr;
    state.current_window = 0;
    return ok;
}

void destroy_surface(Window &window) {
    if (window.surface != EGL_NO_SURFACE) eglDestroySurface(state.egl.display, window.surface);
    window.surface = EGL_NO_SURFACE;
}

EGLSurface make_surface(const Window &window) {
    const EGLint attributes[] = {EGL_WIDTH, window.width > 0 ? window.width : 1, EGL_HEIGHT,
                                 window.height > 0 ? window.height : 1, EGL_NONE};
    return eglCreatePbufferSurface(state.egl.display, window.config, attributes);
}

// SDL's events as the messages a Win32 window gets.
void queue_sdl_event(const SDL_Event &event) {
    const uint32_t id = event.type == SDL_WINDOWEVENT ? event.window.windowID
                        : event.type == SDL_KEYDOWN || event.type == SDL_KEYUP ? event.key.windowID
                                                                               : 0;
    for (auto &entry : state.windows) {
        Window &window = entry.second;
        if (!window.sdl || SDL_GetWindowID(window.sdl) != id) continue;
        const WindowHandle handle = handle_of(entry.first);
        if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE) {
            state.posted.push_back({handle, win32::WM_CLOSE, 0, 0});
        } else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
            SDL_GL_GetDrawableSize(window.sdl, &window.width, &window.height);
            state.posted.push_back({handle, win32::WM_SIZE, 0, size_lparam(window.width, window.height)});
        } else if ((event.type == SDL_KEYDOWN || event.type == SDL_KEYUP) && event.key.keysym.sym == SDLK_ESCAPE) {
            state.posted.push_back(
                {handle, event.type == SDL_KEYDOWN ? win32::WM_KEYDOWN : win32::WM_KEYUP, win32::VK_ESCAPE, 1});
        }
        return;
    }
}

void display_device_name(int display, char out[32]) {
    const char *name = SDL_GetDisplayName(display);
    std::snprintf(out, 32, "%s", name ? name : "display");
}

int32_t fill_display(const char *device) {
    const int displays = state.sdl_started ? SDL_GetNumVideoDisplays() : 0;
    for (int i = 0; i < displays; ++i) {
        char name[32];
        display_device_name(i, name);
        if (!device || std::strncmp(device, name, sizeof name) == 0) {
            state.fullscreen_display = i;
            return win32::DISP_CHANGE_SUCCESSFUL;
        }
    }
    return -1;  // DISP_CHANGE_FAILED: offscreen there is no display to fill
}

}  // namespace

// The player's side.

bool platform_linux_start(const LinuxPlatformSetup &setup, std::string *error) {
    state = LinuxPlatform{};
    state.setup = setup;
    if (!setup.on_screen) return true;
    // Ctrl-C and SIGTERM end the player as any program; SDL would turn them into window events.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // GL contexts through EGL on X11 too, as on Wayland.
    SDL_SetHint(SDL_HINT_VIDEO_X11_FORCE_EGL, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        *error = std::string("no display to show the window on: ") + SDL_GetError();
        return false;
    }
    // Without a display SDL falls back to windows nobody sees; only asked for by name is that wanted.
    const char *driver = SDL_GetCurrentVideoDriver();
    if (!std::getenv("SDL_VIDEODRIVER") && driver &&
        (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0)) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        *error = "no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY names one)";
        return false;
    }
    state.sdl_started = true;
    return true;
}

void platform_linux_stop() {
    release_current();
    for (Context *context : state.contexts) {
        if (context->sdl) SDL_GL_DeleteContext(context->sdl);
        if (context->egl != EGL_NO_CONTEXT) eglDestroyContext(state.egl.display, context->egl);
        delete context;
    }
    state.contexts.clear();
    for (auto &entry : state.windows) {
        destroy_surface(entry.second);
        if (entry.second.sdl) SDL_DestroyWindow(entry.second.sdl);
    }
    state.windows.clear();
    egl_display_close(&state.egl);
    if (state.sdl_started) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    state = LinuxPlatform{};
}

bool platform_linux_pump(int *exit_code) {
    SDL_Event event;
    while (state.sdl_started && SDL_PollEvent(&event)) queue_sdl_event(event);
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
    if (window->sdl) {
        SDL_SetWindowSize(window->sdl, width, height);  // the size event follows from SDL
        return true;
    }
    window->width = width;
    window->height = height;
    if (window->surface != EGL_NO_SURFACE) {
        // The old pbuffer is the old size: the drawing moves to a new one, as a window's buffers grow.
        EGLSurface resized = make_surface(*window);
        if (resized == EGL_NO_SURFACE) return false;
        if (state.current_window == id_of(handle) &&
            !eglMakeCurrent(state.egl.display, resized, resized, state.current->egl)) {
            eglDestroySurface(state.egl.display, resized);
            return false;
        }
        destroy_surface(*window);
        window->surface = resized;
    }
    state.posted.push_back({handle, win32::WM_SIZE, 0, size_lparam(width, height)});
    return true;
}

bool platform_linux_window_info(WindowHandle handle, LinuxWindowInfo *info) {
    const Window *window = find_window(handle);
    if (!window) return false;
    *info = {window->class_name, window->title, window->style, window->ex_style,
             window->x,          window->y,     window->width, window->height};
    return true;
}

bool platform_linux_class_registered(const char *class_name) { return state.classes.count(class_name) != 0; }
int platform_linux_window_count() { return int(state.windows.size()); }
bool platform_linux_parent_minimized() { return state.parent_minimized; }
const char *platform_linux_display_kind() { return state.display_kind; }
bool platform_linux_gl_current() { return state.current != nullptr; }

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
    window.width = width > 0 ? width : 1;
    window.height = height > 0 ? height : 1;
    const uintptr_t id = state.next_window++;
    if (state.sdl_started) {
        SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
        const bool fill = (style & win32::WS_POPUP) && state.fullscreen_display >= 0;
        const int position = fill ? int(SDL_WINDOWPOS_UNDEFINED_DISPLAY(state.fullscreen_display))
                                  : int(SDL_WINDOWPOS_CENTERED);
        window.sdl = SDL_CreateWindow(window.title.c_str(), position, position, window.width, window.height,
                                      SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_ALLOW_HIGHDPI |
                                          (fill ? SDL_WINDOW_FULLSCREEN_DESKTOP : SDL_WINDOW_RESIZABLE));
        if (!window.sdl) {
            note(std::string("cannot open a window: ") + SDL_GetError());
            return nullptr;
        }
        // Filling a display, or on a display that scales, the drawing area is not the size asked
        // for: the plug-in hears of it as a resize.
        int drawable_width = 0, drawable_height = 0;
        SDL_GL_GetDrawableSize(window.sdl, &drawable_width, &drawable_height);
        if (drawable_width > 0 && drawable_height > 0 &&
            (drawable_width != window.width || drawable_height != window.height)) {
            window.width = drawable_width;
            window.height = drawable_height;
            state.posted.push_back({handle_of(id), win32::WM_SIZE, 0, size_lparam(drawable_width, drawable_height)});
        }
    }
    state.windows[id] = window;
    return handle_of(id);
}

bool platform_destroy_window(WindowHandle handle) {
    Window *window = find_window(handle);
    if (!window) return false;
    if (state.current_window == id_of(handle)) release_current();
    destroy_surface(*window);
    if (window->sdl) SDL_DestroyWindow(window->sdl);
    state.windows.erase(id_of(handle));
    for (auto message = state.posted.begin(); message != state.posted.end();)
        message = message->window == handle ? state.posted.erase(message) : message + 1;
    return true;
}

void platform_set_window_user_data(WindowHandle, void *) {}

void platform_show_window(WindowHandle handle, int command) {
    Window *window = find_window(handle);
    if (!window || !window->sdl) return;
    if (command == win32::SW_MINIMIZE) SDL_MinimizeWindow(window->sdl);
    else SDL_ShowWindow(window->sdl);
}

void platform_set_foreground_window(WindowHandle handle) {
    Window *window = find_window(handle);
    if (window && window->sdl) SDL_RaiseWindow(window->sdl);
}

void platform_set_focus(WindowHandle handle) { platform_set_foreground_window(handle); }

bool platform_minimize_by_placement(WindowHandle handle) {
    if (handle && handle == state.setup.parent) {
        state.parent_minimized = true;
        return true;
    }
    Window *window = find_window(handle);
    if (!window) return false;
    if (window->sdl) SDL_MinimizeWindow(window->sdl);
    return true;
}

intptr_t platform_def_window_proc(WindowHandle, uint32_t, uintptr_t, intptr_t) { return 0; }

int platform_show_cursor(bool show) {
    state.cursor_level += show ? 1 : -1;
    if (state.sdl_started) SDL_ShowCursor(state.cursor_level >= 0 ? SDL_ENABLE : SDL_DISABLE);
    return state.cursor_level;
}

void platform_enum_display_monitors(MonitorVisitor visit, void *context) {
    const int displays = state.sdl_started ? SDL_GetNumVideoDisplays() : 0;
    for (int i = 0; i < displays; ++i)
        if (!visit(reinterpret_cast<MonitorHandle>(uintptr_t(i) + 1), context)) return;
}

bool platform_get_monitor_info(MonitorHandle monitor, MonitorInfoEx *info) {
    const int display = int(reinterpret_cast<uintptr_t>(monitor)) - 1;
    SDL_Rect bounds, usable;
    if (!state.sdl_started || !info || info->size != sizeof(MonitorInfoEx) || display < 0 ||
        display >= SDL_GetNumVideoDisplays() || SDL_GetDisplayBounds(display, &bounds) != 0)
        return false;
    if (SDL_GetDisplayUsableBounds(display, &usable) != 0) usable = bounds;
    info->monitor = {bounds.x, bounds.y, bounds.x + bounds.w, bounds.y + bounds.h};
    info->work = {usable.x, usable.y, usable.x + usable.w, usable.y + usable.h};
    info->flags = display == 0 ? 1 : 0;  // MONITORINFOF_PRIMARY
    display_device_name(display, info->device);
    return true;
}

// Modes are never changed: a request marks the display that a popup window then fills at its
// own resolution, and the restore unmarks it.
int32_t platform_change_display_settings(const DisplayModeRequest *mode, uint32_t) {
    state.fullscreen_display = -1;
    return mode ? fill_display(nullptr) : win32::DISP_CHANGE_SUCCESSFUL;
}

int32_t platform_change_display_settings_ex(const char *device, const DisplayModeRequest *mode, uint32_t) {
    state.fullscreen_display = -1;
    return mode ? fill_display(device ? device : "") : win32::DISP_CHANGE_SUCCESSFUL;
}

// One device context per window, as with a class of its own: the handle is the window's.
DeviceContextHandle platform_get_dc(WindowHandle handle) {
    if (!find_window(handle)) return nullptr;
    if (!state.sdl_started && !state.egl.display) {
        std::string error;
        if (!egl_display_open(state.setup.gl, state.setup.gl_device, &state.egl, &error)) {
            note("no GL display: " + error);
            return nullptr;
        }
    }
    return handle;
}

int platform_release_dc(WindowHandle handle, DeviceContextHandle dc) {
    return handle == dc && find_window(handle) ? 1 : 0;
}

int platform_choose_pixel_format(DeviceContextHandle dc, const PixelFormatDescriptor *request) {
    const uint32_t needed = win32::PFD_SUPPORT_OPENGL | win32::PFD_DRAW_TO_WINDOW;
    if (!find_window(dc) || !request || (request->flags & needed) != needed || request->pixel_type != win32::PFD_TYPE_RGBA)
        return 0;
    if (state.sdl_started) return 1;  // SDL chose the window's format when it made it
    const EGLint attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                 EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8,
                                 EGL_ALPHA_SIZE, request->alpha_bits, EGL_DEPTH_SIZE, request->depth_bits,
                                 EGL_STENCIL_SIZE, request->stencil_bits, EGL_NONE};
    EGLConfig configs[64];
    EGLint count = 0;
    if (!eglChooseConfig(state.egl.display, attributes, configs, 64, &count) || count < 1) return 0;
    // EGL lists deeper colours first; the plug-in's frames are 8 bits a channel, as on Windows,
    // where 32 colour bits come with 8 of alpha: the frame copies keep it, and the radial blur
    // weighs its layers by it. Else any alpha.
    const EGLint alpha_wanted = request->color_bits >= 32 ? 8 : request->alpha_bits;
    EGLConfig chosen = configs[0];
    int best = 0;  // 2: 8 bits a channel and the alpha wanted; 1: 8 bits a channel
    for (EGLint i = 0; i < count && best < 2; ++i) {
        EGLint red = 0, green = 0, blue = 0, alpha = 0;
        eglGetConfigAttrib(state.egl.display, configs[i], EGL_RED_SIZE, &red);
        eglGetConfigAttrib(state.egl.display, configs[i], EGL_GREEN_SIZE, &green);
        eglGetConfigAttrib(state.egl.display, configs[i], EGL_BLUE_SIZE, &blue);
        eglGetConfigAttrib(state.egl.display, configs[i], EGL_ALPHA_SIZE, &alpha);
        const int score = red == 8 && green == 8 && blue == 8 ? (alpha == alpha_wanted ? 2 : 1) : 0;
        if (score > best) {
            chosen = configs[i];
            best = score;
        }
    }
    EGLint id = 0;
    eglGetConfigAttrib(state.egl.display, chosen, EGL_CONFIG_ID, &id);
    return id;
}

bool platform_set_pixel_format(DeviceContextHandle dc, int format, const PixelFormatDescriptor *) {
    Window *window = find_window(dc);
    if (!window || format <= 0) return false;
    if (window->format) return window->format == format;  // a window keeps its first format
    if (state.sdl_started) {
        if (format != 1) return false;
    } else {
        const EGLint attributes[] = {EGL_CONFIG_ID, format, EGL_NONE};
        EGLint count = 0;
        if (!eglChooseConfig(state.egl.display, attributes, &window->config, 1, &count) || count != 1) return false;
    }
    window->format = format;
    return true;
}

GlContextHandle platform_wgl_create_context(DeviceContextHandle dc) {
    Window *window = find_window(dc);
    if (!window || !window->format) return nullptr;
    Context *context = new Context;
    if (window->sdl) {
        context->sdl = SDL_GL_CreateContext(window->sdl);
        // SDL makes the new context current; WGL leaves the current one as it was.
        Window *previous = state.current ? find_window(handle_of(state.current_window)) : nullptr;
        if (previous && previous->sdl) SDL_GL_MakeCurrent(previous->sdl, state.current->sdl);
        else SDL_GL_MakeCurrent(nullptr, nullptr);
    } else if (eglBindAPI(EGL_OPENGL_API)) {
        // No attributes: a compatibility context, as WGL gives the plug-in.
        context->egl = eglCreateContext(state.egl.display, window->config, EGL_NO_CONTEXT, nullptr);
    }
    if (!context->sdl && context->egl == EGL_NO_CONTEXT) {
        note(window->sdl ? std::string("no GL context: ") + SDL_GetError() : std::string("no GL context"));
        delete context;
        return nullptr;
    }
    state.display_kind = window->sdl ? "window" : state.egl.kind;
    state.contexts.insert(context);
    return context;
}

bool platform_wgl_make_current(DeviceContextHandle dc, GlContextHandle handle) {
    if (!handle) return release_current();
    Context *context = static_cast<Context *>(handle);
    Window *window = find_window(dc);
    if (!window || !state.contexts.count(context)) return false;
    if (window->sdl) {
        if (SDL_GL_MakeCurrent(window->sdl, context->sdl) != 0) return false;
        // Frames at the display's refresh rate.
        if (!context->swap_interval_set) SDL_GL_SetSwapInterval(1);
        context->swap_interval_set = true;
    } else {
        if (window->surface == EGL_NO_SURFACE) window->surface = make_surface(*window);
        if (window->surface == EGL_NO_SURFACE ||
            !eglMakeCurrent(state.egl.display, window->surface, window->surface, context->egl))
            return false;
    }
    state.current = context;
    state.current_window = id_of(dc);
    return true;
}

bool platform_wgl_delete_context(GlContextHandle handle) {
    Context *context = static_cast<Context *>(handle);
    if (!state.contexts.count(context)) return false;
    if (state.current == context) release_current();
    if (context->sdl) SDL_GL_DeleteContext(context->sdl);
    if (context->egl != EGL_NO_CONTEXT) eglDestroyContext(state.egl.display, context->egl);
    state.contexts.erase(context);
    delete context;
    return true;
}

void *platform_wgl_get_proc_address(const char *name) {
    if (state.sdl_started) return SDL_GL_GetProcAddress(name);
    return reinterpret_cast<void *>(eglGetProcAddress(name));
}

bool platform_swap_buffers(DeviceContextHandle dc) {
    Window *window = find_window(dc);
    if (!window) return false;
    if (window->sdl) SDL_GL_SwapWindow(window->sdl);
    // A pbuffer has one buffer: the frame stays where it was drawn, to be read back.
    return true;
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
