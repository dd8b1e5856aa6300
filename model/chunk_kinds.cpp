#include "model/chunk_kinds.h"

namespace {

struct KindIds {
    ChunkKind kind;
    uint16_t studio_id;
    uint16_t own_id;
};

// Test order: kinds 0 to 10, then the 0x9999 group, then the keyframer. In the 3D Studio
// column the whole 0x9999 group shares one id, so a 0x9999 chunk there is always normals.
constexpr KindIds kKindTable[] = {
    {ChunkKind::Main, 0x4D4D, 0x1000},
    {ChunkKind::Version, 0x0002, 0x1002},
    {ChunkKind::Editor, 0x3D3D, 0x0001},
    {ChunkKind::MeshStart, 0x4000, 0x2000},
    {ChunkKind::TriangleMesh, 0x4100, 0x2100},
    {ChunkKind::VertexList, 0x4110, 0x2110},
    {ChunkKind::TriangleList, 0x4120, 0x2120},
    {ChunkKind::FaceMaterial, 0x4130, 0x2130},
    {ChunkKind::TexCoords, 0x4140, 0x2140},
    {ChunkKind::SmoothingGroups, 0x4150, 0x2150},
    {ChunkKind::LocalAxes, 0x4160, 0x2160},
    {ChunkKind::VertexNormals, 0x9999, 0x2170},
    {ChunkKind::VertexWeights, 0x9999, 0x2180},
    {ChunkKind::WeightRanges, 0x9999, 0x2185},
    {ChunkKind::BoneCount, 0x9999, 0x2189},
    {ChunkKind::Bone, 0x9999, 0x2190},
    {ChunkKind::Keyframer, 0xB000, 0x3000},
    {ChunkKind::ObjectNode, 0xB002, 0x3002},
    {ChunkKind::KeyframeSegment, 0xB008, 0x3008},
    {ChunkKind::NodeHeader, 0xB010, 0x3010},
    {ChunkKind::KeyframerHeader, 0xB00A, 0x300A},
    {ChunkKind::Pivot, 0xB013, 0x3013},
    {ChunkKind::PositionTrack, 0xB020, 0x3020},
    {ChunkKind::RotationTrack, 0xB021, 0x3021},
    {ChunkKind::ScaleTrack, 0xB022, 0x3022},
    {ChunkKind::RollTrack, 0xB024, 0x3024},
    {ChunkKind::NodeId, 0xB030, 0x3030},
};
static_assert(sizeof(kKindTable) / sizeof(kKindTable[0]) == 27, "27 listed kinds");

}  // namespace

ChunkKind chunk_kind_for_id(uint16_t id, IdColumn column) {
    for (const KindIds &entry : kKindTable) {
        const uint16_t entry_id = column == IdColumn::Own ? entry.own_id : entry.studio_id;
        if (entry_id == id) return entry.kind;
    }
    return ChunkKind::Unlisted;
}

bool chunk_kind_is_container(ChunkKind kind) {
    switch (kind) {
    case ChunkKind::Main:
    case ChunkKind::Editor:
    case ChunkKind::TriangleMesh:
    case ChunkKind::Keyframer:
    case ChunkKind::ObjectNode:
        return true;
    default:
        return false;
    }
}
