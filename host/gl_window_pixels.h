// Reads the window's own picture from the GL context current on this thread, and leaves every
// GL state it touches as the plug-in set it: the pack alignment, row length and skips, the read
// buffer, the bound pixel pack buffer and read framebuffer. Such a read inside the plug-in's swap
// must not change what its next frame does (a plug-in that reads its front buffer, or packs its
// own pixels with another alignment). It makes no GL error when the context can do what it reads
// with, and does not touch the pixel transfer modes (scales, biases, maps), which a read does not
// change.
#pragma once

#include <windows.h>

#include <GL/gl.h>

// Reads width x height pixels from (x, y) of the window's buffer, bottom row first, tightly packed
// in format (GL_RGBA or GL_BGRA) as unsigned bytes: the back buffer of a double-buffered window,
// else the front one.
void gl_read_window(int x, int y, int width, int height, GLenum format, void *pixels);
