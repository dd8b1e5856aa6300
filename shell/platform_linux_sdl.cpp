#include "shell/platform_linux_sdl.h"

#include <EGL/egl.h>
#include <GL/gl.h>
#include <SDL.h>
#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "shell/platform_linux.h"
#include "shell/swap_pacing.h"

namespace {

struct SdlWindow {
    SDL_Window *sdl = nullptr;
    WindowHandle handle = nullptr;
    int32_t width = 0, height = 0;  // the drawing area the plug-in last heard of
    SwapPacing pacing;
    int paced_display = -1;  // the display whose refresh rate the pacing has
};

bool g_started = false;
const char *g_user_stop = nullptr;
std::set<SdlWindow *> g_windows;

SdlWindow *window_of(const GlSurface *surface) { return static_cast<SdlWindow *>(surface->window); }

SdlWindow *window_with_id(uint32_t id) {
    SDL_Window *sdl = SDL_GetWindowFromID(id);
    return sdl ? static_cast<SdlWindow *>(SDL_GetWindowData(sdl, "halcyon")) : nullptr;
}

double seconds_now() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void sleep_for(double seconds) {
    if (seconds <= 0) return;
    timespec span = {time_t(seconds), long((seconds - std::floor(seconds)) * 1e9)};
    nanosleep(&span, nullptr);  // a signal cuts it short: the frame loop sees the stop
}

intptr_t size_lparam(int32_t width, int32_t height) {
    return intptr_t((uint32_t(height) & 0xFFFF) << 16 | (uint32_t(width) & 0xFFFF));
}

// Filling the display the window is on, or its own size again. Desktop fullscreen: no mode is
// changed, and SDL fills the display that holds the window's centre, so of two identical
// monitors the one it is on.
void toggle_fullscreen(SdlWindow *window) {
    const bool filling = (SDL_GetWindowFlags(window->sdl) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0;
    if (SDL_SetWindowFullscreen(window->sdl, filling ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP) != 0)
        std::fprintf(stderr, "halcyonsphere: cannot %s fullscreen: %s\n", filling ? "leave" : "go", SDL_GetError());
}

bool toggles_fullscreen(const SDL_Event &event) {
    if (event.type == SDL_KEYDOWN && !event.key.repeat)
        return event.key.keysym.sym == SDLK_F11 || event.key.keysym.sym == SDLK_f;
    return event.type == SDL_MOUSEBUTTONDOWN && event.button.button == SDL_BUTTON_LEFT && event.button.clicks == 2;
}

uint32_t event_window_id(const SDL_Event &event) {
    switch (event.type) {
    case SDL_WINDOWEVENT: return event.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return event.key.windowID;
    case SDL_MOUSEBUTTONDOWN: return event.button.windowID;
    default: return 0;
    }
}

// The frame on screen keeps its alpha out of the compositor's hands: the plug-in's frame copies
// need 8 alpha bits, but what is shown is opaque. Only alpha is written, so the colours drawn
// (and read back before) stay as they are.
void make_opaque() {
    GLboolean mask[4];
    GLfloat clear[4];
    glGetBooleanv(GL_COLOR_WRITEMASK, mask);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    const GLboolean scissor = glIsEnabled(GL_SCISSOR_TEST);
    if (scissor) glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(clear[0], clear[1], clear[2], clear[3]);
    glColorMask(mask[0], mask[1], mask[2], mask[3]);
    if (scissor) glEnable(GL_SCISSOR_TEST);
}

// The drawing area as the window system has it. SDL's own idea can differ: on X11 without a
// window manager, SDL counts a window as filling the display that never grew, and a frame drawn
// to that size would be cut. EGL asks the window system.
void drawing_area(SdlWindow *window, int32_t *width, int32_t *height) {
    EGLint w = 0, h = 0;
    const EGLSurface current = eglGetCurrentSurface(EGL_DRAW);
    if (SDL_GL_GetCurrentWindow() == window->sdl && current != EGL_NO_SURFACE &&
        eglQuerySurface(eglGetCurrentDisplay(), current, EGL_WIDTH, &w) &&
        eglQuerySurface(eglGetCurrentDisplay(), current, EGL_HEIGHT, &h) && w > 0 && h > 0) {
        *width = w;
        *height = h;
        return;
    }
    SDL_GL_GetDrawableSize(window->sdl, width, height);
}

void follow_refresh_rate(SdlWindow *window) {
    const int display = SDL_GetWindowDisplayIndex(window->sdl);
    if (display == window->paced_display) return;
    window->paced_display = display;
    SDL_DisplayMode mode{};
    swap_pacing_set_rate(&window->pacing, display >= 0 && SDL_GetCurrentDisplayMode(display, &mode) == 0
                                              ? mode.refresh_rate
                                              : 0);
}

// The surfaces' table.

bool open(const LinuxPlatformSetup &, std::string *error) {
    if (g_started) return true;
    *error = "the window system is not started";
    return false;
}

void close() {}

// SDL chose the window's format when it made the window: 8 bits a channel with 8 of alpha.
int choose_format(const PixelFormatDescriptor &) { return 1; }
bool set_format(GlSurface *, int format) { return format == 1; }

void *make_context(GlSurface *surface) {
    SdlWindow *window = window_of(surface);
    SDL_Window *previous_window = SDL_GL_GetCurrentWindow();
    SDL_GLContext previous = SDL_GL_GetCurrentContext();
    SDL_GLContext context = SDL_GL_CreateContext(window->sdl);
    if (!context) {
        gl_surface_set_error(std::string("no GL context: ") + SDL_GetError());
        return nullptr;
    }
    // Frames at the display's refresh rate; where the driver takes no swap interval, the seam
    // paces them itself.
    if (SDL_GL_SetSwapInterval(1) != 0) window->pacing.paced = true;
    // SDL makes the new context current; WGL leaves the current one as it was.
    SDL_GL_MakeCurrent(previous_window, previous);
    return context;
}

bool make_current(GlSurface *surface, void *context) {
    if (!context) return SDL_GL_MakeCurrent(nullptr, nullptr) == 0;
    if (SDL_GL_MakeCurrent(window_of(surface)->sdl, context) == 0) return true;
    const std::string reason = SDL_GetError();
    gl_surface_set_error("making the GL context current failed: " + reason);
    if (reason.find("CONTEXT_LOST") != std::string::npos) gl_surface_set_lost(true);
    return false;
}

void delete_context(void *context) { SDL_GL_DeleteContext(context); }

bool swap(GlSurface *surface) {
    SdlWindow *window = window_of(surface);
    make_opaque();
    follow_refresh_rate(window);
    sleep_for(swap_pacing_wait(&window->pacing, seconds_now()));
    // SDL tells a failed swap only through its error text.
    SDL_ClearError();
    const double began = seconds_now();
    SDL_GL_SwapWindow(window->sdl);
    swap_pacing_swapped(&window->pacing, began, seconds_now());
    const std::string reason = SDL_GetError();
    if (reason.find("eglSwapBuffers") == std::string::npos) return true;
    gl_surface_set_error("showing the frame failed: " + reason);
    gl_surface_set_lost(true);  // a window's swap fails only when its context or surface is gone
    return false;
}

void *entry_point(const char *name) { return SDL_GL_GetProcAddress(name); }

// The window system resized the drawing area itself; EGL follows it.
bool resize(GlSurface *surface, int32_t width, int32_t height, void *) {
    surface->width = width;
    surface->height = height;
    return true;
}

void drop(GlSurface *) {}

const char *kind() { return "window"; }

}  // namespace

const GlSurfaceCalls kSdlWindowSurfaces = {open,         close, choose_format, set_format, make_context, make_current,
                                           delete_context, swap, entry_point, resize,     drop,         kind};

namespace {

// Wayland's library finds its socket under XDG_RUNTIME_DIR unless WAYLAND_DISPLAY is a path;
// without either it cannot connect, and says so on stderr even when SDL only probes it.
bool wayland_reachable() {
    const char *socket = std::getenv("WAYLAND_DISPLAY");
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    return (socket && socket[0] == '/') || (runtime && runtime[0] == '/');
}

// SDL's drivers in its own order, less Wayland: for SDL_HINT_VIDEODRIVER, which takes a list.
std::string video_drivers_but_wayland() {
    std::string list;
    for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i) {
        const char *name = SDL_GetVideoDriver(i);
        if (!name || std::strcmp(name, "wayland") == 0) continue;
        list += (list.empty() ? "" : ",") + std::string(name);
    }
    return list;
}

// Why nothing showed, in the user's terms.
std::string no_display_reason() {
    const char *x11 = std::getenv("DISPLAY");
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    if (x11 && *x11) return std::string("no display to show the window on (nothing answers at DISPLAY=") + x11 + ")";
    if (wayland && *wayland)
        return std::string("no display to show the window on (nothing answers at WAYLAND_DISPLAY=") + wayland + ")";
    return "no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY names one)";
}

}  // namespace

