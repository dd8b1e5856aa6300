// The GL functions the shell calls, recording into the fake's call log instead of drawing. The
// matrix stacks are kept for real, so that a matrix read back is the one a driver would hand out.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "shell/gl_api.h"
#include "tests/fakes/fake_platform.h"

// A macro, so that a quiet fake (the CPU benchmark) pays one test per call and nothing more.
#define RECORD(...) (fake.gl_quiet ? void(0) : log_call(__VA_ARGS__))

namespace {

void log_call(const char *format, ...) __attribute__((format(printf, 1, 2)));
void log_call(const char *format, ...) {
    char buffer[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    fake.calls.push_back(buffer);
}

GLuint next_program = 1;

FakeMatrix &current_matrix() { return fake.gl_matrix_stacks[fake.gl_matrix_mode].back(); }

// current = current × right, as every GL matrix call but the loads does.
void multiply_current(const FakeMatrix &right) {
    const FakeMatrix left = current_matrix();
    FakeMatrix &out = current_matrix();
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row) {
            float sum = 0;
            for (int k = 0; k < 4; ++k) sum += left.m[k * 4 + row] * right.m[column * 4 + k];
            out.m[column * 4 + row] = sum;
        }
}

void multiply_rotation(float degrees, float x, float y, float z) {
    const float length = std::sqrt(x * x + y * y + z * z);
    if (length == 0) return;
    x /= length, y /= length, z /= length;
    const float c = std::cos(degrees * 3.14159265f / 180), s = std::sin(degrees * 3.14159265f / 180), d = 1 - c;
    multiply_current({{x * x * d + c, y * x * d + z * s, x * z * d - y * s, 0,  //
                       x * y * d - z * s, y * y * d + c, y * z * d + x * s, 0,  //
                       x * z * d + y * s, y * z * d - x * s, z * z * d + c, 0,  //
                       0, 0, 0, 1}});
}

void APIENTRY fake_glGenProgramsARB(GLsizei count, GLuint *programs) {
    RECORD("glGenProgramsARB(%d)", count);
    for (GLsizei i = 0; i < count; ++i) programs[i] = next_program++;
}
void APIENTRY fake_glBindProgramARB(GLenum target, GLuint program) { RECORD("glBindProgramARB(%#x,%u)", target, program); }
void APIENTRY fake_glProgramStringARB(GLenum target, GLenum format, GLsizei length, const void *text) {
    RECORD("glProgramStringARB(%#x,%#x,%d)", target, format, length);
    fake.program_texts.emplace_back(static_cast<const char *>(text), size_t(length));
}
void APIENTRY fake_glDeleteProgramsARB(GLsizei, const GLuint *) { RECORD("glDeleteProgramsARB"); }
void APIENTRY fake_glActiveTextureARB(GLenum unit) { RECORD("glActiveTextureARB(%u)", unit - GL_TEXTURE0_ARB); }
void APIENTRY fake_glClientActiveTextureARB(GLenum unit) { RECORD("glClientActiveTextureARB(%u)", unit - GL_TEXTURE0_ARB); }
void APIENTRY fake_unused_entry_point() { RECORD("unexpected entry point call"); }

}  // namespace

void *platform_wgl_get_proc_address(const char *name) {
    fake.calls.push_back(std::string("wglGetProcAddress(") + name + ")");
    if (fake.missing_entry_points.count(name)) return nullptr;
    if (!std::strcmp(name, "glGenProgramsARB")) return reinterpret_cast<void *>(fake_glGenProgramsARB);
    if (!std::strcmp(name, "glBindProgramARB")) return reinterpret_cast<void *>(fake_glBindProgramARB);
    if (!std::strcmp(name, "glProgramStringARB")) return reinterpret_cast<void *>(fake_glProgramStringARB);
    if (!std::strcmp(name, "glDeleteProgramsARB")) return reinterpret_cast<void *>(fake_glDeleteProgramsARB);
    if (!std::strcmp(name, "glActiveTextureARB")) return reinterpret_cast<void *>(fake_glActiveTextureARB);
    if (!std::strcmp(name, "glClientActiveTextureARB"))
        return reinterpret_cast<void *>(fake_glClientActiveTextureARB);
    return reinterpret_cast<void *>(fake_unused_entry_point);
}

