#include "model/mesh_prepare.h"

#include <cstdlib>

#include "math/matrix34.h"
#include "model/model_memory.h"
#include "model/skeletal_pose.h"

namespace {

void add_packed(PackedVec3 &sum, const Vec3 &v) {
    Vec3 total = load_vec3(sum);
    vec3_add(total, v, total);
    store_vec3(total, sum);
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

void prepare_mesh(Mesh &mesh) {
    if (!mesh.positions) return;
    mat34_identity(mesh.world);
    update_mesh_vertices(mesh, 0.0f, true);  // the first pose: no entity's scale yet
    ensure_index_array(mesh);
    if (!mesh.normals_from_file) {
        PackedVec3 *normals = allocate_zeroed<PackedVec3>(mesh.vertex_count);
        compute_vertex_normals(normals, mesh.vertex_count, mesh.positions, mesh.triangle_count, mesh.triangles);
        mesh.normals = normals;
    }
}
