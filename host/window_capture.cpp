#include "host/window_capture.h"

#include <cstring>
#include <utility>

#include "host/embed_window.h"
#include "host/parent_window.h"

bool window_read_back(HWND window, PixelOrder order, std::vector<uint8_t> *pixels, int *width, int *height) {
    RECT client = {};
    if (window == nullptr || !IsWindow(window) || !GetClientRect(window, &client)) return false;
    const int w = client.right, h = client.bottom;
    if (w <= 0 || h <= 0 || w > 16384 || h > 16384) return false;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HDC window_dc = GetDC(window);
    HDC memory_dc = CreateCompatibleDC(window_dc);
    HBITMAP bitmap = CreateDIBSection(window_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const bool ok = window_dc != nullptr && memory_dc != nullptr && bitmap != nullptr && bits != nullptr;
    if (ok) {
        HGDIOBJ previous = SelectObject(memory_dc, bitmap);
        BitBlt(memory_dc, 0, 0, w, h, window_dc, 0, 0, SRCCOPY);
        GdiFlush();
        pixels->resize(size_t(w) * size_t(h) * 4);
        std::memcpy(pixels->data(), bits, pixels->size());
        SelectObject(memory_dc, previous);
        // GDI's pixels are BGRX.
        for (size_t i = 0; i < pixels->size(); i += 4) {
            if (order == PixelOrder::rgba) std::swap((*pixels)[i], (*pixels)[i + 2]);
            (*pixels)[i + 3] = 255;
        }
        *width = w;
        *height = h;
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory_dc) DeleteDC(memory_dc);
    if (window_dc) ReleaseDC(window, window_dc);
    return ok;
}

struct LargestWindow {
    HWND parent;
    HWND found;
    long long area;
};

static BOOL CALLBACK consider_window(HWND window, LPARAM context) {
    LargestWindow *largest = reinterpret_cast<LargestWindow *>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char class_name[16] = "";
    GetClassNameA(window, class_name, sizeof class_name);
    RECT client = {};
    if (process != GetCurrentProcessId() || window == largest->parent || !IsWindowVisible(window) ||
        std::strcmp(class_name, "#32770") == 0 || !GetClientRect(window, &client))
        return TRUE;
    const long long area = static_cast<long long>(client.right) * client.bottom;
    if (area > largest->area) *largest = LargestWindow{largest->parent, window, area};
    return TRUE;
}

HWND window_of_plugin() {
    HWND registered = parent_window_registered();
    if (registered != nullptr && IsWindow(registered)) return registered;
    if (HWND frame = embed_window_last_alive()) return frame;
    LargestWindow largest = {parent_window(), nullptr, 0};
    EnumWindows(consider_window, reinterpret_cast<LPARAM>(&largest));
    return largest.found;
}
