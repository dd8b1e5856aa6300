// The passes of one frame: the spheres alone into the blur source, the zoomed feedback background,
// the spheres again, the copy kept for the next frame's background, and the 30-layer radial blur.
#pragma once

#include <cstdint>

#include "render/scene_entity.h"

// A window-sized rectangle texture that carries a picture from one pass to the next.
struct FrameTexture {
    int32_t name;  // -1 until the first copy into it
    int32_t width, height;  // storage size
};

extern FrameTexture blur_source_texture;
extern FrameTexture feedback_texture;

void frame_render();
void draw_entity(SceneEntity &entity);
// Draws the record's successors, then the record: a list from its last record to its first.
void draw_entities_reversed(SceneEntity *entity, bool free_after_drawing);
// Copies the window into the texture, creating (or growing) its storage first when needed.
void copy_frame_to_texture(FrameTexture &texture);
void draw_background();
void draw_radial_blur();
void free_light_list(LightSource *light);
// The GL context is gone with the textures in it: the next frames create them anew.
void frame_renderer_forget_context();
