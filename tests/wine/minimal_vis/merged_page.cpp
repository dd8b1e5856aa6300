// merged_vis.dll: code on the pages of the import table, as in a plug-in whose sections a packer
// merged. The link puts the section .iat_page at the start of a page of .idata, just before the
// import addresses, and DllMain leaves .idata read-and-execute, as a packer's stub leaves what it
// unpacked. A thread started in DllMain runs code there while the host patches the imports: a page
// that loses its execute right for a moment ends the run with a crash. For a sure answer as well,
// DllMain puts a spy on the host's own import of VirtualProtect, which notes every protection the
// host asks for on this DLL's pages.
#include "minimal_vis.h"

#include <cstring>

static volatile LONG g_spins = 0;
static volatile LONG g_stop_spinning = 0;
static HANDLE g_spinner = nullptr;

extern "C" __attribute__((section(".iat_page"), noinline)) DWORD WINAPI spin_on_import_page(void *) {
    while (g_stop_spinning == 0) InterlockedIncrement(&g_spins);
    return 0;
}

// What the host asked VirtualProtect for on this DLL's pages, and what they had before.
struct ProtectRequest {
    DWORD requested, previous;
};
static ProtectRequest g_requests[64];
static volatile LONG g_request_count = 0;
static void **g_host_slot = nullptr;
static void *g_host_function = nullptr;

static bool in_this_dll(const void *address) {
    MEMORY_BASIC_INFORMATION region = {};
    return VirtualQuery(address, &region, sizeof region) != 0 && region.AllocationBase == g_instance;
}

static BOOL WINAPI spy_protect(void *address, SIZE_T size, DWORD protection, DWORD *previous) {
    const BOOL done = VirtualProtect(address, size, protection, previous);
    if (in_this_dll(address)) {
        const LONG at = InterlockedIncrement(&g_request_count) - 1;
        if (at < LONG(sizeof g_requests / sizeof g_requests[0])) g_requests[at] = {protection, done ? *previous : 0};
    }
    return done;
}

static IMAGE_NT_HEADERS *headers_of(HMODULE module) {
    auto *base = reinterpret_cast<uint8_t *>(module);
    return reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
}

// A module's import slot of function from dll, found by name; null when it has none.
static void **import_slot(HMODULE module, const char *dll, const char *function) {
    auto *base = reinterpret_cast<uint8_t *>(module);
    const IMAGE_DATA_DIRECTORY &imports =
        headers_of(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto *entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress); entry->Name != 0;
         ++entry) {
        if (lstrcmpiA(reinterpret_cast<const char *>(base + entry->Name), dll) != 0 || entry->OriginalFirstThunk == 0)
            continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->OriginalFirstThunk);
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto *by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char *>(by_name->Name), function) == 0)
                return reinterpret_cast<void **>(&slots->u1.Function);
        }
    }
    return nullptr;
}

static void write_slot(void **slot, void *value) {
    DWORD previous = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous)) return;  // the host's page holds no code
    *slot = value;
    VirtualProtect(slot, sizeof *slot, previous, &previous);
}

static void leave_imports_read_and_execute() {
    IMAGE_NT_HEADERS *nt = headers_of(g_instance);
    IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const char *name = reinterpret_cast<const char *>(section->Name);
        if (std::strncmp(name, ".idata", IMAGE_SIZEOF_SHORT_NAME) != 0) continue;
        DWORD previous = 0;
        VirtualProtect(reinterpret_cast<uint8_t *>(g_instance) + section->VirtualAddress, section->Misc.VirtualSize,
                       PAGE_EXECUTE_READ, &previous);
    }
}

void merged_attach() {
    leave_imports_read_and_execute();
    g_host_slot = import_slot(GetModuleHandleA(nullptr), "kernel32.dll", "VirtualProtect");
    if (g_host_slot != nullptr) {
        g_host_function = *g_host_slot;
        write_slot(g_host_slot, reinterpret_cast<void *>(&spy_protect));
    }
    g_spinner = CreateThread(nullptr, 0, spin_on_import_page, nullptr, 0, nullptr);
}

// The thread starts once DllMain has returned; the host patches after it has the header.
void merged_wait_spinning() {
    for (int waited = 0; g_spins == 0 && waited < 5000; ++waited) Sleep(1);
}

static uintptr_t page_of(const void *address) { return reinterpret_cast<uintptr_t>(address) & ~uintptr_t(4095); }

void merged_report_and_stop() {
    if (g_spinner == nullptr) return;
    void **clock_slot = import_slot(g_instance, "kernel32.dll", "GetTickCount");
    MEMORY_BASIC_INFORMATION page = {};
    VirtualQuery(clock_slot, &page, sizeof page);
    log_line("merged same_page=%d spinning=%d spins=%ld protection=0x%lX",
             clock_slot != nullptr && page_of(clock_slot) == page_of(reinterpret_cast<void *>(&spin_on_import_page)),
             WaitForSingleObject(g_spinner, 0) == WAIT_TIMEOUT ? 1 : 0, static_cast<long>(g_spins),
             static_cast<unsigned long>(page.Protect));
    const LONG count = g_request_count;
    for (LONG i = 0; i < count && i < LONG(sizeof g_requests / sizeof g_requests[0]); ++i)
        log_line("host_protect requested=0x%lX previous=0x%lX", static_cast<unsigned long>(g_requests[i].requested),
                 static_cast<unsigned long>(g_requests[i].previous));
    g_stop_spinning = 1;
    WaitForSingleObject(g_spinner, 5000);
    CloseHandle(g_spinner);
    g_spinner = nullptr;
}

void merged_detach() {
    if (g_host_slot != nullptr) write_slot(g_host_slot, g_host_function);
}
