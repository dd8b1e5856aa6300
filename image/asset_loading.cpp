#include "image/asset_loading.h"

#include <cstdlib>

#include "image/texture_manager.h"
#include "model/file_cache.h"
#include "model/model_table.h"
#include "settings/asset_path.h"
#include "shell/platform.h"
#include "shell/plugin_name.h"
#include "shell/plugin_state.h"

int32_t decal_texture_name;
int32_t normal_texture_name;

namespace {

// Image textures are always clamped: nearest when the configured mode is nearest, else linear.
int32_t override_filter_mode() {
    const int32_t saved = upload_filter_mode;
    upload_filter_mode = saved == 0 ? 3 : 2;
    return saved;
}

// Opens, reads and closes one asset image; null when it cannot be opened or is refused.
RgbaImage *read_asset_image(const char *relative_path) {
    char path[kMaxPath];
    if (!asset_path(relative_path, path) || !bmp_open(path)) {
        bmp_close();
        return nullptr;
    }
    RgbaImage *image = bmp_read(0, 0);
    bmp_close();
    return image;
}

}  // namespace

int32_t merge_height_into_alpha(RgbaImage &normal, const RgbaImage &height) {
    if (normal.width != height.width || normal.height != height.height) return 0;
    const int64_t count = int64_t(normal.width) * int64_t(normal.height);
    if (count <= 0) return 0;
    for (int64_t k = 0; k < count; ++k) normal.pixels[k * 4 + 3] = height.pixels[k * 4];
    return int32_t(count);
}

int load_asset_images() {
    const bool detailed = plugin_state.options.detailed_height != 0;
    int32_t saved = override_filter_mode();
    RgbaImage *height = read_asset_image(detailed ? kDetailedHeightImage : kHeightImage);
    upload_filter_mode = saved;
    if (!height) return 0;

    saved = override_filter_mode();
    RgbaImage *decal = read_asset_image(kDecalImage);
    if (decal) decal_texture_name = texture_upload(*decal);
    upload_filter_mode = saved;
    const bool decal_loaded = decal != nullptr;
    std::free(decal);
    if (!decal_loaded) {
        std::free(height);
        return 0;
    }

    saved = override_filter_mode();
    RgbaImage *normal = read_asset_image(kNormalImage);
    if (normal) {
        // A height image of another size leaves the normal map's alpha at 255: flat, not wrong.
        merge_height_into_alpha(*normal, *height);
        normal_texture_name = texture_upload(*normal);
    }
    upload_filter_mode = saved;
    const bool normal_loaded = normal != nullptr;
    std::free(normal);
    std::free(height);
    return normal_loaded ? 1 : 0;
}

const char *sphere_model_file() { return plugin_state.options.alt_sphere ? kAltSphereModel : kSphereModel; }

int load_assets() {
    upload_filter_mode = plugin_state.settings.texture_filter_mode;
    if (!load_asset_images()) {
        platform_message_box(plugin_state.module->parent_window, "Image load failed.", kPluginName, win32::MB_OK);
        platform_post_quit_message(0);
        return 1;
    }
    char path[kMaxPath];
    // A missing sphere model is no failure: the sphere is drawn as a flat textured quad then.
    if (asset_path(sphere_model_file(), path) && file_cache_load(path) != -1) {
        ModelHandle *handle = load_model(path);
        if (handle && plugin_state.model_count < kModelListCapacity)
            plugin_state.model_list[plugin_state.model_count++] = handle;
    }
    return 0;
}
