#include "host/module_loader.h"

#include "host/event_log.h"

typedef VisHeader *(HALCYON_CDECL *GetHeaderFunction)();

static void log_error(const char *what, const char *path, DWORD code) {
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
        log_error("bad_path", path, GetLastError());
        return false;
    }
    // Dependencies are looked up beside the DLL, as the player's plug-in folder would.
    HMODULE library = LoadLibraryExA(full, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) {
        log_error("load_failed", full, GetLastError());
        return false;
    }
    FARPROC export_address = GetProcAddress(library, "winampVisGetHeader");
    if (export_address == nullptr) {
        log_error("export_missing", full, GetLastError());
        FreeLibrary(library);
        return false;
    }
    GetHeaderFunction get_header = 
        reinterpret_cast<GetHeaderFunction>(reinterpret_cast<void (*)()>(export_address));
    VisHeader *header = get_header();
    if (header == nullptr || header->get_module == nullptr) {
        log_error("no_header", full, 0);
        FreeLibrary(library);
        return false;
    }
    VisModule *module = header->get_module(0);
    VisModule *again = header->get_module(0);
    VisModule *one = header->get_module(1);
    VisModule *minus_one = header->get_module(-1);

    JsonLine line = json_begin("loaded");
    json_string(line, "dll", full);
    json_int(line, "library", reinterpret_cast<intptr_t>(library));
    json_int(line, "header_version", header->version);
    json_string(line, "description", header->description);
    json_int(line, "module0", reinterpret_cast<intptr_t>(module));
    json_bool(line, "module0_same", module == again);
    json_bool(line, "module1_null", one == nullptr);
    json_bool(line, "module_minus1_null", minus_one == nullptr);
    if (module != nullptr) {
        json_string(line, "module_description", module->description);
        json_int(line, "latency_ms", module->latency_ms);
        json_int(line, "delay_ms", module->delay_ms);
        json_int(line, "spectrum_channels", module->spectrum_channels);
        json_int(line, "waveform_channels", module->waveform_channels);
        json_bool(line, "user_data_null", module->user_data == nullptr);
    }
    event_write(line);

    if (module == nullptr) {
        log_error("no_module", full, 0);
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
