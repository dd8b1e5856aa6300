// A recording stand-in for the platform seam and the GL: every call is logged in order as text,
// any call can be made to fail by name, message boxes and host messages are kept with their texts.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "shell/platform.h"

struct FakeMessageBox {
    WindowHandle owner;
    std::string text;
    std::string caption;
    uint32_t type;
};

struct FakeHostMessage {
    WindowHandle window;
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
};

struct FakeWindow {
    uint32_t ex_style, style;
    int32_t x, y, width, height;
    WindowHandle owner;
    std::string class_name, title;
};

struct FakeMatrix {
    float m[16];  // column-major, as GL hands it out
};
constexpr FakeMatrix kFakeIdentity = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

struct FakeMonitor {
    MonitorInfoEx info;
    bool readable;
};

// A control of the options dialog as the user sees it. A new slider's range is 0 to 100, as a
// real trackbar's is.
struct FakeControl {
    std::string text;
    uint32_t checked = 0;
    int32_t low = 0, high = 100, position = 0;
};

struct FakePlatform {
    std::vector<std::string> calls;  // "name" or "name(arguments)", platform and GL together
    std::set<std::string> failing;   // names of platform calls that fail

    // Library and host.
    std::string module_file_name = "C:\\Winamp\\Plugins\\vis_halcyonsphere.dll";
    intptr_t probe_answer = 0x5010;
    std::vector<FakeHostMessage> host_messages;
    std::vector<FakeMessageBox> boxes;
    std::vector<int> box_answers;  // consumed in order; IDOK for OK boxes, IDNO for questions after
    int quit_messages = 0;
    uint32_t tick_count = 0;

    // Windows and displays.
    std::vector<FakeWindow> windows;
    std::vector<FakeMonitor> monitors;
    int32_t display_change_result = 0;
    std::vector<std::string> display_changes;  // "whole:WxHxB", "device:NAME:WxHxB", "restore"
    int cursor_level = 0;
    bool window_minimized = false;
    void *window_user_data = nullptr;
    int swaps = 0;

    // GL.
    std::string gl_extensions = "GL_ARB_multitexture GL_EXT_texture_rectangle GL_ARB_fragment_program";
    bool gl_extensions_null = false;
    int32_t gl_texture_units = 8;
    bool gl_leaves_texture_units_alone = false;
    std::set<std::string> missing_entry_points;
    int32_t program_error_position = -1;
    std::string program_error_text;
    std::vector<std::string> program_texts;  // every text handed to glProgramStringARB
    bool gl_quiet = false;  // GL calls answer as before but are not logged (the CPU benchmark)
    // The modelview, projection and texture stacks, so that glGetFloatv answers as a driver would.
    std::vector<FakeMatrix> gl_matrix_stacks[3] = {{kFakeIdentity}, {kFakeIdentity}, {kFakeIdentity}};
    int gl_matrix_mode = 0;  // index into gl_matrix_stacks

    // The options dialog: its controls by id, and the user, who acts once the dialog has opened.
    // A dialog the user leaves open simply returns (a real one would wait).
    std::map<int, FakeControl> controls;
    std::function<void(WindowHandle dialog)> user;
    InstanceHandle dialog_instance = nullptr;
    WindowHandle dialog_owner = nullptr;
    bool dialog_ended = false;
    intptr_t dialog_result = 0;
};

extern FakePlatform fake;

// Back to a fresh fake and a fresh plug-in state (as at library load).
void fake_reset();
bool fake_called(const std::string &name);
int fake_call_count(const std::string &name);
// Index of the first call named name in the log, or -1.
int fake_call_index(const std::string &name);

// What the user does in the open options dialog: each goes through the dialog's procedure as the
// real control's notification would.
void fake_type(WindowHandle dialog, int id, const std::string &text);
void fake_click(WindowHandle dialog, int id);  // check boxes toggle; OK and Cancel are commands
void fake_slide(WindowHandle dialog, int id, int32_t position);
void fake_close_box(WindowHandle dialog);
