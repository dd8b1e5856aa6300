// Drawing a model: each mesh posed once per frame, then one pass per light with the fragment
// program on four texture units (normal map, eye vectors, decal, light vectors), the first light
// replacing what lies behind and every further light adding to it.
#pragma once

#include <cstdint>

#include "math/matrix34.h"
#include "model/model.h"
#include "render/scene_entity.h"

void draw_model(ModelFile &model, SceneEntity &entity);
void draw_mesh_lit(Mesh &mesh, ModelFile &model, SceneEntity &entity);
// The entity's object-to-world matrix, read from GL once per frame and kept in the entity.
const Matrix34 &entity_object_to_world(SceneEntity &entity);
// World to the entity's object space: the inverse of the above.
Matrix34 entity_world_to_object(SceneEntity &entity);
void bind_light_program();
void bind_light_textures(int32_t normal_texture, int32_t decal_texture);
void set_light_texcoord_arrays(const Vec3 *eye, const Vec3 *light, const TexCoordPair *uv);
// Undoes the two above and the program, and binds name on unit 0.
void reset_light_units(int32_t name);
