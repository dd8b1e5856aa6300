#include "host/message_pump.h"

#include <windows.h>

#include <cmath>

#include "host/user_stop.h"
#include "host/window_capture.h"
#include "player/run_steps.h"

double seconds_now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return double(count.QuadPart) / double(frequency.QuadPart);
}

void sleep_seconds(double seconds) {
    if (seconds > 0) Sleep(static_cast<DWORD>(std::llround(seconds * 1000)));
}

bool pump_messages(int after_frames) {
    // Once a frame is enough to find the plug-in's window on a thread of its own.
    static int watched_at = -1;
    if (after_frames != watched_at) {
        watched_at = after_frames;
        user_stop_watch(window_of_plugin());
    }
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            log_quit_message(static_cast<long long>(message.wParam), after_frames, user_stop_take());
            return true;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return false;
}

bool pump_messages_until(double deadline, int after_frames) {
    for (;;) {
        if (pump_messages(after_frames)) return true;
        const double left = deadline - seconds_now();
        if (left <= 0) return false;
        // Wakes for every message, so the windows of this thread paint while the time passes.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left * 1000) + 1, QS_ALLINPUT);
    }
}
