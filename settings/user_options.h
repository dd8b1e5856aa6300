// The user's options: fourteen 32-bit words stored byte for byte in useropt.cfg, and the renderer
// settings that every Init resets.
#pragma once

#include <cstddef>
#include <cstdint>

struct UserOptions {
    int32_t width;
    int32_t height;
    int32_t fullscreen;
    int32_t light_panning;
    int32_t detailed_height;
    int32_t alt_sphere;
    int32_t mipmaps;
    int32_t light_brightness;
    int32_t radial_brightness;
    int32_t sphere_size;
    int32_t sphere_count;
    int32_t floating;
    int32_t rotating;
    int32_t delay;
};
static_assert(sizeof(UserOptions) == 56, "useropt.cfg holds exactly this record");
static_assert(offsetof(UserOptions, width) == 0 && offsetof(UserOptions, height) == 4 &&
                  offsetof(UserOptions, fullscreen) == 8 && offsetof(UserOptions, light_panning) == 12 &&
                  offsetof(UserOptions, detailed_height) == 16 && offsetof(UserOptions, alt_sphere) == 20 &&
                  offsetof(UserOptions, mipmaps) == 24 && offsetof(UserOptions, light_brightness) == 28 &&
                  offsetof(UserOptions, radial_brightness) == 32 && offsetof(UserOptions, sphere_size) == 36 &&
                  offsetof(UserOptions, sphere_count) == 40 && offsetof(UserOptions, floating) == 44 &&
                  offsetof(UserOptions, rotating) == 48 && offsetof(UserOptions, delay) == 52,
              "useropt.cfg field offsets");

constexpr int32_t kMaxSphereCount = 256;

struct RenderSettings {
    int32_t texture_filter_mode;
    int32_t fullscreen;
    int32_t background_zoom_pulse;
    int32_t background_double_pass;
    float background_zoom;
    int32_t radial_blur;
};

constexpr const char kOptionsFile[] = "vis_halcyonsphere_assets/useropt.cfg";

UserOptions default_user_options();
RenderSettings default_render_settings(int32_t fullscreen_option);

// Fills the live options from the file; false (and the defaults) when the file could not be opened.
bool read_options();
// Writes the live options over the first 56 bytes of the file, creating it when missing.
bool write_options();

// Module delay in milliseconds for the delay option.
int32_t delay_ms_for_option(int32_t delay_option);
