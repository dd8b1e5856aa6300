// Parent links that come from names and ids in the file, and the guards that keep them finite.
#pragma once

#include "model/model.h"

// Each bone's parent: the first bone of the same array, in index order, whose name equals its
// parent name ignoring ASCII case; an empty parent name or no match makes it a root.
// Loops are then broken (see break_bone_parent_loops).
void resolve_bone_parents(Mesh &mesh);

// The first member of each loop, in index order, becomes a root.
void break_bone_parent_loops(Bone *bones, int32_t bone_count);

// The first member of each loop of meshes, in list order, becomes a root.
void break_mesh_parent_loops(ModelFile &model);
