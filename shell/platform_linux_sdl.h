// Windows on the user's display through SDL2 (GL through EGL, on X11 as on Wayland): what the
// emulated Win32 windows (platform_linux.cpp) need of them, and their events as the messages a
// Win32 window gets. Their GL surfaces are kSdlWindowSurfaces (platform_linux_surface.h).
//
// F11, F or a double click toggles the window between its own size and filling the display it
// is on; Escape and the close box reach the plug-in, whose window procedure quits.
#pragma once

#include <cstdint>
#include <string>

#include "shell/platform.h"
#include "shell/platform_linux_surface.h"

// False with a reason when there is no display to show windows on.
bool sdl_video_start(std::string *error);
void sdl_video_stop();

// Opens the window of handle, hidden, at the surface's size: filling display fill_display (>= 0),
// else centred and resizable. Its drawing area may differ from the size asked for (a display that
// scales, one it fills): the surface then holds the true one. False with a line on stderr.
bool sdl_window_open(GlSurface *surface, const char *title, WindowHandle handle, int fill_display);
void sdl_window_close(GlSurface *surface);
void sdl_window_show(GlSurface *surface, bool minimize);
void sdl_window_raise(GlSurface *surface);
// As a user dragging its edge: the size event follows from the display.
void sdl_window_set_size(GlSurface *surface, int32_t width, int32_t height);
void sdl_show_cursor(bool show);

// What happened to the windows since the last poll, as messages to their handles. WM_SIZE comes
// with the new drawing area in lparam, for the surface to follow before the plug-in hears of it.
using SdlMessageSink = void (*)(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
void sdl_windows_poll(SdlMessageSink deliver);
// What the user did first to end the run since the video started: "escape", "close" (the close
// box, or the window manager's close), or null.
const char *sdl_user_stop();

int sdl_display_count();
// As GetMonitorInfoA answers: bounds, work area, primary flag and the device name, which tells
// two identical monitors apart ("\\.\DISPLAY1", "\\.\DISPLAY2", as on Windows).
bool sdl_display_info(int display, MonitorInfoEx *info);
// The display whose device name that is; -1 for none.
int sdl_display_named(const char *device);
