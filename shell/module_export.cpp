#include "shell/module_export.h"

#include "shell/lifecycle.h"
#include "shell/plugin_name.h"

namespace {

VisModule visualization_module = {
    kPluginName,
    nullptr,  // parent window, filled by the host
    nullptr,  // library instance, filled by the host
    0,        // sample rate
    0,        // channel count
    25,       // latency in ms
    25,       // delay in ms; Init sets it from the delay option
    2,        // spectrum channels
    0,        // waveform channels
    {},
    {},
    plugin_config,
    plugin_init,
    plugin_render,
    plugin_quit,
    nullptr,
};

VisHeader visualization_header = {kVisHeaderVersion, kPluginName, get_module};

}  // namespace

VisModule *HALCYON_CDECL get_module(int index) { return index == 0 ? &visualization_module : nullptr; }

extern "C" VisHeader *HALCYON_CDECL winampVisGetHeader() { return &visualization_header; }
