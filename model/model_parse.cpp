// The chunk walk. Sizes decide only where the walk ends and where unread chunks are skipped;
// every header, name and payload is additionally checked against the image before it is read.
#include "model/model_parse.h"

#include <cstdlib>
#include <cstring>

#include "math/matrix34.h"
#include "model/chunk_kinds.h"
#include "model/image_reader.h"
#include "model/mesh_checks.h"
#include "model/mesh_prepare.h"
#include "model/model_links.h"
#include "model/model_memory.h"

namespace {

// All bone arrays of one model together hold at most this many bones, so that a small file
// cannot make the parse allocate gigabytes through many large bone counts.
constexpr int64_t kBoneBudgetPerModel = 65536;

struct Walk {
    ImageView image;
    ModelFile *model;
    Mesh *tail;          // last mesh of the list
    Mesh *current;       // mesh most recently appended
    uint16_t last_node_id;
    int64_t bone_budget;
};

Mesh *append_mesh(Walk &walk, const char *name) {
    Mesh *mesh = static_cast<Mesh *>(std::calloc(1, sizeof(Mesh)));
    if (!mesh) return nullptr;
    mesh->name = name;
    if (walk.tail)
        walk.tail->next = mesh;
    else
        walk.model->meshes = mesh;
    walk.tail = mesh;
    walk.current = mesh;
    return mesh;
}

void read_bone_count(Walk &walk, uint64_t cursor) {
    Mesh *mesh = walk.current;
    if (!mesh || !image_has(walk.image, cursor, 10)) return;
    const int32_t count = read_i32(walk.image.data + cursor + 6);
    if (count < 0 || count > walk.bone_budget) return;
    Bone *bones = allocate_zeroed<Bone>(count);
    if (!bones) return;
    // A second count for the same mesh replaces its own array; a shared array stays with its
    // owner. Either way the new array belongs to this mesh and is freed through it.
    if (mesh->bones && !mesh->bones_shared) std::free(mesh->bones);
    mesh->bones = bones;
    mesh->bone_count = count;
    mesh->bones_shared = 0;
    walk.bone_budget -= count;
}

void read_bone(Walk &walk, uint64_t cursor) {
    Mesh *mesh = walk.current;
    if (!mesh || mesh->bone_count <= 0) return;
    if (!image_has(walk.image, cursor + kChunkHeaderSize, sizeof(BoneRecord))) return;
    BoneRecord record;
    std::memcpy(&record, walk.image.data + cursor + kChunkHeaderSize, sizeof record);
    if (record.index < 0 || record.index >= mesh->bone_count) return;
    Bone &bone = mesh->bones[record.index];
    std::memset(&bone, 0, sizeof bone);
    bone.record = record;
    mat34_identity(bone.local);
}

void read_node_header(Walk &walk, uint64_t cursor) {
    const uint64_t name_offset = cursor + kChunkHeaderSize;
    const int64_t name_length = image_text_length(walk.image, name_offset);
    if (name_length < 0) return;
    const uint64_t header_offset = name_offset + static_cast<uint64_t>(name_length) + 1;
    if (!image_has(walk.image, header_offset, 6)) return;  // two words, then the parent id
    const char *name = reinterpret_cast<const char *>(walk.image.data + name_offset);
    Mesh *node_mesh = find_mesh_by_name(name, *walk.model);
    if (!node_mesh) node_mesh = append_mesh(walk, name);
    if (!node_mesh) return;
    node_mesh->node_header = walk.image.data + header_offset;
    node_mesh->node_id = walk.last_node_id;
}

// Acts on one chunk and returns how far the cursor moves, or 0 to end the walk.
uint64_t read_chunk(Walk &walk, uint64_t cursor, ChunkKind kind, uint32_t size) {
    const uint8_t *chunk = walk.image.data + cursor;
    const uint64_t payload = cursor + kChunkHeaderSize;
    Mesh *mesh = walk.current;
    if (chunk_kind_is_container(kind)) return kChunkHeaderSize;

    switch (kind) {
    case ChunkKind::MeshStart: {
        const int64_t name_length = image_text_length(walk.image, payload);
        if (name_length < 0) return 0;  // the name runs off the image: nothing follows it
        Mesh *previous = walk.current;
        Mesh *created = append_mesh(walk, reinterpret_cast<const char *>(chunk + kChunkHeaderSize));
        if (created && previous && previous->bones) {
            created->bones = previous->bones;
            created->bone_count = previous->bone_count;
            created->bones_shared = 1;
        }
        return kChunkHeaderSize + static_cast<uint64_t>(name_length) + 1;
    }
    case ChunkKind::VertexList:
    case ChunkKind::TriangleList: {
        if (!image_has(walk.image, cursor, 8)) return 0;
        const uint16_t count = read_u16(chunk + 6);
        const bool vertices = kind == ChunkKind::VertexList;
        const uint64_t bytes = uint64_t{count} * (vertices ? 12u : 8u);
        // An array that runs off the image is not taken; the move then ends the walk.
        if (mesh && image_has(walk.image, cursor + 8, bytes)) {
            if (vertices) {
                mesh->vertex_count = count;
                mesh->positions = reinterpret_cast<const PackedVec3 *>(chunk + 8);
            } else {
                mesh->triangle_count = count;
                mesh->triangles = reinterpret_cast<const FileTriangle *>(chunk + 8);
            }
        }
        return 8 + bytes;
    }
    case ChunkKind::TexCoords:
        if (mesh) mesh->tex_coords = walk.image.data + payload;
        return size;
    case ChunkKind::VertexNormals:
        if (mesh) {
            mesh->normals = reinterpret_cast<const PackedVec3 *>(walk.image.data + payload);
            mesh->normals_from_file = 1;
        }
        return size;
    case ChunkKind::VertexWeights:
        if (mesh && image_has(walk.image, cursor, 10)) {
            mesh->weight_count = read_i32(chunk + 6);
            mesh->weights = reinterpret_cast<const VertexWeight *>(chunk + 10);
        }
        return size;
    case ChunkKind::WeightRanges:
        if (mesh) mesh->weight_ranges = reinterpret_cast<const WeightRange *>(walk.image.data + payload);
        return size;
    case ChunkKind::BoneCount:
        read_bone_count(walk, cursor);
        return size;
    case ChunkKind::Bone:
        read_bone(walk, cursor);
        return size;
    case ChunkKind::NodeId:
        if (image_has(walk.image, cursor, 8)) walk.last_node_id = read_u16(chunk + 6);
        return size;
    case ChunkKind::NodeHeader:
        read_node_header(walk, cursor);
        return size;
    default:  // skipped and unlisted kinds
        return size;
    }
}

}  // namespace

