// The two kinds of GL surface the Linux seam's windows draw on, behind one table: EGL pbuffers
// offscreen (platform_linux_pbuffer.cpp) and SDL windows on the user's display
// (platform_linux_sdl.cpp). The emulated Win32 windows (platform_linux.cpp) hold one surface each
// and never ask which kind it is.
#pragma once

#include <cstdint>
#include <string>

#include "shell/platform.h"

struct LinuxPlatformSetup;

struct GlSurface {
    int32_t width = 1, height = 1;  // the drawing area in pixels: the window's client area
    int format = 0;                 // the pixel format set on it; 0 before
    void *window = nullptr;         // on screen: its SDL_Window
    void *config = nullptr;         // offscreen: the format's EGLConfig
    void *pbuffer = nullptr;        // offscreen: made when a context is first current on it
};

struct GlSurfaceCalls {
    // Before the first format: the display the contexts live on. False with a reason.
    bool (*open)(const LinuxPlatformSetup &setup, std::string *error);
    void (*close)();
    // The format that best gives what the plug-in asks for, by its number; 0 when none does.
    int (*choose_format)(const PixelFormatDescriptor &request);
    bool (*set_format)(GlSurface *surface, int format);
    // A compatibility context, as WGL gives; it does not become current. Null when none is made.
    void *(*make_context)(GlSurface *surface);
    // A null context releases whatever is current.
    bool (*make_current)(GlSurface *surface, void *context);
    void (*delete_context)(void *context);
    // Shows the frame drawn; false when the context is lost.
    bool (*swap)(GlSurface *surface);
    void *(*entry_point)(const char *name);
    // The window's drawing area became width x height; a context current on it stays current.
    bool (*resize)(GlSurface *surface, int32_t width, int32_t height, void *current_context);
    // Whatever the surface holds of its own, as its window goes.
    void (*drop)(GlSurface *surface);
    // Where the contexts draw: "device", "software" or "window".
    const char *(*kind)();
};

extern const GlSurfaceCalls kPbufferSurfaces;
extern const GlSurfaceCalls kSdlWindowSurfaces;

// Why the last failed call of either kind failed, for the one line that says so.
const char *gl_surface_error();
void gl_surface_set_error(const std::string &text);
// Whether that failure was the context being lost (a reset, a driver gone), not a refusal.
bool gl_surface_lost();
void gl_surface_set_lost(bool lost);
