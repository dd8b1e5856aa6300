// The 27 chunk kinds of the model file and their ids in the two id columns:
// 3D Studio ids for files without the magic, the program's own ids after 0x1337.
#pragma once

#include <cstdint>

enum class ChunkKind : uint8_t {
    Main,             // container
    Version,          // skipped
    Editor,           // container
    MeshStart,        // NUL-terminated mesh name
    TriangleMesh,     // container
    VertexList,       // uint16 count, positions
    TriangleList,     // uint16 count, triangles
    FaceMaterial,     // skipped
    TexCoords,        // uint16 count, (s, t) pairs
    SmoothingGroups,  // skipped
    LocalAxes,        // skipped
    Keyframer,        // container
    ObjectNode,       // container
    KeyframeSegment,  // skipped
    NodeHeader,       // node name, two uint16, parent node id
    KeyframerHeader,  // skipped
    Pivot,            // skipped
    PositionTrack,    // skipped
    RotationTrack,    // skipped
    ScaleTrack,       // skipped
    RollTrack,        // skipped
    NodeId,           // uint16
    VertexNormals,    // one Vec3 per vertex
    VertexWeights,    // int32 count, VertexWeight records
    WeightRanges,     // one WeightRange per vertex
    BoneCount,        // int32
    Bone,             // 116-byte bone record
    Unlisted,         // any other id: skipped
};

enum class IdColumn : uint8_t { Studio3ds, Own };

// The first kind, in the file's test order, whose id in the column matches.
ChunkKind chunk_kind_for_id(uint16_t id, IdColumn column);

// Containers are entered by stepping over their header; everything else has its own move.
bool chunk_kind_is_container(ChunkKind kind);
