// minimal_vis.dll: a small visualization plug-in, unrelated to Halcyonsphere, that exercises
// every feature of the stand-alone host and acts as other people's plug-ins do. What it does is
// set by "minimal_vis.txt" beside the DLL (key=value lines, all optional); what it saw goes to
// "minimal_vis.log" beside the DLL, one line per event: a word, then key=value fields.
//
//   quit_after=N      post the quit message from the N-th Render (0: never)
//   quit_in_init=1    post the quit message from Init
//   init_result=N     Init's result (default 0)
//   render_result=N   Render's result (default 0); with end_after=N, 1 from the N-th Render on
//   crash=init|N|thread  fault in Init, in the N-th Render, or on a thread of its own that Init
//                     starts (the host's thread goes on rendering)
//   crash_by=null|overflow  how: a write through a null pointer (default), or a recursion
//                     without end that runs out of stack
//   own_filter=import|lookup|dllmain  set a top-level exception filter of its own: in Init through
//                     its import or a pointer from GetProcAddress, or in DllMain; the filter logs
//                     "own_filter code=.." and calls the filter it replaced
//   filter_chains=0   ... or ends the process instead (EXCEPTION_EXECUTE_HANDLER)
//   recover=1         take the fault itself and go on from where it was about to crash (the next
//                     Render or Quit logs "recovered code=.."): an overflow by a vectored handler
//                     of its own (added last), another fault by its own filter
//   probe=0           do not ask the player's version (WM_USER/0); asked by default, and below
//                     0x2900 a box says "This plug-in requires Winamp 2.9+" and Init returns 1
//   window=1          create a plain window and register it with 611 (withdrawn by Quit);
//                     Escape and the close box post the quit message
//   embed=1|direct    ask for an embedded frame (505: the function, or the state as wParam) at
//                     (40,40) of the size below, and make the plug-in's window a child of it
//   embed_resize=W,H  then give the frame this size, as a plug-in restoring its own does
//   embed_rect=L,T,R,B  ask for the frame with this rectangle instead (any ints, hostile ones too)
//   box=TYPE|CAPTION|TEXT   a message box in Init (TYPE ok, okcancel, yesno, yesnocancel,
//                     retrycancel, abortretryignore); several lines show several boxes
//   config=box|dialog|labels|none  what Config shows (default dialog: an OK/Cancel dialog;
//                     labels: one with two static labels and an edit field, id 1001)
//   delay=N           the module's delay in ms, set by Init (default 10)
//   gl_clear=R,G,B    draw with GL: every frame clears to that colour and paints the top-left
//                     quadrant white (for frame capture)
//   gdi=R,G,B         the same picture with GDI
//   ddraw=R,G,B       the same picture with DirectDraw (pixels into a surface, blitted to the screen)
//   meter=1           the colour's red and green follow the loudness of the two spectrum rows
//                     (8 x the mean of bins 0-287, at most 255)
//   wave=1            the first waveform row drawn as a yellow line across the middle
//   wave_channels=N   the waveform rows the module asks for (default 2)
//   size=W,H          the window's outer size (default 200,150)
//   render_sleep=N    every Render takes N ms more (a slow plug-in)
//   gl_load=N         with gl_clear: N zoomed, textured, additively blended full-window layers per
//                     frame, a drawing cost like a real visualization's under software GL
//   thread=1|own      draw on a thread of the plug-in's own, every 10 ms, from the rows of the
//                     last Render; own: that thread also makes the windows and runs their messages
//   thread_box=TYPE|CAPTION|TEXT  a message box shown by that thread when it starts
//   thread_open_wait=N  that thread waits N ms after making its windows before it opens its
//                     drawing (makes its GL context current), as a plug-in loading its resources does
//   thread_wait=N     ... and N ms after opening it before its first frame
//   gl_state=1        with gl_clear: set a pack state of its own once (pack alignment 2, row length
//                     16, skip rows 3, skip pixels 5, read buffer front, a pixel pack buffer and a
//                     read framebuffer bound) and log what it finds before each frame:
//                     gl_state alignment=.. row_length=.. skip_rows=.. skip_pixels=.. read_buffer=..
//                     pack_buffer=own|none|other read_framebuffer=own|none|other error=N
//   lookup=1          find GetTickCount (kernel32) and timeGetTime (winmm, loaded for it, and
//                     lookalike_clock.dll when loaded) with GetProcAddress in Init and call them in
//                     every Render: looked_up tick=.. time=.. [lookalike=..]
//   ini=1             ask for the ini file and folders (334, 335, 336), count the starts in
//                     [minimal_vis] in the ini, and look for itself in <ini folder>\Plugins
//   leak=1            every Init keeps 4 MB of written memory and 50 brushes, never freed
//   ask=N[:W],...     ask the player these numbers (wParam W, default 0) in Init, every Render and
//                     Quit; text answers (211, 212, 334-336) are logged as texts
// merged_vis.dll, the same plug-in with code on the pages of its import table (merged_page.cpp).
// lookalike_vis.dll, the same plug-in importing timeGetTime from lookalike_clock.dll (beside it),
// also logs "lookalike time=.." in every Render.
#include "minimal_vis.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

