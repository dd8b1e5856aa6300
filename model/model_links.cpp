#include "model/model_links.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "model/model_memory.h"
#include "model/text_compare.h"

namespace {

constexpr int32_t kLoopCut = -2;

// parent[i] is the index of i's parent, or -1 for a root. The lowest index on each loop becomes
// a root, marked kLoopCut. Every index is walked over a bounded number of times: linear work.
bool break_index_loops(int32_t *parent, int32_t count) {
    enum : uint8_t { Unseen, OnPath, Done };
    uint8_t *state = allocate_zeroed<uint8_t>(count);
    if (!state) return false;
    for (int32_t start = 0; start < count; ++start) {
        int32_t i = start;
        while (i >= 0 && state[i] == Unseen) {
            state[i] = OnPath;
            i = parent[i];
        }
        if (i >= 0 && state[i] == OnPath) {
            // i lies on a loop: cut the link of its member with the lowest index.
            int32_t lowest = i;
            int32_t j = i;
            do {
                state[j] = Done;
                if (j < lowest) lowest = j;
                j = parent[j];
            } while (j != i);
            parent[lowest] = kLoopCut;
        }
        for (i = start; i >= 0 && state[i] == OnPath; i = parent[i]) state[i] = Done;
    }
    std::free(state);
    return true;
}

int compare_bone_name(const Bone &bone, const char *text, size_t area) {
    return bounded_text_compare_ignoring_case(bone.record.name, kBoneNameSize, text, area);
}

Bone *find_bone_by_scan(Bone *bones, int32_t count, const char *parent_name) {
    for (int32_t j = 0; j < count; ++j)
        if (compare_bone_name(bones[j], parent_name, kBoneParentNameSize) == 0) return &bones[j];
    return nullptr;
}

// The slow walk up from every mesh, kept for when there is no memory for the linear one.
void break_mesh_parent_loops_by_walking(ModelFile &model, int64_t mesh_count) {
    for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next) {
        const Mesh *up = mesh->parent;
        for (int64_t steps = 0; up && up != mesh && steps < mesh_count; ++steps) up = up->parent;
        if (up == mesh) mesh->parent = nullptr;
    }
}

}  // namespace

void resolve_bone_parents(Mesh &mesh) {
    // A shared array was resolved through the earlier mesh that owns it, with the same result.
    if (mesh.bones_shared || !mesh.bones) return;
    Bone *bones = mesh.bones;
    const int32_t count = mesh.bone_count;
    // The named bones sorted by name, then by index, so that the first of equal names is the one
    // a scan in index order would find; slots without a record have no name and match nothing.
    int32_t *by_name = allocate_zeroed<int32_t>(count);
    int32_t named = 0;
    if (by_name) {
        for (int32_t i = 0; i < count; ++i)
            if (bones[i].record.name[0] != '\0') by_name[named++] = i;
        std::sort(by_name, by_name + named, [bones](int32_t a, int32_t b) {
            const int order = compare_bone_name(bones[a], bones[b].record.name, kBoneNameSize);
            return order != 0 ? order < 0 : a < b;
        });
    }
    for (int32_t i = 0; i < count; ++i) {
        Bone &bone = bones[i];
        bone.parent = nullptr;
        const char *parent_name = bone.record.parent_name;
        if (parent_name[0] == '\0') continue;
        if (!by_name) {
            bone.parent = find_bone_by_scan(bones, count, parent_name);
            continue;
        }
        const int32_t *first = std::lower_bound(
            by_name, by_name + named, parent_name, [bones](int32_t index, const char *name) {
                return compare_bone_name(bones[index], name, kBoneParentNameSize) < 0;
            });
        if (first != by_name + named && compare_bone_name(bones[*first], parent_name, kBoneParentNameSize) == 0)
            bone.parent = &bones[*first];
    }
    std::free(by_name);
    break_bone_parent_loops(bones, count);
}

void break_bone_parent_loops(Bone *bones, int32_t bone_count) {
    if (!bones || bone_count <= 0) return;
    int32_t *parent = allocate_zeroed<int32_t>(bone_count);
    for (int32_t i = 0; parent && i < bone_count; ++i)
        parent[i] = bones[i].parent ? static_cast<int32_t>(bones[i].parent - bones) : -1;
    if (!parent || !break_index_loops(parent, bone_count)) {
        // Without scratch memory, make every bone a root rather than risk endless recursion.
        for (int32_t i = 0; i < bone_count; ++i) bones[i].parent = nullptr;
    } else {
        for (int32_t i = 0; i < bone_count; ++i)
            if (parent[i] == kLoopCut) bones[i].parent = nullptr;
    }
    std::free(parent);
}

void break_mesh_parent_loops(ModelFile &model) {
    int32_t mesh_count = 0;
    for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next) ++mesh_count;
    if (mesh_count == 0) return;
    // Meshes by list index, and the same indices sorted by address to find a parent's index.
    Mesh **order = allocate_zeroed<Mesh *>(mesh_count);
    int32_t *by_address = allocate_zeroed<int32_t>(mesh_count);
    int32_t *parent = allocate_zeroed<int32_t>(mesh_count);
    if (order && by_address && parent) {
        int32_t i = 0;
        for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next, ++i) {
            order[i] = mesh;
            by_address[i] = i;
        }
        const std::less<const Mesh *> before;
        std::sort(by_address, by_address + mesh_count,
                  [order, before](int32_t a, int32_t b) { return before(order[a], order[b]); });
        for (i = 0; i < mesh_count; ++i) {
            const Mesh *up = order[i]->parent;
            const int32_t *found = std::lower_bound(by_address, by_address + mesh_count, up,
                                                    [order, before](int32_t index, const Mesh *m) {
                                                        return before(order[index], m);
                                                    });
            parent[i] = (up && found != by_address + mesh_count && order[*found] == up) ? *found : -1;
        }
        // List order is index order, so the lowest index on a loop is its first member in the list.
        if (break_index_loops(parent, mesh_count)) {
            for (i = 0; i < mesh_count; ++i)
                if (parent[i] == kLoopCut) order[i]->parent = nullptr;
        } else {
            break_mesh_parent_loops_by_walking(model, mesh_count);
        }
    } else {
        break_mesh_parent_loops_by_walking(model, mesh_count);
    }
    std::free(order);
    std::free(by_address);
    std::free(parent);
}
