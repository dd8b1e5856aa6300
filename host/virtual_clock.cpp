#include "host/virtual_clock.h"

#include "host/import_patch.h"

static DWORD WINAPI virtual_tick_count() { return virtual_clock_now(); }

int virtual_clock_install(HMODULE library, const VirtualClockSetting &setting) {
    virtual_clock_use(setting);
    virtual_clock_set_frame(0);
    static const char *const kSystem[] = {"kernel32.dll", "kernelbase.dll", "api-ms-win-core-sysinfo-l1-1-0.dll",
                                          "api-ms-win-core-sysinfo-l1-2-0.dll", nullptr};
    static const char *const kMultimedia[] = {"winmm.dll", "winmmbase.dll", nullptr};
    static const ImportTarget kTickFunctions[] = {{"GetTickCount", kSystem}, {"timeGetTime", kMultimedia}};
    return import_patch(library, kTickFunctions, 2, reinterpret_cast<void *>(&virtual_tick_count));
}
