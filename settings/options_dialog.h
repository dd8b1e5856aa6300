// The modal options dialog (resource 102) that the host's configure command opens: two edit fields,
// seven check boxes and five sliders over the live options; OK stores them and writes the file.
#pragma once

#include "shell/platform.h"

constexpr int kOptionsDialogResource = 102;  // the template in the library's resources
// Control ids of the dialog template.
constexpr int kWidthEdit = 1001, kHeightEdit = 1002;
constexpr int kFullscreenCheck = 1003, kLightPanningCheck = 1004, kDetailedHeightCheck = 1005,
              kAltSphereCheck = 1008, kFloatCheck = 1011, kRotateCheck = 1012, kMipmapsCheck = 1014;
constexpr int kLightBrightnessSlider = 1006, kRadialBrightnessSlider = 1007, kSphereSizeSlider = 1009,
              kSphereCountSlider = 1010, kDelaySlider = 1013;

// Runs the dialog until OK, Cancel or the close box ends it.
void run_options_dialog(InstanceHandle library_instance, WindowHandle owner);
