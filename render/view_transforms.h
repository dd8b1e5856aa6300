// The fixed camera and an entity's placement, as GL matrix operations: the frame draws with
// them, and the light pass turns an entity's placement into its object-to-world matrix.
#pragma once

#include "math/vec3.h"
#include "render/scene_entity.h"

extern const Vec3 camera_position;
extern const Vec3 camera_angles;

// The camera's view as GL builds it: these rotations in this order, then the translation by
// -camera_position. Also applied on the CPU, to skip what the camera cannot see.
struct CameraTurn {
    float degrees;
    Vec3 axis;
};
constexpr int kCameraTurns = 3;
void camera_turns(CameraTurn turns[kCameraTurns]);
// Multiplies the current modelview matrix by the camera's view transform.
void apply_camera_transform();
// Multiplies the current modelview matrix by the entity's position and angles.
void apply_entity_transform(const SceneEntity &entity);
