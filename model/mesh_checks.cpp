#include "model/mesh_checks.h"

namespace {

// True when count records of record_size bytes starting at p lie inside the image.
bool array_in_image(const ImageView &image, const void *p, int64_t count, uint64_t record_size) {
    if (!p || count < 0) return false;
    const uint8_t *start = static_cast<const uint8_t *>(p);
    if (start < image.data || start > image.data + image.size) return false;
    return image_has(image, static_cast<uint64_t>(start - image.data),
                     static_cast<uint64_t>(count) * record_size);
}

bool triangles_index_vertices(const Mesh &mesh) {
    const int32_t limit = mesh.vertex_count;
    for (int32_t t = 0; t < mesh.triangle_count; ++t) {
        const FileTriangle &tri = mesh.triangles[t];
        if (tri.i0 >= limit || tri.i1 >= limit || tri.i2 >= limit) return false;
    }
    return true;
}

// The weights one pose visits when every range stays within the weights, every weight it covers
// names one of the mesh's bones and together they are no more than limit; otherwise -1.
int64_t sound_pose_weights(const Mesh &mesh, int64_t limit) {
    int64_t pose_weights = 0;
    for (int32_t v = 0; v < mesh.vertex_count; ++v) {
        const WeightRange &range = mesh.weight_ranges[v];
        const int32_t first = range.first;
        const int32_t count = range.count;
        if (first < 0 || count < 0 || int64_t{first} + count > mesh.weight_count) return -1;
        pose_weights += count;
        if (pose_weights > limit) return -1;
        for (int32_t w = first; w < first + count; ++w) {
            const int32_t bone = mesh.weights[w].bone;
            if (!mesh.bones || bone < 0 || bone >= mesh.bone_count) return -1;
        }
    }
    return pose_weights;
}

}  // namespace

void drop_unsound_mesh_data(Mesh &mesh, const ImageView &image, int64_t &pose_weights_left) {
    if (!mesh.positions) mesh.vertex_count = 0;
    if (!mesh.triangles) mesh.triangle_count = 0;

    // A triangle naming a vertex the mesh lacks would make every later stage read past its
    // arrays; such a triangle list is not used at all.
    if (mesh.triangle_count > 0 && !triangles_index_vertices(mesh)) {
        mesh.triangles = nullptr;
        mesh.triangle_count = 0;
    }
    // Per-vertex arrays without a count in front must cover every vertex.
    if (mesh.tex_coords && !array_in_image(image, mesh.tex_coords, 1, 2 + 8 * uint64_t(mesh.vertex_count)))
        mesh.tex_coords = nullptr;
    if (mesh.normals_from_file && !array_in_image(image, mesh.normals, mesh.vertex_count, 12)) {
        mesh.normals = nullptr;  // computed from the positions instead
        mesh.normals_from_file = 0;
    }
    if (mesh.weights && !array_in_image(image, mesh.weights, mesh.weight_count, sizeof(VertexWeight))) {
        mesh.weights = nullptr;
        mesh.weight_count = 0;
    }
    if (mesh.weight_ranges) {
        const int64_t limit = pose_weights_left < kMaxPoseWeights ? pose_weights_left : kMaxPoseWeights;
        const int64_t visited = array_in_image(image, mesh.weight_ranges, mesh.vertex_count, sizeof(WeightRange))
                                    ? sound_pose_weights(mesh, limit)
                                    : -1;
        if (visited < 0)
            mesh.weight_ranges = nullptr;  // posed from the file positions, unskinned
        else
            pose_weights_left -= visited;
    }
}
