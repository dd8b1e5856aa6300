#include "host/swap_capture.h"

#include <GL/gl.h>

#include <cstring>
#include <utility>

#include "host/gl_window_pixels.h"
#include "host/import_patch.h"

#ifndef GL_BGRA
#define GL_BGRA 0x80E1
#endif

// Written by the plug-in's drawing thread at each swap, read by the host's thread.
static CRITICAL_SECTION g_lock;
static DWORD g_host_thread = 0;
static std::vector<uint8_t> g_kept;  // BGRA, bottom row first, as GL reads
static int g_kept_width = 0, g_kept_height = 0;
static int g_gl_imports = 0;                  // the plug-in's imports of the swap and context functions
static volatile LONG g_gl_elsewhere = 0;      // a context made current on another thread this start

static BOOL WINAPI make_current_and_note(HDC dc, HGLRC context) {
    if (context != nullptr && GetCurrentThreadId() != g_host_thread) InterlockedExchange(&g_gl_elsewhere, 1);
    return wglMakeCurrent(dc, context);
}

static BOOL WINAPI swap_and_keep(HDC dc) {
    if (GetCurrentThreadId() == g_host_thread) return SwapBuffers(dc);  // read by the host itself
    HWND window = WindowFromDC(dc);
    RECT client = {};
    if (wglGetCurrentDC() == dc && window != nullptr && GetClientRect(window, &client) && client.right > 0 &&
        client.bottom > 0 && client.right <= 16384 && client.bottom <= 16384) {
        static std::vector<uint8_t> frame;  // one drawing thread at a time: the plug-in's
        frame.resize(size_t(client.right) * size_t(client.bottom) * 4);
        gl_read_window(0, 0, client.right, client.bottom, GL_BGRA, frame.data());
        EnterCriticalSection(&g_lock);
        g_kept.swap(frame);
        g_kept_width = client.right;
        g_kept_height = client.bottom;
        LeaveCriticalSection(&g_lock);
    }
    return SwapBuffers(dc);
}

int swap_capture_install(HMODULE library) {
    InitializeCriticalSection(&g_lock);
    g_host_thread = GetCurrentThreadId();
    static const char *const kGdi[] = {"gdi32.dll", nullptr};
    static const char *const kGl[] = {"opengl32.dll", nullptr};
    static const ImportTarget kSwaps[] = {{"SwapBuffers", kGdi}, {"wglSwapBuffers", kGl}};
    static const ImportTarget kMakeCurrent[] = {{"wglMakeCurrent", kGl}};
    const int swaps = import_patch(library, kSwaps, 2, reinterpret_cast<void *>(&swap_and_keep));
    g_gl_imports = swaps + import_patch(library, kMakeCurrent, 1, reinterpret_cast<void *>(&make_current_and_note));
    return swaps;
}

void swap_capture_reset() {
    EnterCriticalSection(&g_lock);
    g_kept.clear();
    g_kept_width = g_kept_height = 0;
    LeaveCriticalSection(&g_lock);
    InterlockedExchange(&g_gl_elsewhere, 0);
}

bool swap_capture_gl_imported() { return g_gl_imports > 0; }

bool swap_capture_gl_elsewhere() { return g_gl_elsewhere != 0; }

bool swap_capture_ready() {
    EnterCriticalSection(&g_lock);
    const bool kept = g_kept_width > 0 && g_kept_height > 0;
    LeaveCriticalSection(&g_lock);
    return kept;
}

bool swap_capture_latest(PixelOrder order, std::vector<uint8_t> *pixels, int *width, int *height) {
    EnterCriticalSection(&g_lock);
    const int w = g_kept_width, h = g_kept_height;
    const bool kept = w > 0 && h > 0;
    if (kept) {
        const size_t stride = size_t(w) * 4;
        pixels->resize(stride * size_t(h));
        for (int y = 0; y < h; ++y)  // GL rows run bottom up
            std::memcpy(pixels->data() + size_t(y) * stride, g_kept.data() + size_t(h - 1 - y) * stride, stride);
    }
    LeaveCriticalSection(&g_lock);
    if (!kept) return false;
    for (size_t i = 0; i < pixels->size(); i += 4) {
        if (order == PixelOrder::rgba) std::swap((*pixels)[i], (*pixels)[i + 2]);
        (*pixels)[i + 3] = 255;
    }
    *width = w;
    *height = h;
    return true;
}
