#include "render/mesh_draw_cache.h"

#include <cstdlib>
#include <cstring>

namespace {

bool same_point(const Vec3 &a, const Vec3 &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

static_assert(sizeof(MeshDrawCache) % alignof(TangentFrame) == 0 && sizeof(TangentFrame) % alignof(Vec3) == 0,
              "the arrays follow the record in one block, each aligned");

MeshDrawCache *mesh_draw_cache(Mesh &mesh) {
    if (mesh.draw_cache) return mesh.draw_cache;
    const size_t count = mesh.vertex_count > 0 ? size_t(mesh.vertex_count) : 0;
    const size_t frame_bytes = count * sizeof(TangentFrame), vector_bytes = count * sizeof(Vec3);
    uint8_t *block = static_cast<uint8_t *>(std::calloc(1, sizeof(MeshDrawCache) + frame_bytes + 2 * vector_bytes));
    if (!block) return nullptr;
    MeshDrawCache *cache = reinterpret_cast<MeshDrawCache *>(block);
    uint8_t *arrays = block + sizeof(MeshDrawCache);
    cache->tangent_frames = reinterpret_cast<TangentFrame *>(arrays);
    cache->light_vectors = reinterpret_cast<Vec3 *>(arrays + frame_bytes);
    cache->eye_vectors = reinterpret_cast<Vec3 *>(arrays + frame_bytes + vector_bytes);
    mesh.draw_cache = cache;
    return cache;
}

void update_light_and_eye_vectors(const Mesh &mesh, MeshDrawCache &cache, const Vec3 &light, const Vec3 &eye) {
    if (cache.vectors_pose == mesh.pose_stamp && same_point(cache.light, light) && same_point(cache.eye, eye)) return;
    if (!mesh_can_have_frames(mesh)) return;
    // A skinned mesh's normals move with its pose, so its frames are rebuilt for each new pose (and
    // only then: an unchanged pose would rebuild them bit for bit). Other frames stay as first built.
    const bool frames_follow_pose = mesh.weight_ranges && mesh.posed_normals;
    if (cache.frames_pose == 0 || (frames_follow_pose && cache.frames_pose != mesh.pose_stamp)) {
        compute_mesh_tangent_frames(mesh, cache.tangent_frames);
        cache.frames_pose = mesh.pose_stamp;
    }
    compute_mesh_tangent_space_vectors(mesh, cache.tangent_frames, light, eye, cache.light_vectors, cache.eye_vectors);
    cache.vectors_pose = mesh.pose_stamp;
    cache.light = light;
    cache.eye = eye;
}
