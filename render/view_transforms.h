// The fixed camera and an entity's placement, as GL matrix operations: the frame draws with
// them, and the light pass turns an entity's placement into its object-to-world matrix.
#pragma once

#include "math/vec3.h"
#include "render/scene_entity.h"

extern const Vec3 camera_position;
extern const Vec3 camera_angles;

// Multiplies the current modelview matrix by the camera's view transform.
void apply_camera_transform();
// Multiplies the current modelview matrix by the entity's position and angles.
void apply_entity_transform(const SceneEntity &entity);
