#include "tools/offscreen_gl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include "shell/platform_linux_egl.h"

namespace {

GLuint framebuffer, colour_buffer, depth_buffer;

}  // namespace

bool offscreen_gl_create(OffscreenGl *gl, int width, int height, std::string *error) {
    *gl = OffscreenGl{nullptr, nullptr};
    EglDisplayOpened opened;
    if (!egl_display_open(EglDisplayChoice::software, 0, &opened, error)) return false;
    EGLDisplay display = opened.display;
    const EGLint config_attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                        EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configs = 0;
    eglChooseConfig(display, config_attributes, &config, 1, &configs);
    if (!eglBindAPI(EGL_OPENGL_API)) {
        *error = "EGL offers no desktop GL";
        eglTerminate(display);
        return false;
    }
    // No attributes: a compatibility context, as WGL gives the plug-in.
    EGLContext context = eglCreateContext(display, configs ? config : nullptr, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        *error = "no GL context could be made current";
        if (context != EGL_NO_CONTEXT) eglDestroyContext(display, context);
        eglTerminate(display);
        return false;
    }
    gl->display = display;
    gl->context = context;
    // Without a surface there is no default framebuffer: draw into one of our own.
    glGenFramebuffers(1, &framebuffer);
    glGenRenderbuffers(1, &colour_buffer);
    glGenRenderbuffers(1, &depth_buffer);
    glBindRenderbuffer(GL_RENDERBUFFER, colour_buffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, depth_buffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width, height);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_buffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_buffer);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        *error = "the offscreen framebuffer is incomplete";
        offscreen_gl_destroy(gl);
        return false;
    }
    glViewport(0, 0, width, height);
    return true;
}

void offscreen_gl_destroy(OffscreenGl *gl) {
    if (!gl->display) return;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &colour_buffer);
    glDeleteRenderbuffers(1, &depth_buffer);
    eglMakeCurrent(gl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(gl->display, gl->context);
    eglTerminate(gl->display);
    *gl = OffscreenGl{nullptr, nullptr};
}

void *offscreen_gl_proc_address(const char *name) { return reinterpret_cast<void *>(eglGetProcAddress(name)); }
