#include "settings/options_dialog.h"

void run_options_dialog(InstanceHandle, WindowHandle) {}
