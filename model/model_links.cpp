#include "model/model_links.h"

#include <cstdlib>

#include "model/text_compare.h"

void resolve_bone_parents(Mesh &mesh) {
    // A shared array was resolved through the earlier mesh that owns it, with the same result.
    if (mesh.bones_shared || !mesh.bones) return;
    for (int32_t i = 0; i < mesh.bone_count; ++i) {
        Bone &bone = mesh.bones[i];
        bone.parent = nullptr;
        const char *parent_name = bone.record.parent_name;
        if (parent_name[0] == '\0') continue;
        for (int32_t j = 0; j < mesh.bone_count; ++j) {
            if (bounded_text_equal_ignoring_case(mesh.bones[j].record.name, kBoneNameSize, parent_name,
                                                 kBoneParentNameSize)) {
                bone.parent = &mesh.bones[j];
                break;
            }
        }
    }
    break_bone_parent_loops(mesh.bones, mesh.bone_count);
}

void break_bone_parent_loops(Bone *bones, int32_t bone_count) {
    if (!bones || bone_count <= 0) return;
    enum : uint8_t { Unseen, OnPath, Done };
    uint8_t *state = static_cast<uint8_t *>(std::calloc(static_cast<size_t>(bone_count), 1));
    if (!state) {
        // Without scratch memory, make every bone a root rather than risk endless recursion.
        for (int32_t i = 0; i < bone_count; ++i) bones[i].parent = nullptr;
        return;
    }
    auto parent_index = [bones](int32_t i) {
        return bones[i].parent ? static_cast<int32_t>(bones[i].parent - bones) : -1;
    };
    for (int32_t start = 0; start < bone_count; ++start) {
        int32_t i = start;
        while (i >= 0 && state[i] == Unseen) {
            state[i] = OnPath;
            i = parent_index(i);
        }
        if (i >= 0 && state[i] == OnPath) {
            // i lies on a loop: cut the link of its member with the lowest index.
            int32_t lowest = i;
            int32_t j = i;
            do {
                state[j] = Done;
                if (j < lowest) lowest = j;
                j = parent_index(j);
            } while (j != i);
            bones[lowest].parent = nullptr;
        }
        for (i = start; i >= 0 && state[i] == OnPath; i = parent_index(i)) state[i] = Done;
    }
    std::free(state);
}

void break_mesh_parent_loops(ModelFile &model) {
    int64_t mesh_count = 0;
    for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next) ++mesh_count;
    // Meshes in list order: a walk up from a mesh that comes back to it found a loop whose
    // earlier members (if any) are already cut, so this mesh is the loop's first member.
    for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next) {
        const Mesh *up = mesh->parent;
        for (int64_t steps = 0; up && up != mesh && steps < mesh_count; ++steps) up = up->parent;
        if (up == mesh) mesh->parent = nullptr;
    }
}
