#include "host/import_patch.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// The targets patched so far, for the library's GetProcAddress lookups. Filled on the host's
// thread while the plug-in is loaded; a full table only leaves lookups of later targets alone.
struct Patched {
    const ImportTarget *target;
    void *replacement;
};
Patched g_patched[16];
volatile LONG g_patched_count = 0;

const char *const kLoaderModules[] = {"kernel32.dll", "kernelbase.dll", "api-ms-win-core-libraryloader-l1-1-0.dll",
                                      "api-ms-win-core-libraryloader-l1-2-0.dll", nullptr};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The loader compares DLL names without regard to case and takes a name without an extension
// for one with ".dll".
bool module_matches(const char *imported, const char *expected) {
    size_t i = 0;
    for (; imported[i] != 0 && expected[i] != 0; ++i)
        if (lower(imported[i]) != lower(expected[i])) return false;
    if (imported[i] == 0 && expected[i] == 0) return true;
    return imported[i] == 0 && std::strchr(imported, '.') == nullptr && lower(expected[i]) == '.' &&
           lower(expected[i + 1]) == 'd' && lower(expected[i + 2]) == 'l' && lower(expected[i + 3]) == 'l' &&
           expected[i + 4] == 0;
}

bool is_from(const ImportTarget &target, const char *imported_module) {
    for (const char *const *module = target.modules; *module != nullptr; ++module)
        if (module_matches(imported_module, *module)) return true;
    return false;
}

// Where the target's function lies in its loaded modules (as the loader would bind it).
void add_addresses(const ImportTarget &target, std::vector<ULONG_PTR> *addresses) {
    for (const char *const *module = target.modules; *module != nullptr; ++module) {
        HMODULE handle = GetModuleHandleA(*module);
        FARPROC address = handle != nullptr ? GetProcAddress(handle, target.function) : nullptr;
        if (address != nullptr) addresses->push_back(reinterpret_cast<ULONG_PTR>(address));
    }
}

// The protection that lets a page be written and keeps what it allowed, execution above all: in a
// DLL with merged sections (packed plug-ins) the import table shares its page with code, which a
// thread the plug-in started in DllMain may be running. The page's own when it is writable already,
// 0 when it cannot be read.
DWORD writable_twin(DWORD protection) {
    const DWORD modifiers = protection & ~DWORD(0xFF);  // PAGE_GUARD, PAGE_NOCACHE, ...
    switch (protection & 0xFF) {
        case PAGE_READONLY: return PAGE_READWRITE | modifiers;
        case PAGE_EXECUTE:
        case PAGE_EXECUTE_READ: return PAGE_EXECUTE_READWRITE | modifiers;
        case PAGE_READWRITE:
        case PAGE_WRITECOPY:
        case PAGE_EXECUTE_READWRITE:
        case PAGE_EXECUTE_WRITECOPY: return protection;
        default: return 0;
    }
}

bool rewrite_slot(IMAGE_THUNK_DATA *slot, void *replacement) {
    MEMORY_BASIC_INFORMATION page = {};
    if (VirtualQuery(slot, &page, sizeof page) == 0) return false;
    const DWORD writable = writable_twin(page.Protect);
    const bool change = writable != page.Protect;
    DWORD old_protection = 0;
    if (writable == 0 || (change && !VirtualProtect(slot, sizeof *slot, writable, &old_protection))) return false;
    slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
    if (change) VirtualProtect(slot, sizeof *slot, old_protection, &old_protection);
    FlushInstructionCache(GetCurrentProcess(), slot, sizeof *slot);
    return true;
}

int rewrite_imports(HMODULE library, const ImportTarget *targets, int target_count, void *replacement) {
    // The loader has checked these headers already; the library is mapped as an image of the host's
    // own kind, so the native thunk width and ordinal flag are the image's (checked all the same).
    auto *base = reinterpret_cast<uint8_t *>(library);
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    if (nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC ||
        nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT)
        return 0;
    const IMAGE_DATA_DIRECTORY &directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0 || directory.Size == 0) return 0;
    std::vector<ULONG_PTR> addresses;  // for slots without a name to go by
    for (int t = 0; t < target_count; ++t) add_addresses(targets[t], &addresses);
    int rewritten = 0;
    for (auto *import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + directory.VirtualAddress);
         import->Name != 0; ++import) {
        const char *module = reinterpret_cast<const char *>(base + import->Name);
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
                for (int t = 0; t < target_count && !match; ++t)
                    match = std::strcmp(name, targets[t].function) == 0 && is_from(targets[t], module);
            }
            for (ULONG_PTR address : addresses) match = match || slot->u1.Function == address;
            if (match && rewrite_slot(slot, replacement)) ++rewritten;
            if (names != nullptr) ++names;
        }
    }
    return rewritten;
}

// The library's GetProcAddress: what resolves to a patched function answers its replacement.
FARPROC WINAPI lookup_patched(HMODULE module, LPCSTR name) {
    FARPROC found = GetProcAddress(module, name);
    if (found == nullptr) return found;
    const LONG count = g_patched_count;
    for (LONG i = 0; i < count; ++i) {
        std::vector<ULONG_PTR> addresses;
        add_addresses(*g_patched[i].target, &addresses);
        for (ULONG_PTR address : addresses)
            if (reinterpret_cast<ULONG_PTR>(found) == address)
                return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(g_patched[i].replacement));
    }
    return found;
}

void remember(const ImportTarget *target, void *replacement) {
    for (LONG i = 0; i < g_patched_count; ++i)
        if (g_patched[i].target == target) return;
    if (g_patched_count >= LONG(sizeof g_patched / sizeof g_patched[0])) return;
    g_patched[g_patched_count] = {target, replacement};
    InterlockedIncrement(&g_patched_count);  // published after the entry
}

}  // namespace

int import_patch(HMODULE library, const ImportTarget *targets, int target_count, void *replacement) {
    // A lookup of GetProcAddress itself answers the routing one, so it cannot be got around that way.
    static const ImportTarget kLookup = {"GetProcAddress", kLoaderModules};
    remember(&kLookup, reinterpret_cast<void *>(&lookup_patched));
    for (int t = 0; t < target_count; ++t) remember(&targets[t], replacement);
    rewrite_imports(library, &kLookup, 1, reinterpret_cast<void *>(&lookup_patched));
    return rewrite_imports(library, targets, target_count, replacement);
}
