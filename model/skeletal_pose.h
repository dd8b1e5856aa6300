// The mesh's world matrix, the bones' matrices and the posed vertices, each cached behind a
// FrameNumber stamp: computed at most once per frame.
#pragma once

#include "model/model.h"

// Roots are scaled uniformly by scale (above 0.001); children with positions copy their
// parent's world; meshes without positions hold the identity.
void update_mesh_transform(Mesh &mesh, float scale);

// world = parent's world composed with local (local alone for a root); skin = world.
void update_bone(Bone &bone);

// Brings posed_positions (and posed_normals for skinned meshes) up to date for an entity drawn at
// this scale. A posed mesh keeps its pose while the scale stays, unless forced; even forced it is
// posed at most once per frame.
void update_mesh_vertices(Mesh &mesh, float scale, bool force);
