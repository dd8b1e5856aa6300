// Byte layouts of the model file: the records that meshes point at inside the file image.
// The image is read whole and never copied, so these records may start at any byte offset;
// they are packed (alignment 1) and read through their members, never as aligned types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "math/vec3.h"

constexpr uint32_t kChunkHeaderSize = 6;  // uint16 kind id, uint32 size (header included)
constexpr uint16_t kOwnFormatMagic = 0x1337;

#pragma pack(push, 1)

// A Vec3 that may sit at any offset: file positions and normals, and arrays mixed with them.
struct PackedVec3 {
    float x, y, z;
};

struct FileTriangle {
    uint16_t i0, i1, i2;
    uint16_t unused;
};

// Indices come from the file unchecked; every loop over triangles asks this first.
inline bool triangle_in_range(const FileTriangle &tri, int32_t vertex_count) {
    return tri.i0 < vertex_count && tri.i1 < vertex_count && tri.i2 < vertex_count;
}

struct TexCoordPair {
    float s, t;
};

struct VertexWeight {
    uint8_t unused_head[4];
    int32_t bone;  // index into the mesh's bone array
    float weight;
    uint8_t unused_tail[12];
};

struct WeightRange {
    int32_t first;  // index of the vertex's first VertexWeight
    int32_t count;
};

#pragma pack(pop)

constexpr size_t kBoneNameSize = 80;
constexpr size_t kBoneParentNameSize = 32;

// Copied whole into each Bone; natural alignment leaves no padding.
struct BoneRecord {
    int32_t index;                         // slot in the mesh's bone array
    char name[kBoneNameSize];              // NUL-terminated at its start
    char parent_name[kBoneParentNameSize]; // empty for a root bone
};

static_assert(sizeof(PackedVec3) == 12 && alignof(PackedVec3) == 1, "packed Vec3");
static_assert(sizeof(FileTriangle) == 8 && alignof(FileTriangle) == 1, "triangle record");
static_assert(offsetof(FileTriangle, i2) == 4, "triangle indices at 0, 2, 4");
static_assert(sizeof(TexCoordPair) == 8, "texture coordinate pair");
static_assert(sizeof(VertexWeight) == 24 && alignof(VertexWeight) == 1, "weight record");
static_assert(offsetof(VertexWeight, bone) == 4 && offsetof(VertexWeight, weight) == 8,
              "weight record fields");
static_assert(sizeof(WeightRange) == 8 && offsetof(WeightRange, count) == 4, "weight range");
static_assert(sizeof(BoneRecord) == 116, "bone record");
static_assert(offsetof(BoneRecord, name) == 4 && offsetof(BoneRecord, parent_name) == 84,
              "bone record fields");

inline Vec3 load_vec3(const PackedVec3 &v) { return Vec3{v.x, v.y, v.z}; }

inline void store_vec3(const Vec3 &v, PackedVec3 &out) {
    out.x = v.x;
    out.y = v.y;
    out.z = v.z;
}
