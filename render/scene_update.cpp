#include "render/scene_update.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/asset_loading.h"
#include "model/frame_number.h"
#include "model/model_table.h"
#include "render/frame_clock.h"
#include "settings/asset_path.h"
#include "shell/file_io.h"
#include "shell/platform.h"
#include "shell/plugin_state.h"

ModelOffsets model_offsets;
LightSource *light_list;
SceneEntity *entity_list;

namespace {

constexpr int kEnergyBins = 288;

// Appends a heap copy of record to the list whose head is head; a failed allocation drops it.
template <typename Record>
void list_append(Record *&head, const Record &record) {
    auto *copy = static_cast<Record *>(std::malloc(sizeof(Record)));
    if (!copy) return;
    std::memcpy(copy, &record, sizeof(Record));
    copy->next = nullptr;
    Record **link = &head;
    while (*link) link = &(*link)->next;
    *link = copy;
}

float sphere_distance(int32_t sphere_size) {
    float d = 1.0f - float(sphere_size) * (1.0f / 1024.0f);
    if (d < 0.1f) d = 0.1f;
    return d * 600.0f;
}

// Each factor is a 32-bit float per millisecond; the sine itself is taken at full precision.
float wave_sin(float factor, uint32_t t) { return float(std::sin(double(factor) * double(t))); }
float wave_cos(float factor, uint32_t t) { return float(std::cos(double(factor) * double(t))); }

void place_single_sphere(const UserOptions &options, float distance, uint32_t t, SceneEntity &e) {
    e.position = {distance, 0.0f, 0.0f};
    if (options.floating) {
        e.position.y = 10.0f * wave_cos(0.0001f, t);
        e.position.z = 10.0f * wave_sin(0.0003f, t);
    }
    if (options.rotating) {
        e.angles = {0.0f, 360.0f * wave_sin(0.00001f, t), 360.0f * wave_cos(0.00001f, t)};
    } else {
        const bool tilted = options.detailed_height && !options.alt_sphere;
        e.angles = {tilted ? -25.0f : 0.0f, 90.0f, 180.0f};
    }
    e.model = plugin_state.model_count > 0 ? plugin_state.model_list[0] : nullptr;
}

// Sphere i of several runs 4000 ms ahead of sphere i - 1 on the same path.
void place_one_of_several(float distance, uint32_t t, int i, SceneEntity &e) {
    const uint32_t ti = t + 4000u * uint32_t(i);
    const float w = 100.0f * wave_sin(0.0003f, ti);
    e.position = {distance + w, 100.0f * wave_cos(0.0001f, ti), w};
    e.angles = {0.0f, 360.0f * wave_sin(0.00001f, ti), 360.0f * wave_cos(0.00001f, ti)};
}

// The model of sphere i, loaded the first time the list has no entry for it.
ModelHandle *sphere_model(int i) {
    if (i >= plugin_state.model_count && plugin_state.model_count < kModelListCapacity) {
        char path[kMaxPath];
        ModelHandle *handle = asset_path(sphere_model_file(), path) ? load_model(path) : nullptr;
        if (handle) plugin_state.model_list[plugin_state.model_count++] = handle;
    }
    return i < plugin_state.model_count ? plugin_state.model_list[i] : nullptr;
}

float clamp_unit(float c) { return c < 0.0f ? 0.0f : c > 1.0f ? 1.0f : c; }

LightSource light_for(const UserOptions &options, const Vec3 &sphere) {
    const float e0 = audio_energy(0), e1 = audio_energy(1);
    const float b = float(options.light_brightness) * (1.0f / 1024.0f);
    LightSource light{};
    light.position = {sphere.x - 2000.0f, sphere.y, sphere.z + 300.0f};
    if (options.light_panning) light.position.y = sphere.y - 6000.0f * e0 + 6000.0f * e1;
    light.colour = {clamp_unit(6.0f * b * e0), clamp_unit(6.0f * b * e1), clamp_unit(6.0f * b * e0)};
    light.range = 16384.0f;
    return light;
}

}  // namespace

float audio_energy(int channel) {
    const VisModule *module = plugin_state.module;
    const int32_t channels = module ? module->channel_count : 0;
    if (channel >= channels) channel = 0;
    if (channel >= channels || channel < 0) return 0.0f;
    const uint8_t *row = module->spectrum_data[channel];
    uint32_t sum = 0;
    for (int group = 0; group < kEnergyBins; group += 9)
        for (int bin = group; bin < group + 9; ++bin) sum += row[bin];
    return float(sum) * (1.0f / 8192.0f);
}

void light_list_append(const LightSource &light) { list_append(light_list, light); }
void entity_list_append(const SceneEntity &entity) { list_append(entity_list, entity); }

void scene_update() {
    const uint32_t t = FrameClock = platform_get_tick_count();
    advance_frame_number();
    const UserOptions &options = plugin_state.options;
    const float distance = sphere_distance(options.sphere_size);
    SceneEntity entity{};
    // Counts from a hand-edited file: none below 1, and no more spheres than the model list holds.
    for (int i = 0; i < options.sphere_count && i < kMaxSphereCount; ++i) {
        if (options.sphere_count == 1) {
            place_single_sphere(options, distance, t, entity);
        } else {
            place_one_of_several(distance, t, i, entity);
            entity.model = sphere_model(i);
        }
        vec3_add(entity.position, model_offsets.position, entity.position);
        vec3_add(entity.angles, model_offsets.angles, entity.angles);
        entity.half_width = entity.half_height = 10.0f;
        entity.blend_src = entity.blend_dst = entity.alpha_func = entity.back_texture = -1;
        entity.no_depth_write = 0;
        entity.decal_texture = decal_texture_name;
        entity.normal_texture = normal_texture_name;
        entity.model_scale = 1.0f;
        if (i == 0) light_list_append(light_for(options, entity.position));
        entity_list_append(entity);
    }
}

void parse_model_offsets(const char *text, ModelOffsets &offsets) {
    float *fields[6] = {&offsets.position.x, &offsets.position.y, &offsets.position.z,
                        &offsets.angles.x,   &offsets.angles.y,   &offsets.angles.z};
    float values[6];
    const int read = std::sscanf(text, "(%f %f %f) (%f %f %f)", &values[0], &values[1], &values[2], &values[3],
                                 &values[4], &values[5]);
    for (int i = 0; i < read; ++i) *fields[i] = values[i];
}

void load_model_offsets() {
    char path[kMaxPath];
    uint32_t length = 0;
    char *bytes = asset_path(kModelOffsetsFile, path) ? reinterpret_cast<char *>(file_read_whole(path, &length))
                                                      : nullptr;
    if (!bytes) return;
    // The text is the file's bytes; a terminator after them keeps the scan inside the block.
    char *text = static_cast<char *>(std::realloc(bytes, size_t(length) + 1));
    if (text) {
        text[length] = '\0';
        parse_model_offsets(text, model_offsets);
    }
    std::free(text ? text : bytes);
}
