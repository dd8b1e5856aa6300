// Any bytes as a model file: parse and prepare them, then pose and light every mesh for a few
// frames, as drawing would. The image is a block of exactly the input's size.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "model/mesh_prepare.h"
#include "model/model_parse.h"
#include "model/model_table.h"
#include "model/skeletal_pose.h"
#include "model/tangent_frames.h"
#include "render/frame_clock.h"
#include "render/scene_entity.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 24)) return 0;
    uint8_t *image = static_cast<uint8_t *>(std::malloc(size ? size : 1));
    if (size) std::memcpy(image, data, size);
    ModelFile model{};
    model.data = image;
    model.size = static_cast<int32_t>(size);
    parse_model(model);

    SceneEntity entity{};
    entity.model_scale = 1.0f;
    const Vec3 eye{0, 0, 10}, light{3, 4, 5};
    for (uint32_t frame = 1; frame <= 2; ++frame) {
        FrameClock = frame;
        entity.force_pose_update = static_cast<uint8_t>(frame == 2);
        for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next) {
            update_mesh_transform(*mesh, 2.0f);
            ensure_index_array(*mesh);
            update_mesh_vertices(&entity, *mesh);
            compute_tangent_space_vectors(mesh->vertex_count, mesh->posed_positions, mesh->triangle_count,
                                          mesh->triangles, mesh->tangent_frames, mesh->normals,
                                          mesh->light_vectors, mesh->eye_vectors, eye, light,
                                          mesh_tex_coord_pairs(*mesh), mesh);
        }
    }
    FrameClock = 0;
    free_model_meshes(model);
    std::free(image);
    return 0;
}
