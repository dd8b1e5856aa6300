// Per-vertex tangent frames, and the light and eye carried into them: what the light pass needs
// of a posed mesh. Used by the pose, the drawing and the tools alike.
#pragma once

#include "model/model.h"

// Fills frames from the positions, normals and texture coordinates. With a mesh whose frames
// are still valid it does nothing; afterwards the mesh's frames are valid and stamped.
void compute_tangent_frames(Mesh *mesh, int32_t vertex_count, const Vec3 *positions, int32_t triangle_count,
                            const FileTriangle *triangles, TangentFrame *frames, const PackedVec3 *normals,
                            const TexCoordPair *pairs);

// Light and eye positions (in the space of positions) carried into each vertex's tangent frame.
// Does nothing when frames, normals, either output or the texture coordinates are missing.
void compute_tangent_space_vectors(int32_t vertex_count, const Vec3 *positions, int32_t triangle_count,
                                   const FileTriangle *triangles, TangentFrame *frames,
                                   const PackedVec3 *normals, Vec3 *light_out, Vec3 *eye_out,
                                   const Vec3 &eye_position, const Vec3 &light_position,
                                   const TexCoordPair *pairs, Mesh *mesh);
