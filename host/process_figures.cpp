// What the process holds after the plug-in stopped, as figures that grow when a plug-in leaks:
// working_set, peak_working_set, gdi_objects and windows (the thread's windows, with their
// children).
#include "player/player_platform.h"

#include <windows.h>

#include <psapi.h>

#include <cstdint>

namespace {

// Wine answers GetGuiResources with ERROR_CALL_NOT_IMPLEMENTED. Its GDI keeps every object in
// a per-process table that the PEB points to, as Windows does, with 24-byte entries whose byte
// 14 is the object's type (0 for a free entry); counting those gives the same figure. The PEB is
// found through the thread's TEB; its table pointer lies where each architecture's PEB keeps it.
long long wine_gdi_object_count() {
    // The TEB's own PEB pointer, read directly: GCC takes the intrinsics' fixed addresses for
    // out-of-bounds array reads and warns.
    const uint8_t *peb = nullptr;
#if defined(_WIN64)
    asm("movq %%gs:0x60, %0" : "=r"(peb));
    const size_t kGdiSharedHandleTable = 0xF8;
#else
    asm("movl %%fs:0x30, %0" : "=r"(peb));
    const size_t kGdiSharedHandleTable = 0x94;
#endif
    const uint8_t *table = *reinterpret_cast<const uint8_t *const *>(peb + kGdiSharedHandleTable);
    MEMORY_BASIC_INFORMATION region{};
    if (!table || VirtualQuery(table, &region, sizeof region) == 0 || region.State != MEM_COMMIT) return -1;
    const size_t readable = static_cast<const uint8_t *>(region.BaseAddress) + region.RegionSize - table;
    const size_t kEntrySize = 24, kTypeOffset = 14;
    long long count = 0;
    for (size_t entry = 0; entry + kEntrySize <= readable; entry += kEntrySize) count += table[entry + kTypeOffset] != 0;
    return count;
}

long long gdi_object_count() {
    SetLastError(0);
    const DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (count == 0 && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) return wine_gdi_object_count();
    return count;
}

BOOL CALLBACK count_child(HWND, LPARAM count) {
    ++*reinterpret_cast<long long *>(count);
    return TRUE;
}

BOOL CALLBACK count_window(HWND window, LPARAM count) {
    ++*reinterpret_cast<long long *>(count);
    EnumChildWindows(window, count_child, count);
    return TRUE;
}

}  // namespace

void json_process_figures(JsonLine &line) {
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    long long windows = 0;
    EnumThreadWindows(GetCurrentThreadId(), count_window, reinterpret_cast<LPARAM>(&windows));
    json_int(line, "working_set", static_cast<long long>(memory.WorkingSetSize));
    json_int(line, "peak_working_set", static_cast<long long>(memory.PeakWorkingSetSize));
    json_int(line, "gdi_objects", gdi_object_count());
    json_int(line, "windows", windows);
}
