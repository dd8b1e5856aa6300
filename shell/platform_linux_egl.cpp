#include "shell/platform_linux_egl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMostDevices = 32;

struct DeviceCalls {
    PFNEGLQUERYDEVICESEXTPROC query_devices;
    PFNEGLQUERYDEVICESTRINGEXTPROC query_device_string;
    PFNEGLGETPLATFORMDISPLAYEXTPROC get_platform_display;
};

DeviceCalls device_calls() {
    return {reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT")),
            reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(eglGetProcAddress("eglQueryDeviceStringEXT")),
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"))};
}

bool software_device(const DeviceCalls &calls, EGLDeviceEXT device) {
    const char *extensions = calls.query_device_string(device, EGL_EXTENSIONS);
    return extensions && std::strstr(extensions, "EGL_MESA_device_software");
}

// The plug-in draws with desktop GL into a pbuffer the size of its window.
bool offers_desktop_gl(EGLDisplay display) {
    const EGLint attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLint count = 0;
    return eglChooseConfig(display, attributes, nullptr, 0, &count) && count > 0;
}

EGLDisplay device_display(const DeviceCalls &calls, EGLDeviceEXT device) {
    EGLDisplay display = calls.get_platform_display(EGL_PLATFORM_DEVICE_EXT, device, nullptr);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) return EGL_NO_DISPLAY;
    if (offers_desktop_gl(display)) return display;
    eglTerminate(display);
    return EGL_NO_DISPLAY;
}

int list_devices(const DeviceCalls &calls, EGLDeviceEXT devices[kMostDevices]) {
    EGLint count = 0;
    if (!calls.query_devices || !calls.query_device_string || !calls.get_platform_display ||
        !calls.query_devices(kMostDevices, devices, &count))
        return 0;
    return count;
}

bool open_software(EglDisplayOpened *out, std::string *error) {
    // The software rasterizer gives every extension the plug-in needs, on any machine.
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
    setenv("EGL_PLATFORM", "surfaceless", 0);
    auto get_platform_display =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    EGLDisplay display = get_platform_display
                             ? get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr)
                             : EGL_NO_DISPLAY;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) {
        *error = "Mesa's surfaceless EGL display is not available (is libegl-mesa0 installed?)";
        return false;
    }
    out->display = display;
    out->kind = "software";
    return true;
}

}  // namespace

bool egl_display_open(EglDisplayChoice choice, int device, EglDisplayOpened *out, std::string *error) {
    *out = EglDisplayOpened{};
    // llvmpipe compiles for the vector instructions it finds; frames compared exactly with recorded
    // ones must not depend on whether a machine also has AVX-512. Set before any driver loads.
    setenv("GALLIUM_OVERRIDE_CPU_CAPS", "avx", 0);
    if (choice == EglDisplayChoice::software) return open_software(out, error);

    const DeviceCalls calls = device_calls();
    EGLDeviceEXT devices[kMostDevices];
    const int count = list_devices(calls, devices);
    if (choice == EglDisplayChoice::device) {
        if (device < 0 || device >= count) {
            *error = "there is no EGL device " + std::to_string(device) + " (this machine has " +
                     std::to_string(count) + ")";
            return false;
        }
        EGLDisplay display = device_display(calls, devices[device]);
        if (display == EGL_NO_DISPLAY) {
            *error = "EGL device " + std::to_string(device) + " offers no desktop GL";
            return false;
        }
        out->display = display;
        out->kind = software_device(calls, devices[device]) ? "software" : "device";
        return true;
    }
    for (int i = 0; i < count; ++i) {
        if (software_device(calls, devices[i])) continue;
        EGLDisplay display = device_display(calls, devices[i]);
        if (display == EGL_NO_DISPLAY) continue;
        out->display = display;
        out->kind = "device";
        return true;
    }
    return open_software(out, error);
}

void egl_display_close(EglDisplayOpened *opened) {
    if (opened->display) eglTerminate(opened->display);
    *opened = EglDisplayOpened{};
}
