#include "settings/user_options.h"

#include "settings/asset_path.h"
#include "shell/file_io.h"
#include "shell/plugin_state.h"

UserOptions default_user_options() {
    UserOptions options{};
    options.width = 512;
    options.height = 384;
    options.fullscreen = 0;
    options.light_panning = 1;
    options.detailed_height = 0;
    options.alt_sphere = 0;
    options.mipmaps = 0;
    options.light_brightness = 512;
    options.radial_brightness = 384;
    options.sphere_size = 768;
    options.sphere_count = 1;
    options.floating = 1;
    options.rotating = 0;
    options.delay = 2;
    return options;
}

RenderSettings default_render_settings(int32_t fullscreen_option) {
    RenderSettings settings{};
    settings.texture_filter_mode = 1;
    settings.fullscreen = fullscreen_option;
    settings.background_zoom_pulse = 0;
    settings.background_double_pass = 0;
    settings.background_zoom = 10.0f;
    settings.radial_blur = 1;
    return settings;
}

bool read_options() {
    char path[kMaxPath];
    const int file = asset_path(kOptionsFile, path) ? file_open_read(path) : -1;
    if (file < 0) {
        plugin_state.options = default_user_options();
        return false;
    }
    // A short file replaces only the leading bytes it holds; the rest keep their values.
    file_read(file, &plugin_state.options, sizeof(UserOptions));
    file_close(file);
    return true;
}

bool write_options() {
    char path[kMaxPath];
    if (!asset_path(kOptionsFile, path)) return false;
    // Not truncated: bytes past the record belong to whoever wrote them and survive.
    const int file = file_open_write_keep(path);
    if (file < 0) return false;
    const bool written = file_write(file, &plugin_state.options, sizeof(UserOptions)) == sizeof(UserOptions);
    file_close(file);
    return written;
}

int32_t delay_ms_for_option(int32_t delay_option) {
    if (delay_option == 0) return 0;
    if (delay_option == 1) return 14;
    return 25;
}
