// Per-vertex tangent frames, and the light and eye carried into them: what the light pass needs
// of a posed mesh. Plain computations over arrays; what is kept between passes and frames is the
// renderer's (render/mesh_draw_cache.h). Used by the drawing and the tools alike.
#pragma once

#include "model/model.h"

struct TangentFrame {
    int32_t count;  // triangle corners at this vertex
    Vec3 tangent;   // direction in which s grows
    Vec3 binormal;  // direction in which t grows
    Vec3 normal;    // the vertex normal in force when the frame was computed
};

// Fills one frame per vertex from the positions, normals (null: zero normals) and texture
// coordinates; without positions, triangles or coordinates every frame stays empty.
void compute_tangent_frames(int32_t vertex_count, const Vec3 *positions, int32_t triangle_count,
                            const FileTriangle *triangles, const PackedVec3 *normals, const TexCoordPair *pairs,
                            TangentFrame *frames);

// Light and eye positions (in the space of positions) carried into each vertex's tangent frame.
void compute_tangent_space_vectors(int32_t vertex_count, const Vec3 *positions, const TangentFrame *frames,
                                   const Vec3 &light_position, const Vec3 &eye_position, Vec3 *light_out,
                                   Vec3 *eye_out);

// The normals a mesh's frames are built on: the posed ones of a skinned mesh, else its own.
inline const PackedVec3 *mesh_frame_normals(const Mesh &mesh) {
    return mesh.posed_normals ? mesh.posed_normals : mesh.normals;
}

// True when the posed mesh has what its frames are built from: posed positions, normals and
// texture coordinates.
inline bool mesh_can_have_frames(const Mesh &mesh) {
    return mesh.posed_positions && mesh_frame_normals(mesh) && mesh_tex_coord_pairs(mesh);
}

// The frames of the mesh's current pose, as the light pass builds them (vertex_count of them).
inline void compute_mesh_tangent_frames(const Mesh &mesh, TangentFrame *frames) {
    compute_tangent_frames(mesh.vertex_count, mesh.posed_positions, mesh.triangle_count, mesh.triangles,
                           mesh_frame_normals(mesh), mesh_tex_coord_pairs(mesh), frames);
}

// The light and eye vectors of the mesh's current pose in the given frames.
inline void compute_mesh_tangent_space_vectors(const Mesh &mesh, const TangentFrame *frames, const Vec3 &light,
                                               const Vec3 &eye, Vec3 *light_out, Vec3 *eye_out) {
    compute_tangent_space_vectors(mesh.vertex_count, mesh.posed_positions, frames, light, eye, light_out, eye_out);
}
