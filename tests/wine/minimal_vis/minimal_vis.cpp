// minimal_vis.dll: a small visualization plug-in, unrelated to Halcyonsphere, that exercises
// every feature of the stand-alone host. What it does is set by "minimal_vis.txt" beside the DLL
// (key=value lines, all optional); what it saw goes to "minimal_vis.log" beside the DLL, one
// line per event: a word, then key=value fields.
//
//   quit_after=N      post the quit message from the N-th Render (0: never)
//   quit_in_init=1    post the quit message from Init
//   init_result=N     Init's result (default 0)
//   render_result=N   Render's result (default 0)
//   probe=0           skip the WM_USER/505 version probe (sent by default)
//   probe_zero_fails=1  a zero probe answer shows a box and makes Init return 1
//   window=1          create a plain window and register it with 611 (withdrawn by Quit);
//                     Escape and the close box post the quit message
//   box=TYPE|CAPTION|TEXT   a message box in Init (TYPE ok, okcancel, yesno, yesnocancel,
//                     retrycancel, abortretryignore); several lines show several boxes
//   config=box|dialog|none  what Config shows (default dialog: an OK/Cancel dialog)
//   delay=N           the module's delay in ms, set by Init (default 10)
//   gl_clear=R,G,B    with window=1: a GL context on the window; every Render clears it to that
//                     colour, paints the top-left quadrant white and swaps (for frame capture)
//   meter=1           with gl_clear: the clear colour's red and green follow the loudness of the
//                     two spectrum rows (8 x the mean of bins 0-287, at most 255)
//   size=W,H          the window's outer size (default 200,150)
//   render_sleep=N    every Render takes N ms more (a slow plug-in)
//   gl_load=N         with gl_clear: N zoomed, textured, additively blended full-window layers per
//                     frame, a drawing cost like a real visualization's under software GL
//   leak=1            every Init keeps 4 MB of written memory and 50 brushes, never freed
#include <windows.h>

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "shell/vis_module.h"

struct BoxRequest {
    UINT type;
    std::string caption;
    std::string text;
};

struct MinimalConfig {
    int quit_after = 0;
    bool quit_in_init = false;
    int init_result = 0;
    int render_result = 0;
    bool probe = true;
    bool probe_zero_fails = false;
    bool window = false;
    std::vector<BoxRequest> boxes;
    std::string config = "dialog";
    int delay = 10;
    bool gl = false;
    float clear[3] = {0, 0, 0};
    bool meter = false;
    int size[2] = {200, 150};
    int render_sleep = 0;
    int gl_load = 0;
    bool leak = false;
};

static HINSTANCE g_instance = nullptr;
static MinimalConfig g_config;
static HWND g_window = nullptr;
static HDC g_dc = nullptr;
static HGLRC g_context = nullptr;
static int g_frames = 0;
static bool g_config_open = false;

static std::string beside_dll(const char *name) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(g_instance, path, MAX_PATH);
    char *slash = std::strrchr(path, '\\');
    if (slash != nullptr) slash[1] = 0;
    return std::string(path) + name;
}

static void log_line(const char *format, ...) {
    FILE *file = std::fopen(beside_dll("minimal_vis.log").c_str(), "ab");
    if (file == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
    std::fclose(file);
}

static UINT box_type(const std::string &name) {
    if (name == "okcancel") return MB_OKCANCEL;
    if (name == "yesno") return MB_YESNO;
    if (name == "yesnocancel") return MB_YESNOCANCEL;
    if (name == "retrycancel") return MB_RETRYCANCEL;
    if (name == "abortretryignore") return MB_ABORTRETRYIGNORE;
    return MB_OK;
}

static void read_config() {
    g_config = MinimalConfig();
    FILE *file = std::fopen(beside_dll("minimal_vis.txt").c_str(), "rb");
    if (file == nullptr) return;
    char buffer[1024];
    while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        int number = std::atoi(value.c_str());
        if (key == "quit_after") g_config.quit_after = number;
        else if (key == "quit_in_init") g_config.quit_in_init = number != 0;
        else if (key == "init_result") g_config.init_result = number;
        else if (key == "render_result") g_config.render_result = number;
        else if (key == "probe") g_config.probe = number != 0;
        else if (key == "probe_zero_fails") g_config.probe_zero_fails = number != 0;
        else if (key == "window") g_config.window = number != 0;
        else if (key == "config") g_config.config = value;
        else if (key == "delay") g_config.delay = number;
        else if (key == "meter") g_config.meter = number != 0;
        else if (key == "render_sleep") g_config.render_sleep = number;
        else if (key == "gl_load") g_config.gl_load = number;
        else if (key == "leak") g_config.leak = number != 0;
        else if (key == "size") std::sscanf(value.c_str(), "%d,%d", &g_config.size[0], &g_config.size[1]);
        else if (key == "gl_clear") {
            int r = 0, g = 0, b = 0;
            g_config.gl = std::sscanf(value.c_str(), "%d,%d,%d", &r, &g, &b) == 3;
            g_config.clear[0] = r / 255.0f;
            g_config.clear[1] = g / 255.0f;
            g_config.clear[2] = b / 255.0f;
        }
        else if (key == "box") {
            size_t bar1 = value.find('|');
            size_t bar2 = bar1 == std::string::npos ? bar1 : value.find('|', bar1 + 1);
            if (bar2 == std::string::npos) continue;
            g_config.boxes.push_back({box_type(value.substr(0, bar1)),
                                      value.substr(bar1 + 1, bar2 - bar1 - 1),
                                      value.substr(bar2 + 1)});
        }
    }
    std::fclose(file);
}

