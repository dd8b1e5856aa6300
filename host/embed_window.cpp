#include "host/embed_window.h"

#include <algorithm>
#include <vector>

#include "player/event_log.h"

static const char kFrameClass[] = "HalcyonEmbedFrame";
static const UINT kDestroyFrame = WM_APP + 1;  // asks a frame of another thread to go
static const int kDefaultWidth = 400, kDefaultHeight = 300;  // for a state with an empty rectangle
static const int kLargestSide = 4096;

// Written by any thread that calls the embed function; read by the host's thread.
static CRITICAL_SECTION g_lock;
static HWND g_parent = nullptr;
static DWORD g_host_thread = 0;
static std::vector<HWND> g_frames;

static LRESULT CALLBACK frame_proc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_SIZE:
        // The plug-in's window fills the frame, whatever size the plug-in or the user gives it.
        // Asynchronous: the child may belong to a thread that is waiting for this one.
        for (HWND child = GetWindow(frame, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
            SetWindowPos(child, nullptr, 0, 0, LOWORD(lparam), HIWORD(lparam),
                         SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
        return 0;
    case WM_CLOSE:
        // As in the player: closing the visualization's window stops the plug-in.
        PostThreadMessageA(g_host_thread, WM_QUIT, 0, 0);
        return 0;
    case kDestroyFrame:
        DestroyWindow(frame);
        return 0;
    }
    return DefWindowProcA(frame, message, wparam, lparam);
}

void embed_windows_init(HWND parent) {
    InitializeCriticalSection(&g_lock);
    g_parent = parent;
    g_host_thread = GetCurrentThreadId();
    WNDCLASSA frame_class = {};
    frame_class.lpfnWndProc = frame_proc;
    frame_class.hInstance = GetModuleHandleA(nullptr);
    frame_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    frame_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    frame_class.lpszClassName = kFrameClass;
    RegisterClassA(&frame_class);
}

static HWND __cdecl embed_window(EmbedWindowState *state) { return embed_window_create(state); }

EmbedWindowFunction embed_window_function() { return embed_window; }

intptr_t embed_window_answer(uintptr_t wparam) {
    if (wparam == 0) return reinterpret_cast<intptr_t>(embed_window_function());
    return reinterpret_cast<intptr_t>(embed_window_create(reinterpret_cast<EmbedWindowState *>(wparam)));
}

HWND embed_window_create(EmbedWindowState *state) {
    if (state == nullptr) return nullptr;
    const RECT asked = state->r;
    // Computed wide: a hostile rectangle may span more than an int holds.
    const long long asked_width = static_cast<long long>(asked.right) - asked.left;
    const long long asked_height = static_cast<long long>(asked.bottom) - asked.top;
    int width = kDefaultWidth, height = kDefaultHeight;
    if (asked_width > 0 && asked_height > 0) {
        width = static_cast<int>(std::min<long long>(asked_width, kLargestSide));
        height = static_cast<int>(std::min<long long>(asked_height, kLargestSide));
    }
    // On the screen where it fits: what lies off the screen is never drawn, so never captured.
    const int x = std::max(0, std::min<int>(asked.left, GetSystemMetrics(SM_CXSCREEN) - width));
    const int y = std::max(0, std::min<int>(asked.top, GetSystemMetrics(SM_CYSCREEN) - height));
    HWND frame = CreateWindowExA(0, kFrameClass, "Visualization", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE,
                                 x, y, width, height, g_parent, nullptr, GetModuleHandleA(nullptr), nullptr);
    state->me = frame;
    if (frame != nullptr) {
        EnterCriticalSection(&g_lock);
        g_frames.push_back(frame);
        LeaveCriticalSection(&g_lock);
    }
    RECT client = {};
    GetClientRect(frame, &client);
    JsonLine line = json_begin("embed");
    json_string(line, "phase", event_log_phase());
    json_int(line, "flags", state->flags);
    const int r[4] = {int(asked.left), int(asked.top), int(asked.right), int(asked.bottom)};
    json_int_array(line, "r", r, 4);
    json_int(line, "frame", reinterpret_cast<intptr_t>(frame));
    json_int(line, "client_width", client.right);
    json_int(line, "client_height", client.bottom);
    json_bool(line, "host_thread", GetCurrentThreadId() == g_host_thread);
    event_write(line);
    return frame;
}

HWND embed_window_last_alive() {
    EnterCriticalSection(&g_lock);
    HWND last = g_frames.empty() ? nullptr : g_frames.back();
    LeaveCriticalSection(&g_lock);
    return last != nullptr && IsWindow(last) ? last : nullptr;
}

void embed_windows_close_left() {
    EnterCriticalSection(&g_lock);
    std::vector<HWND> frames;
    frames.swap(g_frames);
    LeaveCriticalSection(&g_lock);
    int closed = 0;
    for (HWND frame : frames) {
        if (!IsWindow(frame)) continue;
        if (GetWindowThreadProcessId(frame, nullptr) == GetCurrentThreadId()) {
            DestroyWindow(frame);
        } else {
            // A frame of the plug-in's thread goes on that thread; a thread that no longer
            // answers keeps it (its end takes the window with it).
            DWORD_PTR ignored = 0;
            SendMessageTimeoutA(frame, kDestroyFrame, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
        }
        closed += IsWindow(frame) ? 0 : 1;
    }
    if (closed == 0) return;
    JsonLine line = json_begin("embed_frames_closed");
    json_int(line, "count", closed);
    event_write(line);
}
