// The chunk walk. Sizes decide only where the walk ends and where unread chunks are skipped;
// every header, name and payload is additionally checked against the image before it is read.
// Every step of the parse is linear or n log n in the size of the file, so that no file can make
// it take long, however its names, ids and counts are arranged.
#include "model/model_parse.h"

#include <algorithm>
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
constexpr int32_t kNodeIdCount = 65536;

// Mesh starts and node headers name meshes, and a node header attaches to the first mesh of its
// name. A first pass over the chunks learns which names are equal, so that the walk finds that
// mesh in one step instead of searching the list at every node header.
struct NameGroups {
    int32_t *leader;    // per name, in walk order: the first name with the same text
    Mesh **first_mesh;  // per leader: the first mesh made with that name
    int32_t next;       // the walk's next name
};

struct Walk {
    ImageView image;
    ModelFile *model;
    Mesh *tail;          // last mesh of the list
    Mesh *current;       // mesh most recently appended
    uint16_t last_node_id;
    int64_t bone_budget;
    NameGroups names;    // leader null: no memory for it, names are searched instead
};

// How far the cursor moves from a chunk, or 0 to end the walk. It depends on the bytes alone,
// never on what the walk has built, so that the first pass follows exactly the same chunks.
uint64_t chunk_move(const ImageView &image, uint64_t cursor, ChunkKind kind, uint32_t size) {
    if (chunk_kind_is_container(kind)) return kChunkHeaderSize;
    switch (kind) {
    case ChunkKind::MeshStart: {
        const int64_t name_length = image_text_length(image, cursor + kChunkHeaderSize);
        if (name_length < 0) return 0;  // the name runs off the image: nothing follows it
        return kChunkHeaderSize + static_cast<uint64_t>(name_length) + 1;
    }
    case ChunkKind::VertexList:
    case ChunkKind::TriangleList: {
        // The arrays are stepped over whatever the size says; one that runs off ends the walk.
        if (!image_has(image, cursor, 8)) return 0;
        const uint64_t record = kind == ChunkKind::VertexList ? 12 : 8;
        return 8 + uint64_t{read_u16(image.data + cursor + 6)} * record;
    }
    default:
        return size;
    }
}

template <typename Visit>
void walk_chunks(const ImageView &image, Visit visit) {
    IdColumn column = IdColumn::Studio3ds;
    uint64_t cursor = 0;
    if (image_has(image, 0, 2) && read_u16(image.data) == kOwnFormatMagic) {
        column = IdColumn::Own;
        cursor = 2;
    }
    while (cursor < image.size) {
        if (!image_has(image, cursor, kChunkHeaderSize)) break;  // a cut-off header
        const uint16_t id = read_u16(image.data + cursor);
        const uint32_t size = read_u32(image.data + cursor + 2);
        if (size == 0 || size > image.size) break;
        const ChunkKind kind = chunk_kind_for_id(id, column);
        visit(cursor, kind, size);
        const uint64_t move = chunk_move(image, cursor, kind, size);
        if (move == 0) break;
        cursor += move;
    }
}

// The name a mesh start or node header carries, or null when it runs off the image.
const char *chunk_mesh_name(const ImageView &image, uint64_t cursor, ChunkKind kind) {
    if (kind != ChunkKind::MeshStart && kind != ChunkKind::NodeHeader) return nullptr;
    if (image_text_length(image, cursor + kChunkHeaderSize) < 0) return nullptr;
    return reinterpret_cast<const char *>(image.data + cursor + kChunkHeaderSize);
}