extern "C" {

void APIENTRY glViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
    RECORD("glViewport(%d,%d,%d,%d)", x, y, width, height);
}
void APIENTRY glMatrixMode(GLenum mode) {
    RECORD("glMatrixMode(%s)", mode == GL_PROJECTION ? "projection" : mode == GL_MODELVIEW ? "modelview" : "other");
    fake.gl_matrix_mode = mode == GL_MODELVIEW ? 0 : mode == GL_PROJECTION ? 1 : 2;
}
void APIENTRY glLoadIdentity() {
    RECORD("glLoadIdentity");
    current_matrix() = kFakeIdentity;
}
void APIENTRY glPushMatrix() {
    RECORD("glPushMatrix");
    std::vector<FakeMatrix> &stack = fake.gl_matrix_stacks[fake.gl_matrix_mode];
    stack.push_back(stack.back());
}
void APIENTRY glPopMatrix() {
    RECORD("glPopMatrix");
    std::vector<FakeMatrix> &stack = fake.gl_matrix_stacks[fake.gl_matrix_mode];
    if (stack.size() > 1) stack.pop_back();
}
void APIENTRY glFrustum(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) {
    RECORD("glFrustum(%.6g,%.6g,%.6g,%.6g,%.6g,%.6g)", l, r, b, t, n, f);
    multiply_current({{float(2 * n / (r - l)), 0, 0, 0, 0, float(2 * n / (t - b)), 0, 0,  //
                       float((r + l) / (r - l)), float((t + b) / (t - b)), float(-(f + n) / (f - n)), -1,  //
                       0, 0, float(-2 * f * n / (f - n)), 0}});
}
void APIENTRY glOrtho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) {
    RECORD("glOrtho(%g,%g,%g,%g,%g,%g)", l, r, b, t, n, f);
    multiply_current({{float(2 / (r - l)), 0, 0, 0, 0, float(2 / (t - b)), 0, 0, 0, 0, float(-2 / (f - n)), 0,  //
                       float(-(r + l) / (r - l)), float(-(t + b) / (t - b)), float(-(f + n) / (f - n)), 1}});
}
void APIENTRY glEnable(GLenum cap) { RECORD("glEnable(%#x)", cap); }
void APIENTRY glDisable(GLenum cap) { RECORD("glDisable(%#x)", cap); }
void APIENTRY glClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a) { RECORD("glClearColor(%g,%g,%g,%g)", r, g, b, a); }
void APIENTRY glClearDepth(GLclampd depth) { RECORD("glClearDepth(%g)", depth); }
void APIENTRY glDepthFunc(GLenum func) { RECORD("glDepthFunc(%#x)", func); }
void APIENTRY glShadeModel(GLenum mode) { RECORD("glShadeModel(%#x)", mode); }
void APIENTRY glHint(GLenum target, GLenum mode) { RECORD("glHint(%#x,%#x)", target, mode); }
void APIENTRY glClear(GLbitfield mask) { RECORD("glClear(%#x)", mask); }

const GLubyte *APIENTRY glGetString(GLenum name) {
    RECORD("glGetString(%#x)", name);
    if (name == GL_EXTENSIONS)
        return fake.gl_extensions_null ? nullptr : reinterpret_cast<const GLubyte *>(fake.gl_extensions.c_str());
    if (name == GL_PROGRAM_ERROR_STRING_ARB) return reinterpret_cast<const GLubyte *>(fake.program_error_text.c_str());
    return nullptr;
}

void APIENTRY glGetIntegerv(GLenum name, GLint *value) {
    RECORD("glGetIntegerv(%#x)", name);
    if (name == GL_MAX_TEXTURE_UNITS_ARB && !fake.gl_leaves_texture_units_alone) *value = fake.gl_texture_units;
    if (name == GL_PROGRAM_ERROR_POSITION_ARB) *value = fake.program_error_position;
}

// Textures and drawing: recorded by name (and the texture they bind), nothing is drawn.
void APIENTRY glBindTexture(GLenum target, GLuint texture) { RECORD("glBindTexture(%#x,%u)", target, texture); }
void APIENTRY glTexImage2D(GLenum target, GLint level, GLint, GLsizei width, GLsizei height, GLint, GLenum, GLenum,
                           const void *) {
    RECORD("glTexImage2D(%#x,%d,%d,%d)", target, level, width, height);
}
void APIENTRY glTexParameterf(GLenum, GLenum, GLfloat) { RECORD("glTexParameterf"); }
void APIENTRY glTexParameteri(GLenum, GLenum, GLint) { RECORD("glTexParameteri"); }
void APIENTRY glCopyTexSubImage2D(GLenum, GLint, GLint, GLint, GLint, GLint, GLsizei, GLsizei) {
    RECORD("glCopyTexSubImage2D");
}
void APIENTRY glAlphaFunc(GLenum, GLclampf) { RECORD("glAlphaFunc"); }
void APIENTRY glBlendFunc(GLenum, GLenum) { RECORD("glBlendFunc"); }
void APIENTRY glDepthMask(GLboolean) { RECORD("glDepthMask"); }
void APIENTRY glCullFace(GLenum) { RECORD("glCullFace"); }
void APIENTRY glBegin(GLenum) { RECORD("glBegin"); }
void APIENTRY glEnd() { RECORD("glEnd"); }
void APIENTRY glVertex2f(GLfloat, GLfloat) {}
void APIENTRY glVertex3f(GLfloat, GLfloat, GLfloat) {}
void APIENTRY glTexCoord2f(GLfloat, GLfloat) {}
void APIENTRY glColor3f(GLfloat, GLfloat, GLfloat) {}
void APIENTRY glColor4f(GLfloat, GLfloat, GLfloat, GLfloat) {}
void APIENTRY glRotatef(GLfloat degrees, GLfloat x, GLfloat y, GLfloat z) { multiply_rotation(degrees, x, y, z); }
void APIENTRY glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
    multiply_current({{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1}});
}
void APIENTRY glGetFloatv(GLenum name, GLfloat *values) {
    const int stack = name == GL_MODELVIEW_MATRIX ? 0 : name == GL_PROJECTION_MATRIX ? 1 : 2;
    const FakeMatrix &top = name == GL_MODELVIEW_MATRIX || name == GL_PROJECTION_MATRIX || name == GL_TEXTURE_MATRIX
                                ? fake.gl_matrix_stacks[stack].back()
                                : kFakeIdentity;
    for (int i = 0; i < 16; ++i) values[i] = top.m[i];
}
void APIENTRY glEnableClientState(GLenum) {}
void APIENTRY glDisableClientState(GLenum) {}
void APIENTRY glVertexPointer(GLint, GLenum, GLsizei, const void *) {}
void APIENTRY glTexCoordPointer(GLint, GLenum, GLsizei, const void *) {}
void APIENTRY glDrawElements(GLenum, GLsizei, GLenum, const void *) { RECORD("glDrawElements"); }
int gluBuild2DMipmaps(GLenum, GLint, GLint width, GLint height, GLenum, GLenum, const void *) {
    RECORD("gluBuild2DMipmaps(%d,%d)", width, height);
    return 0;
}

}  // extern "C"
