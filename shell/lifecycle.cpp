#include "shell/lifecycle.h"

#include "image/asset_loading.h"
#include "render/frame_renderer.h"
#include "render/scene_update.h"
#include "settings/options_dialog.h"
#include "settings/user_options.h"
#include "shell/display.h"
#include "shell/gl_extensions.h"
#include "shell/platform.h"
#include "shell/plugin_name.h"
#include "shell/plugin_state.h"

PluginState plugin_state;

namespace {

void show_plugin_message(const char *text) {
    platform_message_box(plugin_state.module->parent_window, text, kPluginName, win32::MB_OK);
}

// Once the host holds the render window, it must let go of it before the window is destroyed.
void withdraw_and_close_display(VisModule *module) {
    platform_send_message(module->parent_window, kHostMessage, 0, kHostRegisterWindow);
    destroy_display();
    // The frame textures went with the GL context; the next start makes its own.
    frame_renderer_forget_context();
}

}  // namespace

void HALCYON_CDECL plugin_config(VisModule *module) {
    // The modal dialog's own message loop can call us again; one dialog is enough.
    if (plugin_state.config_open) return;
    plugin_state.module = module;
    plugin_state.config_open = 1;
    run_options_dialog(module->library_instance, module->parent_window);
    plugin_state.config_open = 0;
}

int HALCYON_CDECL plugin_init(VisModule *module) {
    plugin_state.module = module;
    // Created before the version probe, so even a refused start leaves the defaults on disk.
    if (!read_options()) write_options();
    load_model_offsets();
    module->delay_ms = delay_ms_for_option(plugin_state.options.delay);
    plugin_state.settings = default_render_settings(plugin_state.options.fullscreen);
    // A size below one pixel would make no window and divide by zero in the projection.
    plugin_state.viewport_width = plugin_state.options.width > 0 ? plugin_state.options.width : 1;
    plugin_state.viewport_height = plugin_state.options.height > 0 ? plugin_state.options.height : 1;

    if (platform_send_message(module->parent_window, kHostMessage, 0, kHostVersionProbe) == 0) {
        show_plugin_message("This plugin requires Winamp 5.0+");
        return 1;
    }
    if (!open_display()) return 1;

    platform_set_window_user_data(plugin_state.window, module);
    platform_send_message(module->parent_window, kHostMessage, reinterpret_cast<uintptr_t>(plugin_state.window),
                          kHostRegisterWindow);
    if (plugin_state.fullscreen_active && !plugin_state.monitor_chosen)
        platform_minimize_by_placement(module->parent_window);
    platform_show_window(plugin_state.window, win32::SW_SHOW);
    platform_set_foreground_window(plugin_state.window);
    platform_set_focus(plugin_state.window);
    set_viewport(plugin_state.viewport_width, plugin_state.viewport_height);

    if (!check_gl_extensions()) {
        withdraw_and_close_display(module);
        return 1;
    }
    if (!init_gl_state()) {
        show_plugin_message("ERRORCODE8");
        withdraw_and_close_display(module);
        return 1;
    }
    // The cleared frame shows while the assets load.
    platform_swap_buffers(plugin_state.device_context);
    const int result = load_assets();
    // A player that stops and starts the visualization again within one load gets frames again.
    if (result == 0) plugin_state.quitting = 0;
    return result;
}

int HALCYON_CDECL plugin_render(VisModule *) {
    if (plugin_state.quitting) return 0;
    scene_update();
    frame_render();
    platform_swap_buffers(plugin_state.device_context);
    return 0;
}

void HALCYON_CDECL plugin_quit(VisModule *module) {
    plugin_state.quitting = 1;
    withdraw_and_close_display(module);
}
