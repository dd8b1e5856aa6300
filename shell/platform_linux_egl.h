// EGL displays without a window system, for drawing offscreen on Linux: a graphics card's EGL
// device where there is one, else Mesa's llvmpipe on the surfaceless platform. The Linux platform
// seam draws the native player's frames on one; the native GL tests and tools draw on llvmpipe.
#pragma once

#include <string>

enum class EglDisplayChoice {
    best,      // the first EGL device with a hardware driver that offers desktop GL, else software
    software,  // llvmpipe, whatever the machine has
    device,    // one EGL device by its number in the driver's list (software ones included)
};

struct EglDisplayOpened {
    void *display = nullptr;  // an initialized EGLDisplay
    const char *kind = "";    // "device" (a card's driver) or "software" (llvmpipe)
};

// False with a reason in *error when no such display can be initialized.
bool egl_display_open(EglDisplayChoice choice, int device, EglDisplayOpened *out, std::string *error);
void egl_display_close(EglDisplayOpened *opened);
