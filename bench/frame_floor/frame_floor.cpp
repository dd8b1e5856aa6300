// frame_floor.exe: the frame's unavoidable full-window work alone, as the plug-in does it (two copies
// into rectangle textures, the zoomed background quad, 30 blended blur layers), timed over N frames
// in a window of the plug-in's size. ./halcyon bench sets it beside the plug-in's own frame time.
//
//   frame_floor.exe [WIDTH HEIGHT [FRAMES]]   prints {"width": W, "height": H, "frames": N, "ms_per_frame": T}
#include <windows.h>

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr GLenum kRectangle = 0x84F5;
int width = 512, height = 384;
GLuint textures[2];

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(window, message, wparam, lparam);
}

void overlay(bool begin) {
    glMatrixMode(GL_PROJECTION);
    if (begin) {
        glPushMatrix();
        glLoadIdentity();
        glOrtho(0, width, height, 0, -1, 1);
    } else {
        glPopMatrix();
    }
    glMatrixMode(GL_MODELVIEW);
    if (begin) {
        glPushMatrix();
        glLoadIdentity();
    } else {
        glPopMatrix();
    }
}

void zoomed_quad(float u, float v) {
    const float w = float(width), h = float(height);
    glTexCoord2f(u, h - v), glVertex2f(0, 0);
    glTexCoord2f(u, v), glVertex2f(0, h);
    glTexCoord2f(w - u, v), glVertex2f(w, h);
    glTexCoord2f(w - u, h - v), glVertex2f(w, 0);
}

void copy_into(GLuint texture) {
    glDisable(GL_TEXTURE_2D);
    glEnable(kRectangle);
    glBindTexture(kRectangle, texture);
    glCopyTexSubImage2D(kRectangle, 0, 0, 0, 0, 0, width, height);
    glDisable(kRectangle);
    glEnable(GL_TEXTURE_2D);
}

void draw_frame() {
    const float dv = 10.0f * float(height) / float(width);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    copy_into(textures[0]);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // Background: the previous frame, zoomed.
    glDisable(GL_DEPTH_TEST);
    overlay(true);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
    glDisable(GL_TEXTURE_2D);
    glEnable(kRectangle);
    glBindTexture(kRectangle, textures[1]);
    glColor4f(1.5f, 1.5f, 1.5f, 1);
    glBegin(GL_QUADS);
    zoomed_quad(float(width) * 0.0015625f * 10, float(height) * 0.0020833334f * dv);
    glEnd();
    glDisable(kRectangle);
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    overlay(false);
    glEnable(GL_DEPTH_TEST);
    copy_into(textures[1]);
    // The radial blur: 30 layers in one primitive.
    glDisable(GL_TEXTURE_2D);
    glEnable(kRectangle);
    glBindTexture(kRectangle, textures[0]);
    glDisable(GL_DEPTH_TEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glEnable(GL_BLEND);
    overlay(true);
    float u = float(width) * 0.0015625f * 10, v = float(height) * 0.0020833334f * dv, alpha = 0.2f;
    glBegin(GL_QUADS);
    for (int layer = 0; layer < 30; ++layer, u += 10, v += dv, alpha -= 0.006666667f) {
        glColor4f(0.5f, 0.4f, 0.5f, alpha);
        zoomed_quad(u, v);
    }
    glEnd();
    overlay(false);
    glEnable(GL_DEPTH_TEST);
    glDisable(kRectangle);
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glColor4f(1, 1, 1, 1);
}

double now_ms() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * double(count.QuadPart) / double(frequency.QuadPart);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 3) width = std::atoi(argv[1]), height = std::atoi(argv[2]);
    const int frames = argc >= 4 ? std::atoi(argv[3]) : 60;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = instance;
    window_class.lpszClassName = "frame_floor";
    RegisterClassA(&window_class);
    RECT rect = {0, 0, width, height};
    const DWORD style = WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    AdjustWindowRectEx(&rect, style, FALSE, 0);
    HWND window = CreateWindowExA(0, "frame_floor", "frame floor", style, 0, 0, rect.right - rect.left,
                                  rect.bottom - rect.top, nullptr, nullptr, instance, nullptr);
    HDC dc = GetDC(window);
    PIXELFORMATDESCRIPTOR format{};
    format.nSize = sizeof format;
    format.nVersion = 1;
    format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    format.cColorBits = 32;
    format.cDepthBits = 16;
    SetPixelFormat(dc, ChoosePixelFormat(dc, &format), &format);
    HGLRC context = wglCreateContext(dc);
    if (!window || !context || !wglMakeCurrent(dc, context)) {
        std::fprintf(stderr, "frame_floor: no GL window\n");
        return 1;
    }
    ShowWindow(window, SW_SHOW);
    glViewport(0, 0, width, height);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glGenTextures(2, textures);
    for (GLuint texture : textures) {
        glBindTexture(kRectangle, texture);
        glTexImage2D(kRectangle, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_FLOAT, nullptr);
        glTexParameteri(kRectangle, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(kRectangle, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(kRectangle, GL_TEXTURE_WRAP_S, GL_CLAMP);
        glTexParameteri(kRectangle, GL_TEXTURE_WRAP_T, GL_CLAMP);
    }
    // A few frames to warm up, then the timed ones; glFinish so the GL's work is counted.
    for (int i = 0; i < 5; ++i) draw_frame(), SwapBuffers(dc);
    glFinish();
    const double start = now_ms();
    for (int i = 0; i < frames; ++i) {
        draw_frame();
        SwapBuffers(dc);
    }
    glFinish();
    const double elapsed = now_ms() - start;
    std::printf("{\"width\": %d, \"height\": %d, \"frames\": %d, \"ms_per_frame\": %.3f}\n", width, height, frames,
                elapsed / frames);
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(context);
    ReleaseDC(window, dc);
    DestroyWindow(window);
    return 0;
}
