#include "host/virtual_clock.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

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

static bool is_tick_function(const char *name) {
    return std::strcmp(name, "GetTickCount") == 0 || std::strcmp(name, "timeGetTime") == 0;
}

// The addresses an import of the tick functions resolves to, for slots bound without names.
static void real_tick_addresses(ULONG_PTR out[6]) {
    const char *modules[] = {"kernel32.dll", "kernelbase.dll", "winmm.dll"};
    const char *functions[] = {"GetTickCount", "timeGetTime"};
    int n = 0;
    for (const char *module : modules) {
        HMODULE handle = GetModuleHandleA(module);
        if (handle == nullptr) continue;
        for (const char *name : functions) {
            FARPROC address = GetProcAddress(handle, name);
            if (address != nullptr) out[n++] = reinterpret_cast<ULONG_PTR>(address);
        }
    }
}

static bool rewrite_slot(IMAGE_THUNK_DATA *slot) {
    DWORD old_protection = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old_protection)) return false;
    slot->u1.Function = reinterpret_cast<ULONG_PTR>(&virtual_tick_count);
    VirtualProtect(slot, sizeof *slot, old_protection, &old_protection);
    FlushInstructionCache(GetCurrentProcess(), slot, sizeof *slot);
    return true;
}

int virtual_clock_install(HMODULE library, const VirtualClockSetting &setting) {
    g_setting = setting;
    virtual_clock_set_frame(0);
    // The loader has checked these headers already; the library is mapped as an image.
    auto *base = reinterpret_cast<uint8_t *>(library);
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0 || directory.Size == 0) return 0;
    ULONG_PTR real[6] = {};
    real_tick_addresses(real);
    int rewritten = 0;
    for (auto *import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + directory.VirtualAddress);
         import->Name != 0; ++import) {
        auto *slot = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->FirstThunk);
        // Names come from the lookup table; a library bound without one is matched by address.
        auto *names = import->OriginalFirstThunk != 0
                          ? reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->OriginalFirstThunk)
                          : nullptr;
        for (; slot->u1.Function != 0; ++slot) {
            bool match = false;
            if (names != nullptr && !IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                auto *by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
                match = is_tick_function(reinterpret_cast<const char *>(by_name->Name));
            }
            for (ULONG_PTR address : real) match = match || (address != 0 && slot->u1.Function == address);
            if (match && rewrite_slot(slot)) ++rewritten;
            if (names != nullptr) ++names;
        }
    }
    return rewritten;
}