static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if ((message == WM_KEYDOWN && wparam == VK_ESCAPE) || message == WM_CLOSE) {
        log_line("stop message=%s", message == WM_CLOSE ? "close" : "escape");
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

static void create_window(VisModule *module) {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = g_instance;
    window_class.lpszClassName = "MinimalVisWindow";
    RegisterClassA(&window_class);
    g_window = CreateWindowExA(0, "MinimalVisWindow", "Minimal vis", WS_OVERLAPPEDWINDOW, 40, 40,
                               g_config.size[0], g_config.size[1], static_cast<HWND>(module->parent_window), nullptr,
                               g_instance, nullptr);
    SendMessageA(static_cast<HWND>(module->parent_window), WM_USER,
                 reinterpret_cast<WPARAM>(g_window), 611);
    ShowWindow(g_window, SW_SHOW);
    log_line("window handle=%lu", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(g_window)));
    if (!g_config.gl) return;
    PIXELFORMATDESCRIPTOR format = {};
    format.nSize = sizeof format;
    format.nVersion = 1;
    format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    format.cColorBits = 32;
    g_dc = GetDC(g_window);
    SetPixelFormat(g_dc, ChoosePixelFormat(g_dc, &format), &format);
    g_context = wglCreateContext(g_dc);
    log_line("gl context=%d current=%d", g_context != nullptr, wglMakeCurrent(g_dc, g_context) ? 1 : 0);
}

static GLuint g_texture = 0;

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

static void draw_gl_frame(const VisModule *module) {
    RECT client;
    GetClientRect(g_window, &client);
    glViewport(0, 0, client.right, client.bottom);
    glDisable(GL_SCISSOR_TEST);
    float clear[3] = {g_config.clear[0], g_config.clear[1], g_config.clear[2]};
    for (int channel = 0; g_config.meter && channel < 2; ++channel) {
        int sum = 0;
        for (int i = 0; i < 288; ++i) sum += module->spectrum_data[channel][i];
        clear[channel] = (sum * 8 / 288 > 255 ? 255 : sum * 8 / 288) / 255.0f;
    }
    glClearColor(clear[0], clear[1], clear[2], 1);
    glClear(GL_COLOR_BUFFER_BIT);
    if (g_config.gl_load > 0) draw_load_layers(g_config.gl_load);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, client.bottom / 2, client.right / 2, client.bottom - client.bottom / 2);
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    SwapBuffers(g_dc);
}

// An in-memory dialog template with OK and Cancel, so Config needs no resource script.
static INT_PTR CALLBACK config_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wparam));
        return TRUE;
    }
    return FALSE;
}

static void add_words(std::vector<WORD> &words, const wchar_t *text) {
    for (; *text != 0; ++text) words.push_back(static_cast<WORD>(*text));
    words.push_back(0);
}

static void add_button(std::vector<WORD> &words, WORD id, short x, const wchar_t *text) {
    while (words.size() % 2 != 0) words.push_back(0);  // items start on a DWORD
    DLGITEMTEMPLATE item = {};
    item.style = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;
    item.x = x;
    item.y = 40;
    item.cx = 50;
    item.cy = 14;
    item.id = id;
    const WORD *raw = reinterpret_cast<const WORD *>(&item);
    words.insert(words.end(), raw, raw + sizeof item / 2);
    words.push_back(0xFFFF);
    words.push_back(0x0080);  // button class
    add_words(words, text);
    words.push_back(0);       // no creation data
}

static INT_PTR show_config_dialog(HWND owner) {
    std::vector<WORD> words;
    DLGTEMPLATE header = {};
    header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    header.cdit = 2;
    header.cx = 140;
    header.cy = 60;
    const WORD *raw = reinterpret_cast<const WORD *>(&header);
    words.insert(words.end(), raw, raw + sizeof header / 2);
    words.push_back(0);  // no menu
    words.push_back(0);  // default class
    add_words(words, L"Minimal settings");
    add_button(words, IDOK, 10, L"OK");
    add_button(words, IDCANCEL, 70, L"Cancel");
    return DialogBoxIndirectParamA(g_instance, reinterpret_cast<DLGTEMPLATE *>(words.data()),
                                   owner, config_dialog_proc, 0);
}

static void HALCYON_CDECL minimal_config(VisModule *module) {
    if (g_config_open) {
        log_line("config reentered=1");
        return;
    }
    read_config();
    g_config_open = true;
    HWND owner = static_cast<HWND>(module->parent_window);
    INT_PTR answer = 0;
    if (g_config.config == "box")
        answer = MessageBoxA(owner, "Nothing to set.", "Minimal settings", MB_OKCANCEL);
    else if (g_config.config == "dialog")
        answer = show_config_dialog(owner);
    g_config_open = false;
    log_line("config answer=%d", static_cast<int>(answer));
}

