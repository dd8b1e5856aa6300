// The one process-wide state record, zero when the library is loaded. Each layer owns its fields.
#pragma once

#include <cstdint>

#include "settings/user_options.h"
#include "shell/gl_entry_points.h"
#include "shell/platform.h"
#include "shell/vis_module.h"

struct ModelHandle;

constexpr int kModelListCapacity = 256;

struct PluginState {
    // Lifecycle.
    VisModule *module;
    int32_t quitting;
    uint8_t config_open;

    // Options.
    UserOptions options;
    RenderSettings settings;

    // Display window and GL context.
    int32_t viewport_width, viewport_height;
    InstanceHandle class_instance;
    WindowHandle window;
    DeviceContextHandle device_context;
    GlContextHandle gl_context;
    int32_t fullscreen_active;
    uint8_t monitor_chosen;
    MonitorInfoEx monitor_info;

    // GL extensions.
    int32_t texture_unit_count;
    uint32_t light_program;
    GlEntryPoints gl;

    // Models loaded for the spheres.
    ModelHandle *model_list[kModelListCapacity];
    int32_t model_count;
};

extern PluginState plugin_state;
