// The passes of one frame: the spheres alone into the blur source, the zoomed feedback background,
// the spheres again, the copy kept for the next frame's background, and the 30-layer radial blur.
#pragma once

#include <cstdint>

#include "math/vec3.h"
#include "render/scene_entity.h"

// A window-sized rectangle texture that carries a picture from one pass to the next.
struct FrameTexture {
    int32_t name;  // -1 until the first copy into it
    int32_t width, height;  // storage size
};

extern FrameTexture blur_source_texture;
extern FrameTexture feedback_texture;
extern const Vec3 camera_position;
extern const Vec3 camera_angles;

void frame_render();
void draw_entity(SceneEntity &entity);
// Draws the record's successors, then the record: a list from its last record to its first.
void draw_entities_reversed(SceneEntity *entity, bool free_after_drawing);
// Copies the window into the texture, creating (or growing) its storage first when needed.
void copy_frame_to_texture(FrameTexture &texture);
void draw_background();
void draw_radial_blur();
// The camera's view as GL builds it: these rotations in this order, then the translation by
// -camera_position. Also applied on the CPU, to skip what the camera cannot see.
struct CameraTurn {
    float degrees;
    Vec3 axis;
};
constexpr int kCameraTurns = 3;
void camera_turns(CameraTurn turns[kCameraTurns]);
void apply_camera_transform();
void apply_entity_transform(const SceneEntity &entity);
void free_light_list(LightSource *light);
// The GL context is gone with the textures in it: the next frames create them anew.
void frame_renderer_forget_context();