static int HALCYON_CDECL minimal_init(VisModule *module) {
    read_config();
    g_frames = 0;
    HWND parent = static_cast<HWND>(module->parent_window);
    char parent_class[128] = "";
    GetClassNameA(parent, parent_class, sizeof parent_class);
    log_line("init parent_is_window=%d parent_class=%s instance_is_self=%d sample_rate=%d "
             "channels=%d same_thread=%d tick=%lu",
             IsWindow(parent) ? 1 : 0, parent_class,
             module->library_instance == g_instance ? 1 : 0, static_cast<int>(module->sample_rate),
             static_cast<int>(module->channel_count),
             GetWindowThreadProcessId(parent, nullptr) == GetCurrentThreadId() ? 1 : 0,
             static_cast<unsigned long>(GetTickCount()));
    module->delay_ms = g_config.delay;
    if (g_config.probe) {
        LRESULT answer = SendMessageA(parent, WM_USER, 0, 505);
        log_line("probe answer=%ld", static_cast<long>(answer));
        if (answer == 0 && g_config.probe_zero_fails) {
            MessageBoxA(parent, "Player too old", "Minimal vis", MB_OK);
            return 1;
        }
    }
    for (const BoxRequest &box : g_config.boxes) {
        int answer = MessageBoxA(parent, box.text.c_str(), box.caption.c_str(), box.type);
        log_line("box answer=%d", answer);
    }
    if (g_config.window) create_window(module);
    static std::vector<void *> leaked;
    if (g_config.leak) {
        if (void *block = std::malloc(4 << 20)) leaked.push_back(std::memset(block, 1, 4 << 20));
        for (int i = 0; i < 50; ++i) leaked.push_back(CreateSolidBrush(RGB(i, 0, 0)));
    }
    if (g_config.quit_in_init) PostQuitMessage(0);
    return g_config.init_result;
}

// The performance counter, not the tick count, which Wine may advance in coarse steps.
static long long microseconds() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<long long>(count.QuadPart * 1000000.0 / frequency.QuadPart);
}

// Per channel: the loudest bin, its value and the sum of the row.
static int HALCYON_CDECL minimal_render(VisModule *module) {
    ++g_frames;
    int peak_bin[2] = {0, 0};
    int peak[2] = {0, 0};
    long sum[2] = {0, 0};
    for (int channel = 0; channel < 2; ++channel) {
        for (int i = 0; i < kSpectrumBins; ++i) {
            int v = module->spectrum_data[channel][i];
            sum[channel] += v;
            if (v > peak[channel]) {
                peak[channel] = v;
                peak_bin[channel] = i;
            }
        }
    }
    log_line("render frame=%d peak_bin0=%d peak0=%d sum0=%ld peak_bin1=%d peak1=%d sum1=%ld "
             "us=%lld tick=%lu",
             g_frames, peak_bin[0], peak[0], sum[0], peak_bin[1], peak[1], sum[1], microseconds(),
             static_cast<unsigned long>(GetTickCount()));
    if (g_context) draw_gl_frame(module);
    if (g_config.render_sleep > 0) Sleep(static_cast<DWORD>(g_config.render_sleep));
    if (g_config.quit_after > 0 && g_frames == g_config.quit_after) PostQuitMessage(0);
    return g_config.render_result;
}

static void HALCYON_CDECL minimal_quit(VisModule *module) {
    if (g_context) {
        if (g_texture != 0) glDeleteTextures(1, &g_texture);
        g_texture = 0;
        wglMakeCurrent(nullptr, nullptr);
        wglDeleteContext(g_context);
        ReleaseDC(g_window, g_dc);
        g_context = nullptr;
    }
    if (g_window != nullptr) {
        SendMessageA(static_cast<HWND>(module->parent_window), WM_USER, 0, 611);
        DestroyWindow(g_window);
        UnregisterClassA("MinimalVisWindow", g_instance);
        g_window = nullptr;
    }
    log_line("quit frames=%d", g_frames);
}

static VisModule g_module = {
    "Minimal vis module", nullptr, nullptr, 0, 0, 5, 33, 2, 0, {}, {},
    minimal_config, minimal_init, minimal_render, minimal_quit, nullptr,
};

static VisModule *HALCYON_CDECL minimal_get_module(int index) {
    return index == 0 ? &g_module : nullptr;
}

static VisHeader g_header = {kVisHeaderVersion, "Minimal vis", minimal_get_module};

#if defined(MINIMAL_VIS_WRONG_EXPORT)
// noexport_vis.dll: the same plug-in under another export name, which the player cannot find.
extern "C" __declspec(dllexport) VisHeader *HALCYON_CDECL otherVisGetHeader() { return &g_header; }
#else
extern "C" __declspec(dllexport) VisHeader *HALCYON_CDECL winampVisGetHeader() { return &g_header; }
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
    return TRUE;
}
