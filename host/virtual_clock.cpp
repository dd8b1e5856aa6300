#include "host/virtual_clock.h"

#include "host/import_patch.h"

static VirtualClockSetting g_setting;
static volatile uint32_t g_now = kVirtualClockDefaultStart;

static DWORD WINAPI virtual_tick_count() { return g_now; }

void virtual_clock_set_frame(long long frame) { g_now = virtual_clock_tick(g_setting, frame); }

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
