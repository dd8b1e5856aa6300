#include "native/player_session.h"

#include <GL/gl.h>

#include "native/player_window.h"
#include "native/plugin_folder.h"
#include "player/clock_setting.h"
#include "player/event_log.h"
#include "player/player_answers.h"
#include "player/run_steps.h"
#include "shell/module_export.h"
#include "shell/platform_linux.h"

namespace {

std::string g_last_box;
bool g_folder = false, g_platform = false, g_log = false;

int answer_box(WindowHandle owner, const char *text, const char *caption, uint32_t type) {
    g_last_box = text ? text : "";
    return player_answer_box(owner, text, caption, type);
}

}  // namespace

bool player_session_start(PlayerSession *session, VisModule **module, std::string *error) {
    g_last_box.clear();
    if (!event_log_open(session->log.empty() ? "/dev/null" : session->log.c_str())) {
        *error = "cannot write the log " + session->log;
        return false;
    }
    g_log = true;
    const std::string run_folder = absolute_path(".");
    PluginFolderRequest folder = {run_folder, nullptr, session->options.width, session->options.height};
    folder.asset_folder = session->asset_folder;
    folder.record = &session->options;
    if (!plugin_folder_enter(folder, error)) {
        player_session_end();
        return false;
    }
    g_folder = true;
    LinuxPlatformSetup setup;
    setup.on_screen = session->window;
    setup.gl = session->gl;
    setup.gl_device = session->gl_device;
    setup.parent = player_window();
    setup.answer_parent = player_answer_message;
    setup.answer_box = answer_box;
    setup.boxes_on_stderr = false;  // the command's own failure line carries the box's text
    if (session->run.clock.enabled) setup.tick_count = virtual_clock_now;
    if (!platform_linux_start(setup, error)) {
        player_session_end();
        return false;
    }
    g_platform = true;
    RunOptions &run = session->run;
    event_log_set_phase("load");
    player_setup(run.probe_answer, run.embed, run.track, kLinuxPlayerPlatform);
    player_boxes_setup(run.answers.data(), int(run.answers.size()));
    VisHeader *header = winampVisGetHeader();
    JsonLine loaded = json_begin("loaded");
    json_null(loaded, "dll");  // built in
    *module = log_loaded(header, loaded);
    player_files_prepare(absolute_path("."), run_folder);
    virtual_clock_use(run.clock);
    module_setup(*module, run, player_window(), header);
    return true;
}

void player_session_end() {
    if (g_platform) platform_linux_stop();
    if (g_folder) plugin_folder_leave();
    if (g_log) event_log_close();
    g_platform = g_folder = g_log = false;
}

const std::string &player_session_last_box() { return g_last_box; }

const char *player_session_gl_lost() { return platform_linux_gl_lost() ? "gl_lost" : nullptr; }

std::string player_session_gl_lost_reason() {
    const char *lost = platform_linux_gl_lost();
    return std::string("the GL context was lost") + (lost ? std::string(": ") + lost : "");
}

std::string player_session_renderer() {
    if (!platform_linux_gl_current()) return "";
    const GLubyte *renderer = glGetString(GL_RENDERER);
    const std::string name = renderer ? reinterpret_cast<const char *>(renderer) : "an unnamed GL";
    const std::string kind = platform_linux_display_kind();
    if (kind == "window") return name + " in a window on your display";
    if (kind == "device") return name + ": a graphics card through its EGL device, no display needed";
    return name + ": software rendering on the CPU, no display needed";
}
