// minimal_vis's picture, drawn with GL, GDI or DirectDraw, as different plug-ins draw theirs.
#include <windows.h>

#include <GL/gl.h>
#include <ddraw.h>

#include <algorithm>
#include <vector>

#include "minimal_vis.h"

#ifndef GL_PIXEL_PACK_BUFFER
#define GL_PIXEL_PACK_BUFFER 0x88EB
#define GL_PIXEL_PACK_BUFFER_BINDING 0x88ED
#define GL_STREAM_READ 0x88E1
#endif
#ifndef GL_READ_FRAMEBUFFER
#define GL_READ_FRAMEBUFFER 0x8CA8
#define GL_READ_FRAMEBUFFER_BINDING 0x8CAA
#endif

static HWND g_window = nullptr;
// GL
static HDC g_dc = nullptr;
static HGLRC g_context = nullptr;
static GLuint g_texture = 0;
static GLuint g_pack_buffer = 0, g_read_framebuffer = 0;  // with gl_state
// DirectDraw, loaded only when asked for
static HMODULE g_ddraw_library = nullptr;
static IDirectDraw *g_ddraw = nullptr;
static IDirectDrawSurface *g_primary = nullptr, *g_back = nullptr;
static IDirectDrawClipper *g_clipper = nullptr;
static int g_back_size[2] = {0, 0};

// The clear colour, 0..255 per channel.
static void frame_colour(const FrameData &data, int colour[3]) {
    for (int c = 0; c < 3; ++c) colour[c] = static_cast<int>(g_config.clear[c] * 255 + 0.5f);
    for (int channel = 0; g_config.meter && channel < 2; ++channel) {
        int sum = 0;
        for (int i = 0; i < 288; ++i) sum += data.spectrum[channel][i];
        colour[channel] = std::min(255, sum * 8 / 288);
    }
}

// The wave's height at column x of a width-wide picture, in rows from the top.
static int wave_row(const FrameData &data, int x, int width, int height) {
    const int sample = static_cast<int8_t>(data.waveform[0][x * kSpectrumBins / width]);
    return std::max(0, std::min(height - 1, height / 2 - sample * (height / 2) / 128));
}

typedef void(APIENTRY *GenFunction)(GLsizei count, GLuint *names);
typedef void(APIENTRY *BindFunction)(GLenum target, GLuint name);
typedef void(APIENTRY *BufferDataFunction)(GLenum target, ptrdiff_t size, const void *data, GLenum usage);

template <typename Function>
static Function gl_function(const char *name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(wglGetProcAddress(name)));
}

// A pack state unlike the defaults, as a plug-in that reads its own pixels may leave it: what the
// host reads back with in between frames must not change it.
static void set_own_pack_state() {
    glPixelStorei(GL_PACK_ALIGNMENT, 2);
    glPixelStorei(GL_PACK_ROW_LENGTH, 16);
    glPixelStorei(GL_PACK_SKIP_ROWS, 3);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 5);
    glReadBuffer(GL_FRONT);  // the window's, before a framebuffer of its own is bound for reading
    auto gen_buffers = gl_function<GenFunction>("glGenBuffers");
    auto bind_buffer = gl_function<BindFunction>("glBindBuffer");
    auto buffer_data = gl_function<BufferDataFunction>("glBufferData");
    auto gen_framebuffers = gl_function<GenFunction>("glGenFramebuffers");
    auto bind_framebuffer = gl_function<BindFunction>("glBindFramebuffer");
    if (gen_buffers && bind_buffer && buffer_data && gen_framebuffers && bind_framebuffer) {
        gen_buffers(1, &g_pack_buffer);
        bind_buffer(GL_PIXEL_PACK_BUFFER, g_pack_buffer);
        buffer_data(GL_PIXEL_PACK_BUFFER, 64, nullptr, GL_STREAM_READ);
        gen_framebuffers(1, &g_read_framebuffer);
        bind_framebuffer(GL_READ_FRAMEBUFFER, g_read_framebuffer);
    }
}

static const char *binding_name(GLint bound, GLuint own) {
    return bound == 0 ? "none" : static_cast<GLuint>(bound) == own ? "own" : "other";
}

