// A GL compatibility context without a window or a display server: Mesa's surfaceless EGL
// platform (llvmpipe). Native tools and tests use it to run real GL where the product uses WGL.
#pragma once

#include <string>

struct OffscreenGl {
    void *display;
    void *context;
};

// Makes a context current on this thread, with a width × height default framebuffer object bound
// for drawing and reading. False with a reason in *error when no context can be made.
bool offscreen_gl_create(OffscreenGl *gl, int width, int height, std::string *error);
void offscreen_gl_destroy(OffscreenGl *gl);
// The GL entry point of that name, as wglGetProcAddress gives it on Windows.
void *offscreen_gl_proc_address(const char *name);
