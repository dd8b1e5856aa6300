#include "host/import_patch.h"

#include <cstdint>
#include <cstring>
#include <vector>

static bool rewrite_slot(IMAGE_THUNK_DATA *slot, void *replacement) {
    DWORD old_protection = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old_protection)) return false;
    slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
    VirtualProtect(slot, sizeof *slot, old_protection, &old_protection);
    FlushInstructionCache(GetCurrentProcess(), slot, sizeof *slot);
    return true;
}

int import_patch(HMODULE library, const ImportTarget *targets, int target_count, void *replacement) {
    // The addresses an import of the targets resolves to, for slots bound without names.
    std::vector<ULONG_PTR> addresses;
    for (int t = 0; t < target_count; ++t) {
        for (const char *const *module = targets[t].modules; *module != nullptr; ++module) {
            HMODULE handle = GetModuleHandleA(*module);
            FARPROC address = handle != nullptr ? GetProcAddress(handle, targets[t].function) : nullptr;
            if (address != nullptr) addresses.push_back(reinterpret_cast<ULONG_PTR>(address));
        }
    }
    // The loader has checked these headers already; the library is mapped as an image.
    auto *base = reinterpret_cast<uint8_t *>(library);
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0 || directory.Size == 0) return 0;
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
                const char *name = reinterpret_cast<const char *>(by_name->Name);
                for (int t = 0; t < target_count; ++t) match = match || std::strcmp(name, targets[t].function) == 0;
            }
            for (ULONG_PTR address : addresses) match = match || slot->u1.Function == address;
            if (match && rewrite_slot(slot, replacement)) ++rewritten;
            if (names != nullptr) ++names;
        }
    }
    return rewritten;
}
