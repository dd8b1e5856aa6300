// Offscreen surfaces: an EGL pbuffer the size of each window, on the display that
// platform_linux_egl.h opens (a graphics card's, else llvmpipe), no window system needed.
#include <EGL/egl.h>

#include <string>

#include "shell/platform_linux.h"
#include "shell/platform_linux_surface.h"

namespace {

EglDisplayOpened g_egl;

const char *egl_error_name(EGLint error) {
    switch (error) {
    case EGL_CONTEXT_LOST: return "EGL_CONTEXT_LOST";
    case EGL_BAD_ALLOC: return "EGL_BAD_ALLOC";
    case EGL_BAD_SURFACE: return "EGL_BAD_SURFACE";
    case EGL_BAD_CONTEXT: return "EGL_BAD_CONTEXT";
    case EGL_BAD_MATCH: return "EGL_BAD_MATCH";
    case EGL_BAD_DISPLAY: return "EGL_BAD_DISPLAY";
    case EGL_NOT_INITIALIZED: return "EGL_NOT_INITIALIZED";
    default: return "an EGL error";
    }
}

// A failed call's error, kept for its line; a lost context ends the run rather than one call.
void note_failure(const char *call) {
    const EGLint error = eglGetError();
    gl_surface_set_error(std::string(call) + " failed: " + egl_error_name(error));
    if (error == EGL_CONTEXT_LOST) gl_surface_set_lost(true);
}

EGLSurface make_pbuffer(const GlSurface &surface) {
    const EGLint attributes[] = {EGL_WIDTH, surface.width > 0 ? surface.width : 1, EGL_HEIGHT,
                                 surface.height > 0 ? surface.height : 1, EGL_NONE};
    return eglCreatePbufferSurface(g_egl.display, surface.config, attributes);
}

bool open(const LinuxPlatformSetup &setup, std::string *error) {
    if (g_egl.display) return true;  // kept for later starts of the plug-in
    return egl_display_open(setup.gl, setup.gl_device, &g_egl, error);
}

void close() { egl_display_close(&g_egl); }

int choose_format(const PixelFormatDescriptor &request) {
    const EGLint attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                 EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8,
                                 EGL_ALPHA_SIZE, request.alpha_bits, EGL_DEPTH_SIZE, request.depth_bits,
                                 EGL_STENCIL_SIZE, request.stencil_bits, EGL_NONE};
    EGLConfig configs[64];
    EGLint count = 0;
    if (!eglChooseConfig(g_egl.display, attributes, configs, 64, &count) || count < 1) return 0;
    // EGL lists deeper colours first; the plug-in's frames are 8 bits a channel, as on Windows,
    // where 32 colour bits come with 8 of alpha: the frame copies keep it, and the radial blur
    // weighs its layers by it. Else any alpha.
    const EGLint alpha_wanted = request.color_bits >= 32 ? 8 : request.alpha_bits;
    EGLConfig chosen = configs[0];
    int best = 0;  // 2: 8 bits a channel and the alpha wanted; 1: 8 bits a channel
    for (EGLint i = 0; i < count && best < 2; ++i) {
        EGLint red = 0, green = 0, blue = 0, alpha = 0;
        eglGetConfigAttrib(g_egl.display, configs[i], EGL_RED_SIZE, &red);
        eglGetConfigAttrib(g_egl.display, configs[i], EGL_GREEN_SIZE, &green);
        eglGetConfigAttrib(g_egl.display, configs[i], EGL_BLUE_SIZE, &blue);
        eglGetConfigAttrib(g_egl.display, configs[i], EGL_ALPHA_SIZE, &alpha);
        const int score = red == 8 && green == 8 && blue == 8 ? (alpha == alpha_wanted ? 2 : 1) : 0;
        if (score > best) {
            chosen = configs[i];
            best = score;
        }
    }
    EGLint id = 0;
    eglGetConfigAttrib(g_egl.display, chosen, EGL_CONFIG_ID, &id);
    return id;
}

bool set_format(GlSurface *surface, int format) {
    const EGLint attributes[] = {EGL_CONFIG_ID, format, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(g_egl.display, attributes, &config, 1, &count) || count != 1) return false;
    surface->config = config;
    return true;
}

void *make_context(GlSurface *surface) {
    if (!eglBindAPI(EGL_OPENGL_API)) return nullptr;
    // No attributes: a compatibility context, as WGL gives the plug-in.
    EGLContext context = eglCreateContext(g_egl.display, surface->config, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT) {
        note_failure("eglCreateContext");
        return nullptr;
    }
    return context;
}

bool make_current(GlSurface *surface, void *context) {
    if (!context) {
        return !g_egl.display || eglMakeCurrent(g_egl.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    if (!surface->pbuffer) surface->pbuffer = make_pbuffer(*surface);
    if (!surface->pbuffer) {
        note_failure("eglCreatePbufferSurface");
        return false;
    }
    if (!eglMakeCurrent(g_egl.display, surface->pbuffer, surface->pbuffer, context)) {
        note_failure("eglMakeCurrent");
        return false;
    }
    return true;
}

void delete_context(void *context) { eglDestroyContext(g_egl.display, context); }

// A pbuffer has one buffer: the frame stays where it was drawn. EGL still says here when the
// context is lost; any other complaint about swapping a pbuffer changes nothing.
bool swap(GlSurface *surface) {
    if (!surface->pbuffer || eglSwapBuffers(g_egl.display, surface->pbuffer)) return true;
    const EGLint error = eglGetError();
    if (error != EGL_CONTEXT_LOST) return true;
    gl_surface_set_error(std::string("eglSwapBuffers failed: ") + egl_error_name(error));
    gl_surface_set_lost(true);
    return false;
}

void *entry_point(const char *name) { return reinterpret_cast<void *>(eglGetProcAddress(name)); }

bool resize(GlSurface *surface, int32_t width, int32_t height, void *current_context) {
    surface->width = width;
    surface->height = height;
    if (!surface->pbuffer) return true;
    // The old pbuffer is the old size: the drawing moves to a new one, as a window's buffers grow.
    EGLSurface resized = make_pbuffer(*surface);
    if (resized == EGL_NO_SURFACE) {
        note_failure("eglCreatePbufferSurface");
        return false;
    }
    if (current_context && !eglMakeCurrent(g_egl.display, resized, resized, current_context)) {
        note_failure("eglMakeCurrent");
        eglDestroySurface(g_egl.display, resized);
        return false;
    }
    eglDestroySurface(g_egl.display, surface->pbuffer);
    surface->pbuffer = resized;
    return true;
}

void drop(GlSurface *surface) {
    if (surface->pbuffer) eglDestroySurface(g_egl.display, surface->pbuffer);
    surface->pbuffer = nullptr;
}

const char *kind() { return g_egl.kind; }

}  // namespace

const GlSurfaceCalls kPbufferSurfaces = {open,         close, choose_format, set_format, make_context, make_current,
                                         delete_context, swap, entry_point, resize,     drop,         kind};
