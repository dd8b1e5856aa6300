// One drawable of the frame, as the scene update fills it in and the drawing reads it.
#pragma once

#include <cstdint>

#include "math/matrix34.h"
#include "math/vec3.h"

struct ModelHandle;

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
    uint32_t matrix_stamp;  // FrameClock value of object_to_world
};