// Fills walk.names, or leaves leader null when memory runs out.
void group_mesh_names(Walk &walk) {
    int32_t count = 0;
    walk_chunks(walk.image, [&](uint64_t cursor, ChunkKind kind, uint32_t) {
        if (chunk_mesh_name(walk.image, cursor, kind)) ++count;
    });
    const char **names = allocate_zeroed<const char *>(count);
    int32_t *sorted = allocate_zeroed<int32_t>(count);
    int32_t *leader = allocate_zeroed<int32_t>(count);
    Mesh **first_mesh = allocate_zeroed<Mesh *>(count);
    if (names && sorted && leader && first_mesh) {
        int32_t n = 0;
        walk_chunks(walk.image, [&](uint64_t cursor, ChunkKind kind, uint32_t) {
            if (const char *name = chunk_mesh_name(walk.image, cursor, kind)) names[n++] = name;
        });
        for (int32_t i = 0; i < count; ++i) sorted[i] = i;
        std::sort(sorted, sorted + count, [names](int32_t a, int32_t b) {
            const int order = std::strcmp(names[a], names[b]);
            return order != 0 ? order < 0 : a < b;
        });
        for (int32_t k = 0; k < count; ++k) {
            const bool same = k > 0 && std::strcmp(names[sorted[k]], names[sorted[k - 1]]) == 0;
            leader[sorted[k]] = same ? leader[sorted[k - 1]] : sorted[k];
        }
        walk.names.leader = leader;
        walk.names.first_mesh = first_mesh;
    } else {
        std::free(leader);
        std::free(first_mesh);
    }
    std::free(names);
    std::free(sorted);
}

// The slot holding the first mesh of the walk's next name, or null without groups.
Mesh **next_name_slot(Walk &walk) {
    const int32_t k = walk.names.next++;
    return walk.names.leader ? &walk.names.first_mesh[walk.names.leader[k]] : nullptr;
}

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

void read_mesh_start(Walk &walk, const char *name) {
    Mesh **first = next_name_slot(walk);
    Mesh *previous = walk.current;
    Mesh *created = append_mesh(walk, name);
    if (!created) return;
    if (first && !*first) *first = created;
    if (previous && previous->bones) {
        created->bones = previous->bones;
        created->bone_count = previous->bone_count;
        created->bones_shared = 1;
        created->bones_owner = previous->bones_shared ? previous->bones_owner : previous;
    }
}

void read_bone_count(Walk &walk, uint64_t cursor) {
    Mesh *mesh = walk.current;
    if (!mesh || !image_has(walk.image, cursor, 10)) return;
    const int32_t count = read_i32(walk.image.data + cursor + 6);
    Bone *bones = (count >= 0 && count <= walk.bone_budget) ? allocate_zeroed<Bone>(count) : nullptr;
    // A count replaces the mesh's own array; a shared array stays with its owner. A refused count
    // leaves the mesh without bones, so that its bone records cannot land in an array it shared.
    if (mesh->bones && !mesh->bones_shared) std::free(mesh->bones);
    mesh->bones = bones;
    mesh->bone_count = bones ? count : 0;
    mesh->bones_shared = 0;
    mesh->bones_owner = nullptr;
    if (bones) walk.bone_budget -= count;
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

void read_node_header(Walk &walk, uint64_t cursor, const char *name) {
    Mesh **first = next_name_slot(walk);
    Mesh *node_mesh = first ? *first : find_mesh_by_name(name, *walk.model);
    if (!node_mesh) {
        node_mesh = append_mesh(walk, name);
        if (!node_mesh) return;
        if (first) *first = node_mesh;
    }
    // A header cut off after the name still names the node; only its parent id is missing.
    const uint64_t header_offset = cursor + kChunkHeaderSize + std::strlen(name) + 1;
    node_mesh->node_header = image_has(walk.image, header_offset, 6) ? walk.image.data + header_offset : nullptr;
    node_mesh->node_id = walk.last_node_id;
}

// Acts on one chunk; chunk_move says where the walk goes next.
void read_chunk(Walk &walk, uint64_t cursor, ChunkKind kind) {
    const uint8_t *chunk = walk.image.data + cursor;
    const uint64_t payload = cursor + kChunkHeaderSize;
    Mesh *mesh = walk.current;

    switch (kind) {
    case ChunkKind::MeshStart:
    case ChunkKind::NodeHeader:
        if (const char *name = chunk_mesh_name(walk.image, cursor, kind)) {
            if (kind == ChunkKind::MeshStart)
                read_mesh_start(walk, name);
            else
                read_node_header(walk, cursor, name);
        }
        break;
    case ChunkKind::VertexList:
    case ChunkKind::TriangleList: {
        if (!mesh || !image_has(walk.image, cursor, 8)) break;
        const uint16_t count = read_u16(chunk + 6);
        const bool vertices = kind == ChunkKind::VertexList;
        // An array that runs off the image is not taken.
        if (!image_has(walk.image, cursor + 8, uint64_t{count} * (vertices ? 12u : 8u))) break;
        if (vertices) {
            mesh->vertex_count = count;
            mesh->positions = reinterpret_cast<const PackedVec3 *>(chunk + 8);
        } else {
            mesh->triangle_count = count;
            mesh->triangles = reinterpret_cast<const FileTriangle *>(chunk + 8);
        }
        break;
    }
    case ChunkKind::TexCoords:
        if (mesh) mesh->tex_coords = walk.image.data + payload;
        break;
    case ChunkKind::VertexNormals:
        if (mesh) {
            mesh->normals = reinterpret_cast<const PackedVec3 *>(walk.image.data + payload);
            mesh->normals_from_file = 1;
        }
        break;
    case ChunkKind::VertexWeights:
        if (mesh && image_has(walk.image, cursor, 10)) {
            mesh->weight_count = read_i32(chunk + 6);
            mesh->weights = reinterpret_cast<const VertexWeight *>(chunk + 10);
        }
        break;
    case ChunkKind::WeightRanges:
        if (mesh) mesh->weight_ranges = reinterpret_cast<const WeightRange *>(walk.image.data + payload);
        break;
    case ChunkKind::BoneCount:
        read_bone_count(walk, cursor);
        break;
    case ChunkKind::Bone:
        read_bone(walk, cursor);
        break;
    case ChunkKind::NodeId:
        if (image_has(walk.image, cursor, 8)) walk.last_node_id = read_u16(chunk + 6);
        break;
    default:  // containers, skipped and unlisted kinds
        break;
    }
}

}  // namespace

