#include "model/mesh_prepare.h"

#include <cstdlib>

#include "math/matrix34.h"
#include "model/model_memory.h"
#include "model/skeletal_pose.h"
#include "render/frame_clock.h"

namespace {

bool triangle_in_range(const FileTriangle &tri, int32_t vertex_count) {
    return tri.i0 < vertex_count && tri.i1 < vertex_count && tri.i2 < vertex_count;
}

void add_packed(PackedVec3 &sum, const Vec3 &v) {
    Vec3 total = load_vec3(sum);
    vec3_add(total, v, total);
    store_vec3(total, sum);
}

// tangent loses its component along normal, then is made unit length again.
void remove_normal_component(Vec3 &v, const Vec3 &normal) {
    const Vec3 opposite{-normal.x, -normal.y, -normal.z};
    Vec3 along;
    closest_point_on_segment(v, normal, opposite, along);
    vec3_subtract(v, along, v);
    vec3_normalize(v);
}

}  // namespace

void compute_vertex_normals(PackedVec3 *normals, int32_t vertex_count, const PackedVec3 *positions,
                            int32_t triangle_count, const FileTriangle *triangles) {
    if (!normals || vertex_count <= 0) return;
    for (int32_t v = 0; v < vertex_count; ++v) normals[v] = PackedVec3{0, 0, 0};
    if (!positions || !triangles) triangle_count = 0;

    // Scattering each triangle's normal to its distinct corners, in triangle order, adds to
    // every vertex exactly the terms, in exactly the order, of a scan over all triangles per
    // vertex, so the sums agree bit for bit at a cost of vertices plus triangles.
    for (int32_t t = 0; t < triangle_count; ++t) {
        const FileTriangle &tri = triangles[t];
        if (!triangle_in_range(tri, vertex_count)) continue;
        Plane plane;
        plane_from_points(load_vec3(positions[tri.i0]), load_vec3(positions[tri.i1]),
                          load_vec3(positions[tri.i2]), plane);
        vec3_normalize(plane.normal);
        add_packed(normals[tri.i0], plane.normal);
        if (tri.i1 != tri.i0) add_packed(normals[tri.i1], plane.normal);
        if (tri.i2 != tri.i0 && tri.i2 != tri.i1) add_packed(normals[tri.i2], plane.normal);
    }
    for (int32_t v = 0; v < vertex_count; ++v) {
        Vec3 n = load_vec3(normals[v]);
        vec3_normalize(n);
        store_vec3(n, normals[v]);
    }
}

void ensure_index_array(Mesh &mesh) {
    if (mesh.indices) return;
    const int32_t count = mesh.triangles ? mesh.triangle_count : 0;
    mesh.indices = allocate_zeroed<uint32_t>(int64_t{3} * count);
    if (!mesh.indices) return;
    for (int32_t t = 0; t < count; ++t) {
        mesh.indices[3 * t] = mesh.triangles[t].i0;
        mesh.indices[3 * t + 1] = mesh.triangles[t].i1;
        mesh.indices[3 * t + 2] = mesh.triangles[t].i2;
    }
}

void compute_tangent_frames(Mesh *mesh, int32_t vertex_count, const Vec3 *positions, int32_t triangle_count,
                            const FileTriangle *triangles, TangentFrame *frames, const PackedVec3 *normals,
                            const TexCoordPair *pairs) {
    if (mesh && mesh->tangent_frames_valid) return;
    if (!frames) return;
    if (vertex_count < 0) vertex_count = 0;
    for (int32_t i = 0; i < vertex_count; ++i) frames[i] = TangentFrame{};
    if (!positions || !triangles || !pairs) triangle_count = 0;

    for (int32_t t = 0; t < triangle_count; ++t) {
        const FileTriangle &tri = triangles[t];
        if (!triangle_in_range(tri, vertex_count)) continue;
        const Vec3 &p0 = positions[tri.i0], &p1 = positions[tri.i1], &p2 = positions[tri.i2];
        const TexCoordPair c0 = pairs[tri.i0], c1 = pairs[tri.i1], c2 = pairs[tri.i2];
        const float p0k[3] = {p0.x, p0.y, p0.z}, p1k[3] = {p1.x, p1.y, p1.z}, p2k[3] = {p2.x, p2.y, p2.z};
        Vec3 c[3];
        for (int k = 0; k < 3; ++k) {
            const Vec3 e1{p1k[k] - p0k[k], c1.s - c0.s, c1.t - c0.t};
            const Vec3 e2{p2k[k] - p0k[k], c2.s - c0.s, c2.t - c0.t};
            vec3_cross(e1, e2, c[k]);
        }
        // The three first components are the same texture-space determinant; zero means the
        // texture coordinates are collinear and give no direction.
        if (c[0].x != 0.0f && c[1].x != 0.0f && c[2].x != 0.0f) {
            Vec3 tangent, binormal;
            float *tk[3] = {&tangent.x, &tangent.y, &tangent.z};
            float *bk[3] = {&binormal.x, &binormal.y, &binormal.z};
            for (int k = 0; k < 3; ++k) {
                const float reciprocal = 1.0f / c[k].x;
                *tk[k] = -c[k].y * reciprocal;
                *bk[k] = -c[k].z * reciprocal;
            }
            const uint16_t corners[3] = {tri.i0, tri.i1, tri.i2};
            for (uint16_t corner : corners) {
                vec3_add(frames[corner].tangent, tangent, frames[corner].tangent);
                vec3_add(frames[corner].binormal, binormal, frames[corner].binormal);
            }
        }
        ++frames[tri.i0].count;
        ++frames[tri.i1].count;
        ++frames[tri.i2].count;
    }

    for (int32_t i = 0; i < vertex_count; ++i) {
        TangentFrame &frame = frames[i];
        // A vertex no triangle uses is never drawn; its sums stay zero rather than 0 * (1/0).
        if (frame.count != 0) {
            const float reciprocal = 1.0f / static_cast<float>(frame.count);
            vec3_scale(frame.tangent, reciprocal);
            vec3_scale(frame.binormal, reciprocal);
        }
        vec3_normalize(frame.tangent);
        vec3_normalize(frame.binormal);
        frame.normal = normals ? load_vec3(normals[i]) : Vec3{0, 0, 0};
        remove_normal_component(frame.tangent, frame.normal);
        remove_normal_component(frame.binormal, frame.normal);
    }
    if (mesh) {
        mesh->tangent_frames_valid = 1;
        mesh->tangent_stamp = FrameClock;
    }
}

void prepare_mesh(Mesh &mesh) {
    if (!mesh.positions) return;
    mat34_identity(mesh.world);
    update_mesh_vertices(nullptr, mesh);
    ensure_index_array(mesh);
    mesh.tangent_frames = allocate_zeroed<TangentFrame>(mesh.vertex_count);
    if (!mesh.normals_from_file) {
        PackedVec3 *normals = allocate_zeroed<PackedVec3>(mesh.vertex_count);
        compute_vertex_normals(normals, mesh.vertex_count, mesh.positions, mesh.triangle_count, mesh.triangles);
        mesh.normals = normals;
    }
    mesh.light_vectors = allocate_zeroed<Vec3>(mesh.vertex_count);
    mesh.eye_vectors = allocate_zeroed<Vec3>(mesh.vertex_count);
}