Mesh *find_mesh_by_name(const char *name, ModelFile &model) {
    for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next)
        if (mesh->name && std::strcmp(mesh->name, name) == 0) return mesh;
    return nullptr;
}

void link_mesh_parents(ModelFile &model) {
    for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next) {
        if (!mesh->node_header) continue;
        const uint16_t parent_id = node_header_parent_id(mesh->node_header);
        mesh->parent = nullptr;
        for (Mesh *candidate = model.meshes; candidate; candidate = candidate->next) {
            if (candidate->node_id == parent_id) {
                mesh->parent = candidate;
                break;
            }
        }
    }
}

int parse_model(ModelFile &model) {
    Walk walk{};
    walk.image.data = model.data;
    walk.image.size = (model.data && model.size > 0) ? static_cast<uint64_t>(model.size) : 0;
    walk.model = &model;
    walk.bone_budget = kBoneBudgetPerModel;

    IdColumn column = IdColumn::Studio3ds;
    uint64_t cursor = 0;
    if (image_has(walk.image, 0, 2) && read_u16(walk.image.data) == kOwnFormatMagic) {
        column = IdColumn::Own;
        cursor = 2;
    }

    while (cursor < walk.image.size) {
        if (!image_has(walk.image, cursor, kChunkHeaderSize)) break;  // a cut-off header
        const uint16_t id = read_u16(walk.image.data + cursor);
        const uint32_t size = read_u32(walk.image.data + cursor + 2);
        if (size == 0 || size > walk.image.size) break;
        const uint64_t move = read_chunk(walk, cursor, chunk_kind_for_id(id, column), size);
        if (move == 0) break;
        cursor += move;
    }

    for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next) drop_unsound_mesh_data(*mesh, walk.image);
    link_mesh_parents(model);
    break_mesh_parent_loops(model);
    for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next) {
        resolve_bone_parents(*mesh);
        prepare_mesh(*mesh);
    }
    return 1;
}