HINSTANCE g_instance = nullptr;
MinimalConfig g_config;
static HWND g_parent = nullptr;
static DWORD g_host_thread = 0;
static HWND g_window = nullptr;  // the plug-in's window: top-level, or a child of the frame
static int g_frames = 0;
static bool g_config_open = false;

// The drawing thread: Render hands it each frame's rows.
static HANDLE g_thread = nullptr;
static volatile LONG g_stop_thread = 0;
static CRITICAL_SECTION g_rows_lock;
static FrameData g_rows;

std::string beside_dll(const char *name) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(g_instance, path, MAX_PATH);
    char *slash = std::strrchr(path, '\\');
    if (slash != nullptr) slash[1] = 0;
    return std::string(path) + name;
}

void log_line(const char *format, ...) {
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

static bool parse_box(const std::string &value, std::vector<BoxRequest> *boxes) {
    size_t bar1 = value.find('|');
    size_t bar2 = bar1 == std::string::npos ? bar1 : value.find('|', bar1 + 1);
    if (bar2 == std::string::npos) return false;
    boxes->push_back(
        {box_type(value.substr(0, bar1)), value.substr(bar1 + 1, bar2 - bar1 - 1), value.substr(bar2 + 1)});
    return true;
}

static void parse_colour(const std::string &value, Drawing drawing) {
    int r = 0, g = 0, b = 0;
    if (std::sscanf(value.c_str(), "%d,%d,%d", &r, &g, &b) != 3) return;
    g_config.drawing = drawing;
    g_config.clear[0] = r / 255.0f;
    g_config.clear[1] = g / 255.0f;
    g_config.clear[2] = b / 255.0f;
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
        else if (key == "end_after") g_config.end_after = number;
        else if (key == "crash") g_config.crash_at = value == "init" ? 0 : value == "thread" ? kCrashOnThread : number;
        else if (key == "crash_by") g_config.crash_overflow = value == "overflow";
        else if (key == "recover") g_config.recover = number != 0;
        else if (key == "own_filter") g_config.own_filter = value;
        else if (key == "filter_chains") g_config.filter_chains = number != 0;
        else if (key == "probe") g_config.probe = number != 0;
        else if (key == "window") g_config.window = number != 0;
        else if (key == "config") g_config.config = value;
        else if (key == "delay") g_config.delay = number;
        else if (key == "meter") g_config.meter = number != 0;
        else if (key == "render_sleep") g_config.render_sleep = number;
        else if (key == "gl_load") g_config.gl_load = number;
        else if (key == "leak") g_config.leak = number != 0;
        else if (key == "size") std::sscanf(value.c_str(), "%d,%d", &g_config.size[0], &g_config.size[1]);
        else if (key == "gl_clear") parse_colour(value, Drawing::gl);
        else if (key == "box") parse_box(value, &g_config.boxes);
        // Behaviours of other people's plug-ins
        else if (key == "embed") g_config.embed = value;
        else if (key == "embed_resize") std::sscanf(value.c_str(), "%d,%d", &g_config.embed_resize[0],
                                                    &g_config.embed_resize[1]);
        else if (key == "embed_rect") g_config.embed_rect_given =
            std::sscanf(value.c_str(), "%d,%d,%d,%d", &g_config.embed_rect[0], &g_config.embed_rect[1],
                        &g_config.embed_rect[2], &g_config.embed_rect[3]) == 4;
        else if (key == "gdi") parse_colour(value, Drawing::gdi);
        else if (key == "ddraw") parse_colour(value, Drawing::ddraw);
        else if (key == "wave") g_config.wave = number != 0;
        else if (key == "wave_channels") g_config.wave_channels = number;
        else if (key == "thread") g_config.thread = value;
        else if (key == "thread_box") parse_box(value, &g_config.thread_boxes);
        else if (key == "thread_open_wait") g_config.thread_open_wait = number;
        else if (key == "thread_wait") g_config.thread_wait = number;
        else if (key == "gl_state") g_config.gl_state = number != 0;
        else if (key == "lookup") g_config.lookup = number != 0;
        else if (key == "ini") g_config.ini = number != 0;
        else if (key == "ask") {
            for (size_t start = 0; start < value.size();) {
                size_t comma = value.find(',', start);
                if (comma == std::string::npos) comma = value.size();
                g_config.ask.push_back(value.substr(start, comma - start));
                start = comma + 1;
            }
        }
    }
    std::fclose(file);
}

