// halcyon_host: drives a visualization DLL as the player does, in the open. See kHostUsage.
//
// Events, one JSON object per line, in the order they happen:
//   loaded, swap_capture, player_files, [clock,] config, [cycle,] init, [ready,] [pacing,] frame,
//   [no_picture,] capture..., quit_message (its cause, escape or close, where the host saw it), poke,
//   quit, [embed_frames_closed,] end; and from inside the plug-in's calls (and its threads):
//   message_box, dialog, host_message, embed, config_reentry, and for a scripted dialog
//   dialog_controls, dialog_action, dialog_shot. dialog_template after loaded when asked. error
//   when the DLL cannot be used, the spectrum stream is bad, or a capture or the video cannot be
//   written. crash, last, when a fault ends the process (crash_report.h).
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "host/crash_report.h"
#include "host/dialog_hook.h"
#include "host/dialog_template.h"
#include "host/embed_window.h"
#include "host/frame_capture.h"
#include "host/host_options.h"
#include "host/host_pacing.h"
#include "host/message_pump.h"
#include "host/module_loader.h"
#include "host/parent_window.h"
#include "host/player_files.h"
#include "host/swap_capture.h"
#include "host/user_stop.h"
#include "host/video_out.h"
#include "host/virtual_clock.h"
#include "player/event_log.h"
#include "player/frame_loop.h"
#include "player/player_answers.h"
#include "player/run_steps.h"

const char kProgramName[] = "halcyon_host";
static VisModule *g_module = nullptr;

// Called by the dialog hook with the first dialog: a second Config while the first is open.
static void reenter_config(HWND dialog) {
    (void)dialog;
    g_module->config(g_module);
    JsonLine line = json_begin("config_reentry");
    json_bool(line, "returned", true);
    event_write(line);
}

intptr_t post_to_render_window(uint32_t message, uintptr_t wparam, intptr_t lparam, bool *posted) {
    HWND target = window_of_plugin();
    *posted = target != nullptr && PostMessageA(target, message, wparam, lparam);
    return reinterpret_cast<intptr_t>(target);
}

int main(int argc, char **argv) {
    HostOptions options;
    std::string error;
    if (!host_options_parse(argc, argv, &options, &error)) return refuse_command_line(error, kHostUsage);
    RunOptions &run = options.run;
    if (!run_log_open(run.log)) return 2;
    crash_report_install();

    if (run.capture && !CreateDirectoryA(run.capture, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        const std::string text = std::string("cannot make the capture folder ") + run.capture + " (error " +
                                 std::to_string(GetLastError()) + ")";
        log_error("capture", text.c_str());
        event_log_close();
        return 3;
    }
    if (!spectrum_stream_prepare(&run)) return 2;
    if (run.video != nullptr && !video_out_open(run.video)) {
        JsonLine line = json_begin("error");
        json_string(line, "what", "video");
        json_string(line, "text", "cannot open the video output");
        event_write(line);
        event_log_close();
        std::fprintf(stderr, "%s: cannot open %s\n", kProgramName, run.video);
        return 3;
    }

    event_log_set_phase("load");
    // As a player does at start: plug-in dialogs may use the common controls (sliders) unregistered.
    INITCOMMONCONTROLSEX common_controls = {sizeof common_controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&common_controls);
    player_setup(run.probe_answer, run.embed, run.track,
                 {"\\/", embed_window_answer, parent_window_note_registration, ini_file_open, ini_file_writable});
    HWND parent = parent_window_create(GetModuleHandleA(nullptr));
    if (parent == nullptr) {
        JsonLine line = json_begin("error");
        json_string(line, "what", "parent_window");
        json_int(line, "code", static_cast<long long>(GetLastError()));
        event_write(line);
        return 1;
    }
    embed_windows_init(parent);
    dialog_hook_install(parent, run.answers, options.config_reenter ? reenter_config : nullptr);
    dialog_hook_set_script(options.dialog);
    user_stop_install();

    LoadedModule loaded;
    if (!module_load(options.dll, &loaded)) {
        dialog_hook_remove();
        user_stop_remove();
        parent_window_destroy(parent);
        event_log_close();
        return 1;
    }
    crash_report_watch(loaded.library);
    JsonLine swaps = json_begin("swap_capture");
    json_int(swaps, "imports_rewritten", swap_capture_install(loaded.library));
    event_write(swaps);
    char dll_path[MAX_PATH] = "";
    GetModuleFileNameA(loaded.library, dll_path, MAX_PATH);
    char current[MAX_PATH] = ".";
    GetCurrentDirectoryA(MAX_PATH, current);
    player_files_prepare(path_folder(dll_path, "\\/"), current);
    if (options.dialog_template >= 0) dialog_template_log(loaded.library, options.dialog_template);
    VisModule *module = loaded.module;
    g_module = module;
    if (run.clock.enabled) {
        JsonLine clock = json_begin("clock");
        json_int(clock, "imports_rewritten", virtual_clock_install(loaded.library, run.clock));
        json_clock(clock, run.clock);
        event_write(clock);
    }
    module_setup(module, run, parent, loaded.library);

    const RowSource rows = rows_of_spectrum();
    const FrameOutlet outlet = {frame_capture, video_out_begin, video_out_frame};
    const char *reason = "config_done";
    RunTotals totals;
    if (options.config) {
        event_log_set_phase("config");
        module->config(module);
        JsonLine line = json_begin("config");
        json_bool(line, "returned", true);
        event_write(line);
        pump_messages(0);
    }
    for (int cycle = 0; options.init && cycle < run.cycles; ++cycle) {
        log_cycle(run, cycle);
        reason = run_module(run, module, cycle, kHostPacing, rows, outlet, &totals);
        if (totals.init_failed || totals.video_failed || totals.capture_failed || totals.stream_failed) break;
    }

    event_log_set_phase("end");
    bool parent_minimized = IsIconic(parent) != 0;
    dialog_hook_remove();
    user_stop_remove();
    int dialogs = dialog_hook_count();
    module_unload(&loaded);
    parent_window_destroy(parent);

    log_end(reason, totals, dialogs, parent_minimized);
    event_log_close();
    video_out_close();
    // As the native program: a plug-in that would not start fails the run.
    return totals.video_failed || totals.capture_failed ? 3 : totals.stream_failed ? 2 : totals.init_failed ? 1 : 0;
}