Mesh *find_mesh_by_name(const char *name, ModelFile &model) {
    for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next)
        if (mesh->name && std::strcmp(mesh->name, name) == 0) return mesh;
    return nullptr;
}

void link_mesh_parents(ModelFile &model) {
    bool any_header = false;
    for (Mesh *mesh = model.meshes; mesh && !any_header; mesh = mesh->next) any_header = mesh->node_header;
    if (!any_header) return;
    // The first mesh of each node id, in list order; without memory for it, a search per mesh.
    Mesh **by_id = allocate_zeroed<Mesh *>(kNodeIdCount);
    if (by_id)
        for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next)
            if (!by_id[mesh->node_id]) by_id[mesh->node_id] = mesh;
    for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next) {
        if (!mesh->node_header) continue;
        const uint16_t parent_id = node_header_parent_id(mesh->node_header);
        mesh->parent = nullptr;
        if (by_id) {
            mesh->parent = by_id[parent_id];
            continue;
        }
        for (Mesh *candidate = model.meshes; candidate; candidate = candidate->next) {
            if (candidate->node_id == parent_id) {
                mesh->parent = candidate;
                break;
            }
        }
    }
    std::free(by_id);
}

int parse_model(ModelFile &model) {
    Walk walk{};
    walk.image.data = model.data;
    walk.image.size = (model.data && model.size > 0) ? static_cast<uint64_t>(model.size) : 0;
    walk.model = &model;
    walk.bone_budget = kBoneBudgetPerModel;

    group_mesh_names(walk);
    walk_chunks(walk.image, [&walk](uint64_t cursor, ChunkKind kind, uint32_t) { read_chunk(walk, cursor, kind); });
    std::free(walk.names.leader);
    std::free(walk.names.first_mesh);

    int64_t pose_weights_left = kMaxModelPoseWeights;
    for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next)
        drop_unsound_mesh_data(*mesh, walk.image, pose_weights_left);
    link_mesh_parents(model);
    break_mesh_parent_loops(model);
    for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next) {
        resolve_bone_parents(*mesh);
        prepare_mesh(*mesh);
    }
    return 1;
}
