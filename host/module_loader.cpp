#include "host/module_loader.h"

#include "player/event_log.h"
#include "player/run_steps.h"

typedef VisHeader *(HALCYON_CDECL *GetHeaderFunction)();

static void log_load_error(const char *what, const char *path, DWORD code) {
    JsonLine line = json_begin("error");
    json_string(line, "what", what);
    json_string(line, "dll", path);
    json_int(line, "code", static_cast<long long>(code));
    event_write(line);
}

bool module_load(const char *path, LoadedModule *loaded) {
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) {
        log_load_error("bad_path", path, GetLastError());
        return false;
    }
    // Dependencies are looked up beside the DLL, as the player's plug-in folder would.
    HMODULE library = LoadLibraryExA(full, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) {
        log_load_error("load_failed", full, GetLastError());
        return false;
    }
    FARPROC export_address = GetProcAddress(library, "winampVisGetHeader");
    if (export_address == nullptr) {
        log_load_error("export_missing", full, GetLastError());
        FreeLibrary(library);
        return false;
    }
    GetHeaderFunction get_header = 
        reinterpret_cast<GetHeaderFunction>(reinterpret_cast<void (*)()>(export_address));
    VisHeader *header = get_header();
    if (header == nullptr || header->get_module == nullptr) {
        log_load_error("no_header", full, 0);
        FreeLibrary(library);
        return false;
    }
    JsonLine line = json_begin("loaded");
    json_string(line, "dll", full);
    json_int(line, "library", reinterpret_cast<intptr_t>(library));
    VisModule *module = log_loaded(header, line);
    if (module == nullptr) {
        log_load_error("no_module", full, 0);
        FreeLibrary(library);
        return false;
    }
    loaded->library = library;
    loaded->header = header;
    loaded->module = module;
    return true;
}

void module_unload(LoadedModule *loaded) {
    if (loaded->library != nullptr) FreeLibrary(loaded->library);
    *loaded = LoadedModule();
}
