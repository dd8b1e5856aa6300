// Loads a visualization DLL by path and finds module 0 the way the player does.
#pragma once

#include <windows.h>

#include "shell/vis_module.h"

struct LoadedModule {
    HMODULE library = nullptr;
    VisHeader *header = nullptr;
    VisModule *module = nullptr;
};

// Logs a "loaded" event, or an "error" event and returns false.
bool module_load(const char *path, LoadedModule *loaded);
void module_unload(LoadedModule *loaded);
