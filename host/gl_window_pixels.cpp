#include "host/gl_window_pixels.h"

#include <cstring>

#ifndef GL_PIXEL_PACK_BUFFER
#define GL_PIXEL_PACK_BUFFER 0x88EB
#define GL_PIXEL_PACK_BUFFER_BINDING 0x88ED
#endif
#ifndef GL_READ_FRAMEBUFFER
#define GL_READ_FRAMEBUFFER 0x8CA8
#define GL_READ_FRAMEBUFFER_BINDING 0x8CAA
#endif
#ifndef GL_FRAMEBUFFER_EXT
#define GL_FRAMEBUFFER_EXT 0x8D40
#define GL_FRAMEBUFFER_BINDING_EXT 0x8CA6
#endif

namespace {

typedef void(APIENTRY *BindFunction)(GLenum target, GLuint name);

// major * 10 + minor, from "4.5 (Compatibility Profile) Mesa ..." and the like.
int gl_version() {
    const char *text = reinterpret_cast<const char *>(glGetString(GL_VERSION));
    if (text == nullptr || text[0] < '0' || text[0] > '9' || text[1] != '.' || text[2] < '0' || text[2] > '9') return 0;
    return (text[0] - '0') * 10 + (text[2] - '0');
}

// Only asked of contexts before 3.0, where the one extensions string is still there.
bool has_extension(const char *name) {
    const char *all = reinterpret_cast<const char *>(glGetString(GL_EXTENSIONS));
    const size_t length = std::strlen(name);
    for (const char *at = all; at != nullptr && (at = std::strstr(at, name)) != nullptr; at += length)
        if ((at == all || at[-1] == ' ') && (at[length] == ' ' || at[length] == 0)) return true;
    return false;
}

BindFunction bind_function(const char *name) {
    PROC address = wglGetProcAddress(name);
    // Some drivers answer small numbers instead of null for what they lack.
    const ULONG_PTR value = reinterpret_cast<ULONG_PTR>(address);
    if (value <= 3 || value == ~ULONG_PTR(0)) return nullptr;
    return reinterpret_cast<BindFunction>(reinterpret_cast<void (*)()>(address));
}

struct PackStore {
    GLenum name;
    GLint ours;
    GLint saved;
};

}  // namespace

void gl_read_window(int x, int y, int width, int height, GLenum format, void *pixels) {
    const int version = gl_version();
    // A bound pixel pack buffer would take the pixels; a bound read framebuffer would give its own.
    BindFunction bind_buffer = nullptr, bind_framebuffer = nullptr;
    GLenum framebuffer_target = 0, framebuffer_binding = 0;
    if (version >= 21 || has_extension("GL_ARB_pixel_buffer_object") || has_extension("GL_EXT_pixel_buffer_object")) {
        bind_buffer = bind_function("glBindBuffer");
        if (bind_buffer == nullptr) bind_buffer = bind_function("glBindBufferARB");
    }
    if (version >= 30 || has_extension("GL_ARB_framebuffer_object")) {
        bind_framebuffer = bind_function("glBindFramebuffer");
        framebuffer_target = GL_READ_FRAMEBUFFER;
        framebuffer_binding = GL_READ_FRAMEBUFFER_BINDING;
    } else if (has_extension("GL_EXT_framebuffer_object")) {
        bind_framebuffer = bind_function("glBindFramebufferEXT");  // one binding for drawing and reading
        framebuffer_target = GL_FRAMEBUFFER_EXT;
        framebuffer_binding = GL_FRAMEBUFFER_BINDING_EXT;
    }
    GLint pack_buffer = 0, framebuffer = 0, read_buffer = 0;
    if (bind_buffer != nullptr) {
        glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &pack_buffer);
        if (pack_buffer != 0) bind_buffer(GL_PIXEL_PACK_BUFFER, 0);
    }
    if (bind_framebuffer != nullptr) {
        glGetIntegerv(framebuffer_binding, &framebuffer);
        if (framebuffer != 0) bind_framebuffer(framebuffer_target, 0);
    }
    // The window's read buffer, now that the window's framebuffer is the one read.
    glGetIntegerv(GL_READ_BUFFER, &read_buffer);
    GLboolean double_buffered = GL_FALSE;
    glGetBooleanv(GL_DOUBLEBUFFER, &double_buffered);
    const GLint window_buffer = double_buffered ? GL_BACK : GL_FRONT;
    if (read_buffer != window_buffer) glReadBuffer(window_buffer);
    PackStore store[] = {{GL_PACK_ALIGNMENT, 1, 0}, {GL_PACK_ROW_LENGTH, 0, 0}, {GL_PACK_SKIP_ROWS, 0, 0},
                         {GL_PACK_SKIP_PIXELS, 0, 0}};
    for (PackStore &s : store) {
        glGetIntegerv(s.name, &s.saved);
        if (s.saved != s.ours) glPixelStorei(s.name, s.ours);
    }

    glReadPixels(x, y, width, height, format, GL_UNSIGNED_BYTE, pixels);

    for (const PackStore &s : store)
        if (s.saved != s.ours) glPixelStorei(s.name, s.saved);
    if (read_buffer != window_buffer) glReadBuffer(static_cast<GLenum>(read_buffer));
    if (framebuffer != 0) bind_framebuffer(framebuffer_target, static_cast<GLuint>(framebuffer));
    if (pack_buffer != 0) bind_buffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(pack_buffer));
}
