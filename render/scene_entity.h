// The frame's records as the scene update fills them in and the drawing reads them: one light and
// one entity per sphere, each in a singly linked list that lives for one frame.
#pragma once

#include <cstdint>

#include "math/matrix34.h"
#include "math/vec3.h"

struct ModelHandle;

struct LightSource {
    Vec3 position;
    Vec3 unused_vector;
    Vec3 colour;  // r, g, b in 0..1
    float range;  // 16384: kept for the record's shape, read by nobody
    int32_t unused_word;
    LightSource *next;
};

struct SceneEntity {
    Vec3 position;
    Vec3 angles;  // degrees
    float half_width;
    float half_height;
    int32_t blend_src;   // GL blend factor, -1 for none
    int32_t blend_dst;   // -1: same as blend_src
    int32_t alpha_func;  // GL comparison, -1 for no alpha test
    int32_t no_depth_write;
    int32_t decal_texture;
    int32_t back_texture;  // -1 for none
    int32_t normal_texture;
    SceneEntity *next;
    uint8_t force_pose_update;  // nonzero: pose the model again even if nothing changed
    float model_scale;
    ModelHandle *model;  // null: drawn as a quad
    Matrix34 object_to_world;
    uint32_t matrix_stamp;  // FrameNumber of object_to_world
};
