// The host finds the plug-in through one export; the header hands out module 0 only.
#pragma once

#include "shell/vis_module.h"

VisModule *HALCYON_CDECL get_module(int index);

extern "C" VisHeader *HALCYON_CDECL winampVisGetHeader();