static LRESULT ask_player(LPARAM number, WPARAM wparam = 0) {
    return SendMessageA(g_parent, WM_USER, wparam, number);
}

static void post_quit() {
    if (GetCurrentThreadId() == g_host_thread) PostQuitMessage(0);
    else PostThreadMessageA(g_host_thread, WM_QUIT, 0, 0);
}

static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if ((message == WM_KEYDOWN && wparam == VK_ESCAPE) || message == WM_CLOSE) {
        log_line("stop message=%s", message == WM_CLOSE ? "close" : "escape");
        post_quit();
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// The player's frame, as the plug-in asked for it; its window goes inside.
static HWND embed_frame() {
    static EmbedState state;  // the player may keep the pointer while the frame lives
    state = EmbedState();
    state.r = {40, 40, 40 + g_config.size[0], 40 + g_config.size[1]};
    if (g_config.embed_rect_given)
        state.r = {g_config.embed_rect[0], g_config.embed_rect[1], g_config.embed_rect[2], g_config.embed_rect[3]};
    HWND frame = nullptr;
    if (g_config.embed == "direct") {
        frame = reinterpret_cast<HWND>(ask_player(505, reinterpret_cast<WPARAM>(&state)));
    } else {
        typedef HWND(__cdecl * EmbedFunction)(EmbedState *);
        EmbedFunction embed = reinterpret_cast<EmbedFunction>(ask_player(505));
        if (embed != nullptr) frame = embed(&state);
    }
    log_line("embed frame=%llu state_me=%d", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(frame)),
             frame != nullptr && state.me == frame ? 1 : 0);
    return frame;
}

