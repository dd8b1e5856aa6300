#include "model/skeletal_pose.h"

#include <algorithm>
#include <cmath>

#include "math/matrix34.h"
#include "model/frame_number.h"
#include "model/model_memory.h"

namespace {

const float kScaleThreshold = 0.001f;

void scale_linear_part(Matrix34 &m, float scale) {
    for (int i = 0; i < 9; ++i) m.m[i] *= scale;
}

void update_bone_matrices(Bone &bone) {
    if (bone.stamp == FrameNumber) return;
    bone.stamp = FrameNumber;
    if (bone.parent)
        mat34_compose(bone.parent->world, bone.local, bone.world);
    else
        bone.world = bone.local;
    bone.skin = bone.world;
}

// Every bone of an array, each after its parent and each once: a walk up stops at the first bone
// already done this frame, so chains of any shape cost one step per bone. The matrices are those
// a call of update_bone per bone in index order would leave.
void update_bone_array(Bone *bones, int32_t count) {
    for (int32_t b = 0; b < count; ++b) {
        // Up to the first bone already done, reversing the links; then down again, restoring them.
        Bone *previous = nullptr;
        Bone *current = &bones[b];
        while (current && current->stamp != FrameNumber) {
            Bone *up = current->parent;
            current->parent = previous;
            previous = current;
            current = up;
        }
        Bone *parent = current;
        current = previous;
        while (current) {
            Bone *down = current->parent;
            current->parent = parent;
            update_bone_matrices(*current);
            parent = current;
            current = down;
        }
    }
}

bool transform_done_this_frame(const Mesh &mesh) { return mesh.transform_stamp == FrameNumber; }

void stamp_transform(Mesh &mesh) { mesh.transform_stamp = FrameNumber; }

// The box around the posed vertices, and the sphere about its centre that holds them all.
void update_pose_bounds(Mesh &mesh) {
    mesh.pose_bounds_valid = 0;
    if (mesh.vertex_count <= 0) return;
    Vec3 low = mesh.posed_positions[0], high = low;
    for (int32_t i = 0; i < mesh.vertex_count; ++i) {
        const Vec3 p = mesh.posed_positions[i];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return;
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    const Vec3 centre{(low.x + high.x) * 0.5f, (low.y + high.y) * 0.5f, (low.z + high.z) * 0.5f};
    float largest = 0;
    for (int32_t i = 0; i < mesh.vertex_count; ++i) {
        Vec3 d;
        vec3_subtract(mesh.posed_positions[i], centre, d);
        largest = std::max(largest, vec3_dot(d, d));
    }
    mesh.pose_centre = centre;
    mesh.pose_radius = std::sqrt(largest);
    mesh.pose_bounds_valid = std::isfinite(mesh.pose_radius);
}

}  // namespace

void update_mesh_transform(Mesh &mesh, float scale) {
    // Parents come first, up to the first mesh that ends the chain: one without positions, one
    // already done this frame, or a root. Every mesh below it copies its world in turn, so all
    // of them end with the same matrix; a loop instead of recursion keeps long chains off the stack.
    Mesh *top = &mesh;
    while (top->positions && !transform_done_this_frame(*top) && top->parent) top = top->parent;

    if (!top->positions) {
        mat34_identity(top->world);
        if (!top->parent && scale > kScaleThreshold) scale_linear_part(top->world, scale);
    } else if (!transform_done_this_frame(*top)) {  // a root with positions
        stamp_transform(*top);
        mat34_identity(top->world);
        if (scale > kScaleThreshold) scale_linear_part(top->world, scale);
    }
    for (Mesh *below = &mesh; below != top; below = below->parent) {
        stamp_transform(*below);
        below->world = top->world;
    }
}

void update_bone(Bone &bone) {
    // Each bone is updated after its parent. The parent links up to the root are reversed on
    // the way up and restored on the way down, so a chain of any length needs no stack.
    Bone *previous = nullptr;
    Bone *current = &bone;
    while (current) {
        Bone *up = current->parent;
        current->parent = previous;
        previous = current;
        current = up;
    }
    Bone *parent = nullptr;
    current = previous;
    while (current) {
        Bone *down = current->parent;
        current->parent = parent;
        update_bone_matrices(*current);
        parent = current;
        current = down;
    }
}

void update_mesh_vertices(Mesh &mesh, float scale, bool force) {
    if (mesh.posed_positions && mesh.pose_valid && !force && scale == mesh.last_scale) return;
    mesh.pose_valid = 1;
    if (mesh.posed_positions && mesh.pose_stamp == FrameNumber) return;
    // A new pose stamp tells whoever derived something from the previous pose that it is stale.
    mesh.pose_stamp = FrameNumber;
    mesh.last_scale = scale;
    mesh.pose_bounds_valid = 0;
    if (!mesh.posed_positions) {
        mesh.posed_positions = allocate_zeroed<Vec3>(mesh.vertex_count);
        if (!mesh.posed_positions) return;
    }
    if (mesh.bones) {
        // Meshes sharing an array pose it once per frame between them: the result is the same.
        Mesh *owner = mesh.bones_shared ? mesh.bones_owner : &mesh;
        if (!owner || owner->bones != mesh.bones) owner = &mesh;
        if (owner->bones_stamp != FrameNumber) {
            update_bone_array(mesh.bones, mesh.bone_count);
            owner->bones_stamp = FrameNumber;
        }
    }

    if (mesh.weight_ranges && mesh.normals && !mesh.posed_normals) {
        mesh.posed_normals = allocate_zeroed<PackedVec3>(mesh.vertex_count);
        if (mesh.posed_normals)
            for (int32_t i = 0; i < mesh.vertex_count; ++i) mesh.posed_normals[i] = mesh.normals[i];
    }

    // Parsing guarantees that every range lies within the weights and names existing bones.
    for (int32_t i = 0; i < mesh.vertex_count; ++i) {
        const Vec3 position = load_vec3(mesh.positions[i]);
        Vec3 sum = position;
        if (mesh.weight_ranges) {
            sum = Vec3{0, 0, 0};
            Vec3 normal_sum{0, 0, 0};
            Vec3 tip{0, 0, 0};
            if (mesh.posed_normals) vec3_add(position, load_vec3(mesh.normals[i]), tip);
            const WeightRange range = mesh.weight_ranges[i];
            for (int32_t w = range.first; w < range.first + range.count; ++w) {
                const VertexWeight &weight = mesh.weights[w];
                const Matrix34 &skin = mesh.bones[weight.bone].skin;
                const float amount = weight.weight;
                Vec3 q;
                mat34_transform_point(skin, position, q);
                vec3_scale(q, amount);
                vec3_add(sum, q, sum);
                if (mesh.posed_normals) {
                    Vec3 n;
                    mat34_transform_point(skin, tip, n);
                    vec3_scale(n, amount);
                    vec3_subtract(n, q, n);
                    vec3_add(normal_sum, n, normal_sum);
                }
            }
            if (mesh.posed_normals) {
                vec3_normalize(normal_sum);
                store_vec3(normal_sum, mesh.posed_normals[i]);
            }
        }
        mat34_transform_point(mesh.world, sum, mesh.posed_positions[i]);
    }
    update_pose_bounds(mesh);
}
