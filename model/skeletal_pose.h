// The mesh's world matrix, the bones' matrices, the posed vertices and the per-vertex light and
// eye vectors in tangent space, each cached behind a FrameClock stamp.
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

// Light and eye positions (in the space of positions) carried into each vertex's tangent frame.
// Does nothing when frames, normals, either output or the texture coordinates are missing.
void compute_tangent_space_vectors(int32_t vertex_count, const Vec3 *positions, int32_t triangle_count,
                                   const FileTriangle *triangles, TangentFrame *frames,
                                   const PackedVec3 *normals, Vec3 *light_out, Vec3 *eye_out,
                                   const Vec3 &eye_position, const Vec3 &light_position,
                                   const TexCoordPair *pairs, Mesh *mesh);
