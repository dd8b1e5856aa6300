// The platform seam on Linux, as the native player drives it. platform_linux.cpp implements
// shell/platform.h: windows either offscreen (an EGL pbuffer the size of the window, on the best
// display the machine has, no X server needed: platform_linux_pbuffer.cpp) or on the user's
// display through SDL2 with EGL (platform_linux_sdl.cpp), whose events reach the plug-in's window
// procedure as the Win32 messages it knows.
//
// What differs from Windows: the plug-in is linked into the player, and its folder (the one that
// holds vis_halcyonsphere_assets) is the current directory: the module's file name has no
// backslash. Message boxes are one line on stderr, answered as the player says or with the box's
// default (No, else OK). The options dialog does not open. Display modes are never changed: a
// fullscreen start fills the display the window is on instead (offscreen, it stays windowed).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shell/platform.h"
#include "shell/platform_linux_egl.h"

struct LinuxPlatformSetup {
    bool on_screen = false;                          // windows on the user's display (SDL2)
    EglDisplayChoice gl = EglDisplayChoice::best;    // offscreen: which EGL display
    int gl_device = 0;                               // with EglDisplayChoice::device
    WindowHandle parent = nullptr;                   // the player's window, as the plug-in sees it
    // Messages the plug-in sends the player's window; null answers 0.
    intptr_t (*answer_parent)(uint32_t message, uintptr_t wparam, intptr_t lparam) = nullptr;
    // The button a message box gets (IDOK, IDYES, ...); null: the box's default.
    int (*answer_box)(WindowHandle owner, const char *text, const char *caption, uint32_t type) = nullptr;
    // The plug-in's tick count; null: milliseconds of the monotonic clock.
    uint32_t (*tick_count)() = nullptr;
    // Each message box as a line on stderr; off for a player that tells the box's text itself.
    bool boxes_on_stderr = true;
};

// False with a reason when there is no display to show windows on.
bool platform_linux_start(const LinuxPlatformSetup &setup, std::string *error);
// Ends what start began and every window, context and display the plug-in left.
void platform_linux_stop();

// Delivers the windows' pending events to the window procedure; true once the plug-in posted
// its quit message, with its exit code.
bool platform_linux_pump(int *exit_code);
// Queues a message for a window, delivered by the next pump (as PostMessage); false for no window.
bool platform_linux_post(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
// Gives a window a new client size, as a user dragging its edge: its drawing surface follows and
// WM_SIZE reaches the window procedure by the next pump.
bool platform_linux_set_window_size(WindowHandle window, int32_t width, int32_t height);

struct LinuxWindowInfo {
    std::string class_name, title;
    uint32_t style, ex_style;
    int32_t x, y, client_width, client_height;
};
// False for a handle that is no live window.
bool platform_linux_window_info(WindowHandle window, LinuxWindowInfo *info);
bool platform_linux_class_registered(const char *class_name);
int platform_linux_window_count();
// Whether the plug-in minimized the player's window (it does so for a whole-display start).
bool platform_linux_parent_minimized();
// Where GL contexts draw: "device" or "software" (offscreen, see platform_linux_egl.h), "window"
// (on screen), or "" before the first context.
const char *platform_linux_display_kind();
// Whether a context of the plug-in is current on this thread.
bool platform_linux_gl_current();

// With keep on, every swap first reads the frame it shows (the viewport, BGRA or RGBA, bottom row
// first): after a window's swap its back buffer is undefined, so captures take this copy.
void platform_linux_keep_frames(bool keep, bool bgra);
// The frame the last swap showed; false before the first, or when frames are not kept.
bool platform_linux_kept_frame(const std::vector<uint8_t> **bottom_up, int *width, int *height, bool *bgra);

// Why the plug-in's GL context was lost (a swap or make-current failed with the context gone: a
// GPU reset, a driver gone); null while it is not. Nothing drawn after it shows.
const char *platform_linux_gl_lost();
// What the user did first to end the run in a window: "escape", "close", or null (none, or offscreen).
const char *platform_linux_user_stop();
// For tests: the swap of that number (from 0, Init's included) fails as a lost context does.
void platform_linux_fail_swap(int swap_number);
