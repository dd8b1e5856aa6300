// What the light pass keeps beside each mesh between passes and frames: the tangent frames, the
// light and eye vectors, and the pose and points they were computed for. The renderer alone reads
// and writes it; the mesh only frees the block with itself.
#pragma once

#include <cstdint>

#include "math/vec3.h"
#include "model/model.h"
#include "model/tangent_frames.h"

struct MeshDrawCache {
    TangentFrame *tangent_frames;  // vertex_count of each array, in the same block
    Vec3 *light_vectors;
    Vec3 *eye_vectors;
    uint32_t frames_pose;   // the mesh's pose_stamp when the frames were built; 0: never
    uint32_t vectors_pose;  // the mesh's pose_stamp when the vectors were computed; 0: never
    Vec3 light, eye;        // the points the vectors were computed for (space of posed_positions)
};

// The mesh's cache, made as one block on first use; null when memory runs out.
MeshDrawCache *mesh_draw_cache(Mesh &mesh);

// The cache's frames and vectors brought up to date for these two points, unless they hold them
// already: the second entity pass of a frame (and a still scene) finds them in place, bit for bit
// what a fresh computation gives. A skinned mesh's frames follow its pose; the others' are built
// once, from the first pose lit. Without posed positions, normals or texture coordinates it does
// nothing.
void update_light_and_eye_vectors(const Mesh &mesh, MeshDrawCache &cache, const Vec3 &light, const Vec3 &eye);