static void log_pack_state() {
    const GLenum error = glGetError();  // the frame before made none: any is the host's
    GLint store[4] = {}, pack_buffer = 0, framebuffer = 0, read_buffer = 0;
    const GLenum names[4] = {GL_PACK_ALIGNMENT, GL_PACK_ROW_LENGTH, GL_PACK_SKIP_ROWS, GL_PACK_SKIP_PIXELS};
    for (int i = 0; i < 4; ++i) glGetIntegerv(names[i], &store[i]);
    glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &pack_buffer);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &framebuffer);
    auto bind_framebuffer = gl_function<BindFunction>("glBindFramebuffer");
    if (bind_framebuffer != nullptr) bind_framebuffer(GL_READ_FRAMEBUFFER, 0);  // the window's read buffer
    glGetIntegerv(GL_READ_BUFFER, &read_buffer);
    if (bind_framebuffer != nullptr) bind_framebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(framebuffer));
    log_line("gl_state alignment=%d row_length=%d skip_rows=%d skip_pixels=%d read_buffer=%s pack_buffer=%s "
             "read_framebuffer=%s error=%u",
             store[0], store[1], store[2], store[3],
             read_buffer == GL_FRONT ? "front" : read_buffer == GL_BACK ? "back" : "other",
             binding_name(pack_buffer, g_pack_buffer), binding_name(framebuffer, g_read_framebuffer), error);
}

static bool open_gl() {
    PIXELFORMATDESCRIPTOR format = {};
    format.nSize = sizeof format;
    format.nVersion = 1;
    format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    format.cColorBits = 32;
    g_dc = GetDC(g_window);
    SetPixelFormat(g_dc, ChoosePixelFormat(g_dc, &format), &format);
    g_context = wglCreateContext(g_dc);
    const bool current = g_context != nullptr && wglMakeCurrent(g_dc, g_context);
    log_line("gl context=%d current=%d", g_context != nullptr, current ? 1 : 0);
    if (current && g_config.gl_state) set_own_pack_state();
    return current;
}

static void draw_load_layers(int layers) {
    if (g_texture == 0) {
        // Soft rings, like light on spheres: smooth, as a visualization's frames mostly are.
        std::vector<uint8_t> noise(256 * 256 * 4);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                for (int c = 0; c < 4; ++c) {
                    const int r2 = (x - 128) * (x - 128) + (y - 128) * (y - 128);
                    noise[(y * 256 + x) * 4 + c] = static_cast<uint8_t>((r2 / (8 + 4 * c)) & 255);
                }
        glGenTextures(1, &g_texture);
        glBindTexture(GL_TEXTURE_2D, g_texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 256, 256, 0, GL_RGBA, GL_UNSIGNED_BYTE, noise.data());
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, g_texture);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glColor4f(0.02f, 0.02f, 0.02f, 1);
    for (int i = 0; i < layers; ++i) {
        const float zoom = 1.0f + i * 0.01f;
        glBegin(GL_QUADS);
        glTexCoord2f(0, 0); glVertex2f(-zoom, -zoom);
        glTexCoord2f(1, 0); glVertex2f(zoom, -zoom);
        glTexCoord2f(1, 1); glVertex2f(zoom, zoom);
        glTexCoord2f(0, 1); glVertex2f(-zoom, zoom);
        glEnd();
    }
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glColor4f(1, 1, 1, 1);
}

static void draw_gl(const FrameData &data, int width, int height) {
    if (g_config.gl_state) log_pack_state();
    glViewport(0, 0, width, height);
    glDisable(GL_SCISSOR_TEST);
    int colour[3];
    frame_colour(data, colour);
    glClearColor(colour[0] / 255.0f, colour[1] / 255.0f, colour[2] / 255.0f, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    if (g_config.gl_load > 0) draw_load_layers(g_config.gl_load);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, height / 2, width / 2, height - height / 2);
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    if (g_config.wave) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, width, height, 0, -1, 1);  // pixels, top row first
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glColor4f(1, 1, 0, 1);
        glBegin(GL_LINE_STRIP);
        for (int x = 0; x < width; ++x) glVertex2f(x + 0.5f, wave_row(data, x, width, height) + 0.5f);
        glEnd();
        glColor4f(1, 1, 1, 1);
    }
    SwapBuffers(g_dc);
}

static void draw_gdi(const FrameData &data, int width, int height) {
    int colour[3];
    frame_colour(data, colour);
    HDC dc = GetDC(g_window);
    RECT all = {0, 0, width, height}, quadrant = {0, 0, width / 2, height - height / 2};
    HBRUSH brush = CreateSolidBrush(RGB(colour[0], colour[1], colour[2]));
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    FillRect(dc, &quadrant, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (g_config.wave) {
        HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 255, 0));
        HGDIOBJ previous = SelectObject(dc, pen);
        MoveToEx(dc, 0, wave_row(data, 0, width, height), nullptr);
        for (int x = 1; x < width; ++x) LineTo(dc, x, wave_row(data, x, width, height));
        SetPixel(dc, width - 1, wave_row(data, width - 1, width, height), RGB(255, 255, 0));
        SelectObject(dc, previous);
        DeleteObject(pen);
    }
    ReleaseDC(g_window, dc);
}

static void release_ddraw_back() {
    if (g_back != nullptr) g_back->Release();
    g_back = nullptr;
    g_back_size[0] = g_back_size[1] = 0;
}

