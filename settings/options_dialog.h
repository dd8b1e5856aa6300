// The modal options dialog (resource 102) that the host's configure command opens.
#pragma once

#include "shell/platform.h"

void run_options_dialog(InstanceHandle library_instance, WindowHandle owner);
