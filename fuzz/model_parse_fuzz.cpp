// Any bytes as a model file: parse and prepare them, then pose and light every mesh for a few
// frames, as drawing would. The image is a block of exactly the input's size.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "model/frame_number.h"
#include "model/mesh_prepare.h"
#include "model/model_parse.h"
#include "model/model_table.h"
#include "model/skeletal_pose.h"
#include "render/mesh_draw_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 24)) return 0;
    uint8_t *image = static_cast<uint8_t *>(std::malloc(size ? size : 1));
    if (size) std::memcpy(image, data, size);
    ModelFile model{};
    model.data = image;
    model.size = static_cast<int32_t>(size);
    parse_model(model);

    const Vec3 eye{0, 0, 10}, light{3, 4, 5};
    for (int frame = 1; frame <= 2; ++frame) {
        advance_frame_number();
        for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next) {
            update_mesh_transform(*mesh, 2.0f);
            ensure_index_array(*mesh);
            update_mesh_vertices(*mesh, 1.0f, frame == 2);
            if (MeshDrawCache *cache = mesh_draw_cache(*mesh)) update_light_and_eye_vectors(*mesh, *cache, light, eye);
        }
    }
    free_model_meshes(model);
    std::free(image);
    return 0;
}