bool sdl_video_start(std::string *error) {
    // Ctrl-C and SIGTERM end the player as any program; SDL would turn them into window events.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // GL contexts through EGL on X11 too, as on Wayland.
    SDL_SetHint(SDL_HINT_VIDEO_X11_FORCE_EGL, "1");
    // A driver the user names is theirs to try, and says its own errors.
    if (!std::getenv("SDL_VIDEODRIVER") && !wayland_reachable())
        SDL_SetHint(SDL_HINT_VIDEODRIVER, video_drivers_but_wayland().c_str());
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        *error = std::string("no display to show the window on: ") + SDL_GetError();
        return false;
    }
    // Without a display SDL falls back to windows nobody sees; only asked for by name is that wanted.
    const char *driver = SDL_GetCurrentVideoDriver();
    if (!std::getenv("SDL_VIDEODRIVER") && driver &&
        (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0)) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        *error = no_display_reason();
        return false;
    }
    g_started = true;
    g_user_stop = nullptr;
    return true;
}

const char *sdl_user_stop() { return g_user_stop; }

void sdl_video_stop() {
    if (g_started) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    g_started = false;
}

bool sdl_window_open(GlSurface *surface, const char *title, WindowHandle handle, int fill_display) {
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    // The blur weighs its layers by the alpha of its frame copy: without alpha bits the window's
    // frames would be brighter than the offscreen ones.
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    const bool fill = fill_display >= 0;
    const int position = fill ? int(SDL_WINDOWPOS_UNDEFINED_DISPLAY(fill_display)) : int(SDL_WINDOWPOS_CENTERED);
    SDL_Window *sdl = SDL_CreateWindow(title, position, position, surface->width, surface->height,
                                       SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_ALLOW_HIGHDPI |
                                           (fill ? SDL_WINDOW_FULLSCREEN_DESKTOP : SDL_WINDOW_RESIZABLE));
    if (!sdl) {
        std::fprintf(stderr, "halcyonsphere: cannot open a window: %s\n", SDL_GetError());
        return false;
    }
    SdlWindow *window = new SdlWindow;
    window->sdl = sdl;
    window->handle = handle;
    SDL_SetWindowData(sdl, "halcyon", window);
    g_windows.insert(window);
    surface->window = window;
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(sdl, &width, &height);
    if (width > 0 && height > 0) {
        surface->width = width;
        surface->height = height;
    }
    window->width = surface->width;
    window->height = surface->height;
    return true;
}

