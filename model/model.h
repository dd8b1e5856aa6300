// Parsed models: a list of meshes that point into a file image owned by the file cache,
// plus the arrays derived from it (which the mesh owns).
#pragma once

#include <cstdint>

#include "math/matrix34.h"
#include "math/vec3.h"
#include "model/file_layout.h"

// What the renderer keeps beside each mesh between passes (its own type); the mesh frees it with itself.
struct MeshDrawCache;

struct Bone {
    BoneRecord record;  // exactly as read from the file
    Bone *parent;       // into the same array; null for a root
    Matrix34 local;
    Matrix34 world;
    Matrix34 skin;  // copy of world that skinning reads
    uint32_t stamp; // FrameNumber of world
};

// "image" fields point into the file image; the others are owned by the mesh.
// Invariant after parsing: every image array lies inside the image and agrees with the
// counts and indices of its mesh (see mesh_checks.h), and positions is null iff no vertex list
// was accepted, in which case vertex_count is 0.
struct Mesh {
    const char *name;  // image
    int32_t vertex_count;
    const PackedVec3 *positions;  // image
    Vec3 *posed_positions;
    int32_t triangle_count;
    const FileTriangle *triangles;  // image
    uint32_t *indices;
    const uint8_t *tex_coords;  // image: uint16 count, then the pairs
    const PackedVec3 *normals;  // image when normals_from_file, else owned
    PackedVec3 *posed_normals;
    uint8_t normals_from_file;
    const VertexWeight *weights;  // image
    int32_t weight_count;
    const WeightRange *weight_ranges;  // image, one per vertex
    Bone *bones;
    int32_t bone_count;
    uint8_t bones_shared;  // the array belongs to an earlier mesh
    // The mesh that owns a shared array (null when the array is the mesh's own). The owner records
    // the FrameNumber at which the array was last posed, so that meshes sharing it pose it once
    // per frame between them.
    Mesh *bones_owner;
    uint32_t bones_stamp;
    uint8_t pose_valid;
    float last_scale;
    // A sphere around every posed vertex, in the space of posed_positions, computed with each pose;
    // not valid without a pose or when a posed coordinate is not finite.
    uint8_t pose_bounds_valid;
    Vec3 pose_centre;
    float pose_radius;
    const uint8_t *node_header;  // image: just past the node name's NUL
    uint16_t node_id;
    Matrix34 world;
    uint32_t transform_stamp;  // FrameNumber of world
    // FrameNumber of the pose in posed_positions: what was derived from the pose is current while
    // it records the same number.
    uint32_t pose_stamp;
    MeshDrawCache *draw_cache;  // null until the renderer first lights the mesh
    Mesh *parent;
    Mesh *next;
};

struct ModelFile {
    const uint8_t *data;  // borrowed from the file cache
    int32_t size;
    Mesh *meshes;  // list in creation order
};

// The texture coordinate pairs of a mesh, or null when it has none.
inline const TexCoordPair *mesh_tex_coord_pairs(const Mesh &mesh) {
    return mesh.tex_coords ? reinterpret_cast<const TexCoordPair *>(mesh.tex_coords + 2) : nullptr;
}

// The parent node id stored after the node name; the header lies inside the image.
inline uint16_t node_header_parent_id(const uint8_t *node_header) {
    return static_cast<uint16_t>(node_header[4] | (node_header[5] << 8));
}
