// The mesh's world matrix, the bones' matrices and the posed vertices, each cached behind a
// FrameClock stamp.
#pragma once

#include "model/model.h"

struct SceneEntity;

// Roots are scaled uniformly by scale (above 0.001); children with positions copy their
// parent's world; meshes without positions hold the identity.
void update_mesh_transform(Mesh &mesh, float scale);

// world = parent's world composed with local (local alone for a root); skin = world.
void update_bone(Bone &bone);

// Brings posed_positions (and posed_normals for skinned meshes) up to date. entity may be null.
void update_mesh_vertices(const SceneEntity *entity, Mesh &mesh);
