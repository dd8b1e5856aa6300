// The per-frame scene: the clock, the audio measure, the spheres and their light.
#pragma once

#include "math/vec3.h"
#include "render/scene_entity.h"

struct ModelOffsets {
    Vec3 position;
    Vec3 angles;  // degrees
};

extern ModelOffsets model_offsets;
extern LightSource *light_list;
extern SceneEntity *entity_list;

constexpr const char kModelOffsetsFile[] = "vis_halcyonsphere_assets/modeloffsets.txt";

// Samples the clock, counts the frame, and builds this frame's light and sphere entities from the
// spectrum and options.
void scene_update();
// Loudness of one spectrum row: bins 0 to 287 summed, over 8192 (0 to 8.96). A channel the host
// does not have reads as channel 0; no channels at all give 0.
float audio_energy(int channel);
// Copies the record onto the end of its list.
void light_list_append(const LightSource &light);
void entity_list_append(const SceneEntity &entity);
// Reads the optional position and angle offsets added to every sphere.
void load_model_offsets();
// Parses "(x y z) (a b c)"; fields before the first mismatch take their values. Exposed for tests.
void parse_model_offsets(const char *text, ModelOffsets &offsets);