void sdl_window_close(GlSurface *surface) {
    SdlWindow *window = window_of(surface);
    if (!window) return;
    SDL_DestroyWindow(window->sdl);
    g_windows.erase(window);
    delete window;
    surface->window = nullptr;
}

void sdl_window_show(GlSurface *surface, bool minimize) {
    if (minimize) SDL_MinimizeWindow(window_of(surface)->sdl);
    else SDL_ShowWindow(window_of(surface)->sdl);
}

void sdl_window_raise(GlSurface *surface) { SDL_RaiseWindow(window_of(surface)->sdl); }

void sdl_window_set_size(GlSurface *surface, int32_t width, int32_t height) {
    SDL_SetWindowSize(window_of(surface)->sdl, width, height);
}

void sdl_show_cursor(bool show) {
    if (g_started) SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
}

void sdl_windows_poll(SdlMessageSink deliver) {
    SDL_Event event;
    while (g_started && SDL_PollEvent(&event)) {
        SdlWindow *window = window_with_id(event_window_id(event));
        if (!window) continue;
        if (toggles_fullscreen(event)) {
            toggle_fullscreen(window);
        } else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE) {
            if (!g_user_stop) g_user_stop = "close";
            deliver(window->handle, win32::WM_CLOSE, 0, 0);
        } else if ((event.type == SDL_KEYDOWN || event.type == SDL_KEYUP) &&
                   event.key.keysym.sym == SDLK_ESCAPE) {
            if (event.type == SDL_KEYDOWN && !g_user_stop) g_user_stop = "escape";
            deliver(window->handle, event.type == SDL_KEYDOWN ? win32::WM_KEYDOWN : win32::WM_KEYUP,
                    win32::VK_ESCAPE, 1);
        }
    }
    // Resized, filling a display or back: the next frame is drawn at the size shown.
    for (SdlWindow *window : g_windows) {
        int32_t width = 0, height = 0;
        drawing_area(window, &width, &height);
        if (width <= 0 || height <= 0 || (width == window->width && height == window->height)) continue;
        window->width = width;
        window->height = height;
        deliver(window->handle, win32::WM_SIZE, 0, size_lparam(width, height));
    }
}

int sdl_display_count() { return g_started ? SDL_GetNumVideoDisplays() : 0; }

bool sdl_display_info(int display, MonitorInfoEx *info) {
    SDL_Rect bounds, usable;
    if (display < 0 || display >= sdl_display_count() || SDL_GetDisplayBounds(display, &bounds) != 0) return false;
    if (SDL_GetDisplayUsableBounds(display, &usable) != 0) usable = bounds;
    info->monitor = {bounds.x, bounds.y, bounds.x + bounds.w, bounds.y + bounds.h};
    info->work = {usable.x, usable.y, usable.x + usable.w, usable.y + usable.h};
    info->flags = display == 0 ? 1 : 0;  // MONITORINFOF_PRIMARY
    std::snprintf(info->device, sizeof info->device, "\\\\.\\DISPLAY%d", display + 1);
    return true;
}

int sdl_display_named(const char *device) {
    for (int i = 0; i < sdl_display_count(); ++i) {
        MonitorInfoEx info{};
        if (sdl_display_info(i, &info) && std::strncmp(device, info.device, sizeof info.device) == 0) return i;
    }
    return -1;
}
