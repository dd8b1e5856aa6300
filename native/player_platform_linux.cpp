// The native program's side of player/player_platform.h (the registered window's checks are in
// player_window.cpp).
#include "player/player_platform.h"

#include <sys/stat.h>
#include <time.h>

#include <cmath>
#include <cstdio>

#include "native/player_window.h"
#include "player/run_steps.h"
#include "player/run_stop.h"
#include "shell/platform_linux.h"

double seconds_now() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void sleep_seconds(double seconds) {
    if (seconds <= 0) return;
    timespec span = {time_t(seconds), long((seconds - std::floor(seconds)) * 1e9)};
    // A stop signal cuts the sleep short; others resume it.
    while (nanosleep(&span, &span) != 0 && run_stop_signal() == 0) {
    }
}

// The plug-in's quit message, as the host's message loop reports it.
bool pump_messages(int after_frames) {
    int exit_code = 0;
    if (!platform_linux_pump(&exit_code)) return false;
    log_quit_message(exit_code, after_frames, platform_linux_user_stop());
    return true;
}

bool file_exists(const char *path) {
    struct stat info;
    return stat(path, &info) == 0;
}

void json_process_figures(JsonLine &line) {
    long long resident_kb = 0, peak_kb = 0;
    if (FILE *status = std::fopen("/proc/self/status", "r")) {
        char text[256];
        while (std::fgets(text, sizeof text, status)) {
            std::sscanf(text, "VmRSS: %lld", &resident_kb);
            std::sscanf(text, "VmHWM: %lld", &peak_kb);
        }
        std::fclose(status);
    }
    json_int(line, "working_set", resident_kb * 1024);
    json_int(line, "peak_working_set", peak_kb * 1024);
    json_int(line, "windows", platform_linux_window_count());
}

intptr_t post_to_render_window(uint32_t message, uintptr_t wparam, intptr_t lparam, bool *posted) {
    WindowHandle target = player_registered_window();
    *posted = target && platform_linux_post(target, message, wparam, lparam);
    return reinterpret_cast<intptr_t>(target);
}
