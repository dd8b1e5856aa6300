#include "host/virtual_clock.h"

#include <cmath>
#include <cstdlib>

#include "host/import_patch.h"

static VirtualClockSetting g_setting;
static volatile uint32_t g_now = kVirtualClockDefaultStart;

static DWORD WINAPI virtual_tick_count() { return g_now; }

bool virtual_clock_parse_step(const char *text, double *step_ms) {
    char *end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text) return false;
    if (*end == '/') {
        const char *denominator = end + 1;
        double divisor = std::strtod(denominator, &end);
        if (end == denominator || !(divisor > 0)) return false;
        value /= divisor;
    }
    if (*end != 0 || !(value > 0) || value > 600000) return false;
    *step_ms = value;
    return true;
}

void virtual_clock_set_frame(long long frame) {
    const double offset = std::floor(double(frame) * g_setting.step_ms + 0.5);
    g_now = g_setting.start + static_cast<uint32_t>(static_cast<uint64_t>(std::fmod(offset, 4294967296.0)));
}

uint32_t virtual_clock_now() { return g_now; }

int virtual_clock_install(HMODULE library, const VirtualClockSetting &setting) {
    g_setting = setting;
    virtual_clock_set_frame(0);
    static const char *const kSystem[] = {"kernel32.dll", "kernelbase.dll", "api-ms-win-core-sysinfo-l1-1-0.dll",
                                          "api-ms-win-core-sysinfo-l1-2-0.dll", nullptr};
    static const char *const kMultimedia[] = {"winmm.dll", "winmmbase.dll", nullptr};
    static const ImportTarget kTickFunctions[] = {{"GetTickCount", kSystem}, {"timeGetTime", kMultimedia}};
    return import_patch(library, kTickFunctions, 2, reinterpret_cast<void *>(&virtual_tick_count));
}