static bool open_ddraw() {
    typedef HRESULT(WINAPI * Create)(GUID *, IDirectDraw **, IUnknown *);
    g_ddraw_library = LoadLibraryA("ddraw.dll");
    FARPROC entry = g_ddraw_library != nullptr ? GetProcAddress(g_ddraw_library, "DirectDrawCreate") : nullptr;
    Create create = reinterpret_cast<Create>(reinterpret_cast<void (*)()>(entry));
    bool ok = create != nullptr && SUCCEEDED(create(nullptr, &g_ddraw, nullptr)) &&
              SUCCEEDED(g_ddraw->SetCooperativeLevel(g_window, DDSCL_NORMAL));
    DDSURFACEDESC primary = {};
    primary.dwSize = sizeof primary;
    primary.dwFlags = DDSD_CAPS;
    primary.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    ok = ok && SUCCEEDED(g_ddraw->CreateSurface(&primary, &g_primary, nullptr)) &&
         SUCCEEDED(g_ddraw->CreateClipper(0, &g_clipper, nullptr)) && SUCCEEDED(g_clipper->SetHWnd(0, g_window)) &&
         SUCCEEDED(g_primary->SetClipper(g_clipper));
    log_line("ddraw ready=%d", ok ? 1 : 0);
    return ok;
}

// Pixels written into an off-screen surface, which a blit puts on the window's part of the screen.
static void draw_ddraw(const FrameData &data, int width, int height) {
    if (g_back_size[0] != width || g_back_size[1] != height) {
        release_ddraw_back();
        DDSURFACEDESC back = {};
        back.dwSize = sizeof back;
        back.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
        back.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
        back.dwWidth = width;
        back.dwHeight = height;
        if (FAILED(g_ddraw->CreateSurface(&back, &g_back, nullptr))) return;
        g_back_size[0] = width;
        g_back_size[1] = height;
    }
    DDSURFACEDESC locked = {};
    locked.dwSize = sizeof locked;
    if (FAILED(g_back->Lock(nullptr, &locked, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr))) return;
    if (locked.ddpfPixelFormat.dwRGBBitCount == 32) {
        int colour[3];
        frame_colour(data, colour);
        const uint32_t background = uint32_t(colour[0]) << 16 | uint32_t(colour[1]) << 8 | uint32_t(colour[2]);
        uint8_t *pixels = static_cast<uint8_t *>(locked.lpSurface);
        auto row = [&](int y) { return reinterpret_cast<uint32_t *>(pixels + y * locked.lPitch); };
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                row(y)[x] = x < width / 2 && y < height - height / 2 ? 0xFFFFFF : background;
        for (int x = 0; g_config.wave && x < width; ++x) {
            const int from = wave_row(data, std::max(0, x - 1), width, height), to = wave_row(data, x, width, height);
            for (int y = std::min(from, to); y <= std::max(from, to); ++y) row(y)[x] = 0xFFFF00;
        }
    }
    g_back->Unlock(nullptr);
    POINT origin = {0, 0};
    ClientToScreen(g_window, &origin);
    RECT target = {origin.x, origin.y, origin.x + width, origin.y + height};
    g_primary->Blt(&target, g_back, nullptr, DDBLT_WAIT, nullptr);
}

bool drawing_open(HWND window) {
    g_window = window;
    if (g_config.drawing == Drawing::gl) return open_gl();
    if (g_config.drawing == Drawing::ddraw) return open_ddraw();
    return true;
}

void drawing_frame(const FrameData &data) {
    if (g_window == nullptr || g_config.drawing == Drawing::none) return;
    RECT client = {};
    GetClientRect(g_window, &client);
    if (client.right <= 0 || client.bottom <= 0) return;
    if (g_config.drawing == Drawing::gl && g_context != nullptr) draw_gl(data, client.right, client.bottom);
    if (g_config.drawing == Drawing::gdi) draw_gdi(data, client.right, client.bottom);
    if (g_config.drawing == Drawing::ddraw && g_primary != nullptr) draw_ddraw(data, client.right, client.bottom);
}

void drawing_close() {
    if (g_context != nullptr) {
        if (g_texture != 0) glDeleteTextures(1, &g_texture);
        g_texture = 0;
        wglMakeCurrent(nullptr, nullptr);
        wglDeleteContext(g_context);  // its buffer and framebuffer with it
        g_pack_buffer = g_read_framebuffer = 0;
        ReleaseDC(g_window, g_dc);
        g_context = nullptr;
    }
    release_ddraw_back();
    if (g_clipper != nullptr) g_clipper->Release();
    if (g_primary != nullptr) g_primary->Release();
    if (g_ddraw != nullptr) g_ddraw->Release();
    g_clipper = nullptr;
    g_primary = nullptr;
    g_ddraw = nullptr;
    if (g_ddraw_library != nullptr) FreeLibrary(g_ddraw_library);
    g_ddraw_library = nullptr;
    g_window = nullptr;
}