static void make_windows() {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = g_instance;
    window_class.lpszClassName = "MinimalVisWindow";
    RegisterClassA(&window_class);
    if (!g_config.embed.empty()) {
        HWND frame = embed_frame();
        RECT client = {};
        GetClientRect(frame, &client);
        if (frame != nullptr)
            g_window = CreateWindowExA(0, "MinimalVisWindow", "Minimal vis", WS_CHILD | WS_VISIBLE, 0, 0, client.right,
                                       client.bottom, frame, nullptr, g_instance, nullptr);
        // A size of its own for the frame, as a plug-in restoring its last one does; its window
        // is left to the player to fit.
        if (frame != nullptr && g_config.embed_resize[0] > 0)
            SetWindowPos(frame, nullptr, 0, 0, g_config.embed_resize[0], g_config.embed_resize[1],
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (g_config.window) {
        g_window = CreateWindowExA(0, "MinimalVisWindow", "Minimal vis", WS_OVERLAPPEDWINDOW, 40, 40,
                                   g_config.size[0], g_config.size[1], g_parent, nullptr, g_instance, nullptr);
        ask_player(611, reinterpret_cast<WPARAM>(g_window));
        ShowWindow(g_window, SW_SHOW);
    }
    log_line("window handle=%llu", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(g_window)));
}

static void pause_drawing_thread(int ms) {
    for (int waited = 0; waited < ms && !g_stop_thread; waited += 10) Sleep(10);
}

static DWORD WINAPI drawing_thread(void *) {
    if (g_config.thread == "own") make_windows();
    pause_drawing_thread(g_config.thread_open_wait);
    drawing_open(g_window);
    pause_drawing_thread(g_config.thread_wait);
    for (const BoxRequest &box : g_config.thread_boxes)
        log_line("thread_box answer=%d", MessageBoxA(g_parent, box.text.c_str(), box.caption.c_str(), box.type));
    FrameData rows;
    while (!g_stop_thread) {
        EnterCriticalSection(&g_rows_lock);
        rows = g_rows;
        LeaveCriticalSection(&g_rows_lock);
        drawing_frame(rows);
        MSG message;  // this thread's windows, in the own mode
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        Sleep(10);
    }
    drawing_close();
    if (g_config.thread == "own" && g_window != nullptr) DestroyWindow(g_window);
    return 0;
}

// An in-memory dialog template, so Config needs no resource script.
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

// A control of a predefined class (0x80 button, 0x81 edit, 0x82 static); the template's ids are
// 16 bits wide, so a label's -1 is 0xFFFF, as in the classic templates of many plug-ins.
static void add_item(std::vector<WORD> &words, WORD class_atom, WORD id, DWORD style, short x, short y, short cx,
                     const wchar_t *text) {
    while (words.size() % 2 != 0) words.push_back(0);  // items start on a DWORD
    DLGITEMTEMPLATE item = {};
    item.style = WS_CHILD | WS_VISIBLE | style;
    item.x = x;
    item.y = y;
    item.cx = cx;
    item.cy = 14;
    item.id = id;
    const WORD *raw = reinterpret_cast<const WORD *>(&item);
    words.insert(words.end(), raw, raw + sizeof item / 2);
    words.push_back(0xFFFF);
    words.push_back(class_atom);
    add_words(words, text);
    words.push_back(0);  // no creation data
}

static INT_PTR show_config_dialog(HWND owner, bool labels) {
    std::vector<WORD> words;
    DLGTEMPLATE header = {};
    header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    header.cdit = labels ? 5 : 2;
    header.cx = 140;
    header.cy = 60;
    const WORD *raw = reinterpret_cast<const WORD *>(&header);
    words.insert(words.end(), raw, raw + sizeof header / 2);
    words.push_back(0);  // no menu
    words.push_back(0);  // default class
    add_words(words, L"Minimal settings");
    add_item(words, 0x80, IDOK, BS_PUSHBUTTON, 10, 40, 50, L"OK");
    add_item(words, 0x80, IDCANCEL, BS_PUSHBUTTON, 70, 40, 50, L"Cancel");
    if (labels) {
        add_item(words, 0x82, 0xFFFF, SS_LEFT, 4, 4, 40, L"Speed:");
        add_item(words, 0x82, 0xFFFF, SS_LEFT, 4, 22, 40, L"Name:");
        add_item(words, 0x81, 1001, ES_AUTOHSCROLL | WS_BORDER, 50, 22, 80, L"minimal");
    }
    return DialogBoxIndirectParamA(g_instance, reinterpret_cast<DLGTEMPLATE *>(words.data()), owner,
                                   config_dialog_proc, 0);
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
    else if (g_config.config == "dialog" || g_config.config == "labels")
        answer = show_config_dialog(owner, g_config.config == "labels");
    g_config_open = false;
    log_line("config answer=%d", static_cast<int>(answer));
}

// One line per occasion: each number asked and its answer (number:wparam=answer), text answers
// on lines of their own ("text number=211 value=...", the value to the end of the line).
static void ask_listed(const char *when) {
    if (g_config.ask.empty()) return;
    std::string line = std::string("asked when=") + when + " frame=" + std::to_string(g_frames);
    for (const std::string &question : g_config.ask) {
        const LPARAM number = std::atoi(question.c_str());
        const size_t colon = question.find(':');
        const WPARAM wparam = colon == std::string::npos ? 0 : std::atoi(question.c_str() + colon + 1);
        const LRESULT answer = ask_player(number, wparam);
        const bool text = number == 211 || number == 212 || (number >= 334 && number <= 336);
        if (text) log_line("text number=%ld when=%s value=%s", static_cast<long>(number), when,
                           answer != 0 ? reinterpret_cast<const char *>(answer) : "(null)");
        line += " " + question + "=" + std::to_string(static_cast<long long>(answer));
    }
    log_line("%s", line.c_str());
}

// As plug-ins keep their settings: in the player's ini, their own files under its Plugins folder.
static void use_player_ini() {
    const char *ini = reinterpret_cast<const char *>(ask_player(334));
    const char *folder = reinterpret_cast<const char *>(ask_player(335));
    const char *plugins = reinterpret_cast<const char *>(ask_player(336));
    const int starts = GetPrivateProfileIntA("minimal_vis", "starts", 0, ini) + 1;
    const bool written = WritePrivateProfileStringA("minimal_vis", "starts", std::to_string(starts).c_str(), ini) != 0;
    const std::string self = std::string(folder) + "\\Plugins\\minimal_vis.dll";
    log_line("ini file=%s folder=%s plugins=%s starts=%d written=%d found_self=%d", ini, folder, plugins, starts,
             written ? 1 : 0, GetFileAttributesA(self.c_str()) != INVALID_FILE_ATTRIBUTES ? 1 : 0);
}

static DWORD WINAPI crashing_thread(void *) {
    crash();
    return 0;
}

// What the lookup mode found: the tick functions as GetProcAddress gives them.
typedef DWORD(WINAPI *TickFunction)();
static TickFunction g_looked_up_tick = nullptr, g_looked_up_time = nullptr, g_looked_up_lookalike = nullptr;

static TickFunction look_up(HMODULE module, const char *name) {
    FARPROC found = module != nullptr ? GetProcAddress(module, name) : nullptr;
    return reinterpret_cast<TickFunction>(reinterpret_cast<void (*)()>(found));
}

static void log_looked_up() {
    std::string line = "looked_up tick=" + std::to_string(g_looked_up_tick ? g_looked_up_tick() : 0) +
                       " time=" + std::to_string(g_looked_up_time ? g_looked_up_time() : 0);
    if (g_looked_up_lookalike != nullptr) line += " lookalike=" + std::to_string(g_looked_up_lookalike());
    log_line("%s", line.c_str());
}

static int HALCYON_CDECL minimal_init(VisModule *module) {
    read_config();
    g_frames = 0;
    g_parent = static_cast<HWND>(module->parent_window);
    g_host_thread = GetCurrentThreadId();
    char parent_class[128] = "";
    GetClassNameA(g_parent, parent_class, sizeof parent_class);
    log_line("init parent_is_window=%d parent_class=%s instance_is_self=%d sample_rate=%d "
             "channels=%d same_thread=%d tick=%lu",
             IsWindow(g_parent) ? 1 : 0, parent_class,
             module->library_instance == g_instance ? 1 : 0, static_cast<int>(module->sample_rate),
             static_cast<int>(module->channel_count),
             GetWindowThreadProcessId(g_parent, nullptr) == GetCurrentThreadId() ? 1 : 0,
             static_cast<unsigned long>(GetTickCount()));
    module->delay_ms = g_config.delay;
    module->waveform_channels = g_config.wave_channels;
#if defined(MINIMAL_VIS_MERGED)
    merged_report_and_stop();
#endif
    set_own_filter(false);
    if (g_config.crash_at == 0) crash();
    if (g_config.crash_at == kCrashOnThread) CloseHandle(CreateThread(nullptr, 0, crashing_thread, nullptr, 0, nullptr));
    if (g_config.lookup) {
        g_looked_up_tick = look_up(GetModuleHandleA("kernel32.dll"), "GetTickCount");
        g_looked_up_time = look_up(LoadLibraryA("winmm.dll"), "timeGetTime");
        g_looked_up_lookalike = look_up(GetModuleHandleA("lookalike_clock.dll"), "timeGetTime");
    }
    if (g_config.probe) {
        const LRESULT version = ask_player(0);
        log_line("version answer=%ld", static_cast<long>(version));
        if (version < 0x2900) {
            MessageBoxA(g_parent, "This plug-in requires Winamp 2.9+", "Minimal vis", MB_OK);
            return 1;
        }
    }
    for (const BoxRequest &box : g_config.boxes) {
        int answer = MessageBoxA(g_parent, box.text.c_str(), box.caption.c_str(), box.type);
        log_line("box answer=%d", answer);
    }
    static std::vector<void *> leaked;
    if (g_config.leak) {
        if (void *block = std::malloc(4 << 20)) leaked.push_back(std::memset(block, 1, 4 << 20));
        for (int i = 0; i < 50; ++i) leaked.push_back(CreateSolidBrush(RGB(i, 0, 0)));
    }
    if (g_config.ini) use_player_ini();
    ask_listed("init");
    if (g_config.thread != "own") make_windows();
    if (!g_config.thread.empty()) {
        g_stop_thread = 0;
        InitializeCriticalSection(&g_rows_lock);
        g_rows = FrameData();
        g_thread = CreateThread(nullptr, 0, drawing_thread, nullptr, 0, nullptr);
    } else {
        drawing_open(g_window);
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

// Per channel: the loudest bin, its value and the sum of the row; the largest waveform sample.
static int HALCYON_CDECL minimal_render(VisModule *module) {
    log_recovery();
    ++g_frames;
    int peak_bin[2] = {0, 0};
    int peak[2] = {0, 0};
    long sum[2] = {0, 0};
    int wave_peak[2] = {0, 0};
    for (int channel = 0; channel < 2; ++channel) {
        for (int i = 0; i < kSpectrumBins; ++i) {
            int v = module->spectrum_data[channel][i];
            sum[channel] += v;
            if (v > peak[channel]) {
                peak[channel] = v;
                peak_bin[channel] = i;
            }
            wave_peak[channel] = std::max(wave_peak[channel], std::abs(int(int8_t(module->waveform_data[channel][i]))));
        }
    }
    log_line("render frame=%d peak_bin0=%d peak0=%d sum0=%ld peak_bin1=%d peak1=%d sum1=%ld "
             "wave_peak0=%d wave_peak1=%d us=%lld tick=%lu",
             g_frames, peak_bin[0], peak[0], sum[0], peak_bin[1], peak[1], sum[1], wave_peak[0], wave_peak[1],
             microseconds(), static_cast<unsigned long>(GetTickCount()));
    ask_listed("render");
    if (g_config.lookup) log_looked_up();
#if defined(MINIMAL_VIS_LOOKALIKE)
    log_line("lookalike time=%lu", lookalike_time());
#endif
    FrameData rows;
    std::memcpy(rows.spectrum, module->spectrum_data, sizeof rows.spectrum);
    std::memcpy(rows.waveform, module->waveform_data, sizeof rows.waveform);
    if (g_thread != nullptr) {
        EnterCriticalSection(&g_rows_lock);
        g_rows = rows;
        LeaveCriticalSection(&g_rows_lock);
    } else {
        drawing_frame(rows);
    }
    if (g_config.render_sleep > 0) Sleep(static_cast<DWORD>(g_config.render_sleep));
    if (g_config.quit_after > 0 && g_frames == g_config.quit_after) PostQuitMessage(0);
    if (g_config.crash_at > 0 && g_frames == g_config.crash_at) crash();
    if (g_config.end_after > 0) return g_frames >= g_config.end_after ? 1 : 0;
    return g_config.render_result;
}

static void HALCYON_CDECL minimal_quit(VisModule *module) {
    log_recovery();
    if (g_thread != nullptr) {
        g_stop_thread = 1;
        // However long the thread takes (a box the player answers, a loaded machine): unloaded while
        // it still runs, the DLL would pull its code from under it. Messages it sends this thread's
        // windows are answered meanwhile; posted ones stay queued for the player.
        while (MsgWaitForMultipleObjects(1, &g_thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
            MSG message;
            PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        CloseHandle(g_thread);
        g_thread = nullptr;
        DeleteCriticalSection(&g_rows_lock);
    } else {
        drawing_close();
    }
    ask_listed("quit");
    if (g_config.window) SendMessageA(static_cast<HWND>(module->parent_window), WM_USER, 0, 611);
    if (g_window != nullptr && IsWindow(g_window)) DestroyWindow(g_window);  // an embedded frame is the player's
    UnregisterClassA("MinimalVisWindow", g_instance);
    g_window = nullptr;
    log_line("quit frames=%d", g_frames);
}

static VisModule g_module = {
    "Minimal vis module", nullptr, nullptr, 0, 0, 5, 33, 2, 2, {}, {},
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
extern "C" __declspec(dllexport) VisHeader *HALCYON_CDECL winampVisGetHeader() {
#if defined(MINIMAL_VIS_MERGED)
    merged_wait_spinning();
#endif
    return &g_header;
}
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_instance = instance;
        read_config();
        set_own_filter(true);
#if defined(MINIMAL_VIS_MERGED)
        merged_attach();
#endif
    }
#if defined(MINIMAL_VIS_MERGED)
    if (reason == DLL_PROCESS_DETACH) merged_detach();
#endif
    return TRUE;
}
