// The player's embedded windows: a plug-in asks for the interface (WM_USER/505), calls it with a
// state record, and makes its own window a child of the frame it gets back.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// The record the plug-in hands over, as the player's interface lays it out.
struct EmbedWindowState {
    HWND me;                   // the frame, filled in by the host
    int32_t flags;
    RECT r;                    // the frame's place and size on the screen
    void *user_ptr;            // the plug-in's own
    intptr_t extra_data[64];   // the player's own
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(EmbedWindowState, me) == 0, "EmbedWindowState layout");
static_assert(offsetof(EmbedWindowState, flags) == 4, "EmbedWindowState layout");
static_assert(offsetof(EmbedWindowState, r) == 8, "EmbedWindowState layout");
static_assert(offsetof(EmbedWindowState, user_ptr) == 24, "EmbedWindowState layout");
static_assert(offsetof(EmbedWindowState, extra_data) == 28, "EmbedWindowState layout");
static_assert(sizeof(EmbedWindowState) == 284, "EmbedWindowState layout");
#else  // 64-bit players: the pointers and the words widen, the rectangle stays four ints
static_assert(offsetof(EmbedWindowState, me) == 0, "EmbedWindowState layout");
static_assert(offsetof(EmbedWindowState, flags) == 8, "EmbedWindowState layout");
static_assert(offsetof(EmbedWindowState, r) == 12, "EmbedWindowState layout");
static_assert(offsetof(EmbedWindowState, user_ptr) == 32, "EmbedWindowState layout");
static_assert(offsetof(EmbedWindowState, extra_data) == 40, "EmbedWindowState layout");
static_assert(sizeof(EmbedWindowState) == 552, "EmbedWindowState layout");
#endif

// What WM_USER/505 with wParam 0 hands out; plug-ins call it with the C calling convention.
typedef HWND(__cdecl *EmbedWindowFunction)(EmbedWindowState *state);

// Frames are owned by parent; closing one asks the host's thread (this one) to stop the plug-in.
void embed_windows_init(HWND parent);
EmbedWindowFunction embed_window_function();
// The answer to WM_USER/505 (player_answers.h): for wparam 0 the function, else the frame made
// for the state record wparam points to.
intptr_t embed_window_answer(uintptr_t wparam);
// Creates the visible frame, sized by state->r, on the calling thread; stores it in state->me and
// returns it (null for a null state). Logs an "embed" event. Callable from any thread.
HWND embed_window_create(EmbedWindowState *state);
// The frame made last, while it exists; null otherwise.
HWND embed_window_last_alive();
// After Quit: destroys every frame still alive and logs "embed_frames_closed" when there were any.
void embed_windows_close_left();
