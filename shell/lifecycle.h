// The four operations the host calls through the module record.
#pragma once

#include "shell/vis_module.h"

void HALCYON_CDECL plugin_config(VisModule *module);
int HALCYON_CDECL plugin_init(VisModule *module);
int HALCYON_CDECL plugin_render(VisModule *module);
void HALCYON_CDECL plugin_quit(VisModule *module);
