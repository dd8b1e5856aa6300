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
    static const char *const kModules[] = {"kernel32.dll", "kernelbase.dll", "winmm.dll", nullptr};
    static const ImportTarget kTickFunctions[] = {{"GetTickCount", kModules}, {"timeGetTime", kModules}};
    return import_patch(library, kTickFunctions, 2, reinterpret_cast<void *>(&virtual_tick_count));
}
