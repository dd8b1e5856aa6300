#include "render/model_drawing.h"

#include "image/texture_manager.h"
#include "model/frame_number.h"
#include "model/mesh_prepare.h"
#include "model/skeletal_pose.h"
#include "render/mesh_draw_cache.h"
#include "render/scene_update.h"
#include "render/view_transforms.h"
#include "render/view_volume.h"
#include "shell/gl_api.h"
#include "shell/plugin_state.h"

namespace {

void select_unit(GLenum unit) {
    plugin_state.gl.glActiveTextureARB(unit);
    plugin_state.gl.glClientActiveTextureARB(unit);
}

void load_texture_identity() {
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
}

void draw_mesh_triangles(const Mesh &mesh) {
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(Vec3), mesh.posed_positions);
    glDrawElements(GL_TRIANGLES, 3 * mesh.triangle_count, GL_UNSIGNED_INT, mesh.indices);
    glDisableClientState(GL_VERTEX_ARRAY);
}

// With no light the mesh still hides what lies behind it, as a black silhouette.
void draw_dark_pass(const Mesh &mesh) {
    glDisable(GL_BLEND);
    reset_light_units(0);
    glColor3f(0.0f, 0.0f, 0.0f);
    draw_mesh_triangles(mesh);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

bool has_triangles(const Mesh &mesh) { return mesh.triangle_count > 0 && mesh.triangles && mesh.positions; }

// A posed mesh whose bounding sphere lies wholly outside the view would not reach a pixel. The
// entity's matrix is rigid (turns and a shift), so the sphere keeps its radius in the world.
bool mesh_outside_view(const Mesh &m, SceneEntity &e) {
    if (!m.pose_bounds_valid) return false;
    Vec3 centre;
    mat34_transform_point(entity_object_to_world(e), m.pose_centre, centre);
    return sphere_outside_view(centre, m.pose_radius);
}

}  // namespace

void bind_light_program() {
    plugin_state.gl.glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, plugin_state.light_program);
    glEnable(GL_FRAGMENT_PROGRAM_ARB);
}

void bind_light_textures(int32_t normal_texture, int32_t decal_texture) {
    const GlEntryPoints &gl = plugin_state.gl;
    gl.glActiveTextureARB(GL_TEXTURE3_ARB);
    glEnable(GL_TEXTURE_CUBE_MAP_ARB);
    glBindTexture(GL_TEXTURE_CUBE_MAP_ARB, GLuint(cube_map_texture));
    gl.glActiveTextureARB(GL_TEXTURE2_ARB);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, GLuint(decal_texture));
    // Unit 1 samples the cube map bound there when it was made.
    gl.glActiveTextureARB(GL_TEXTURE1_ARB);
    glEnable(GL_TEXTURE_CUBE_MAP_ARB);
    gl.glActiveTextureARB(GL_TEXTURE0_ARB);
    glBindTexture(GL_TEXTURE_2D, GLuint(normal_texture));
}

void set_light_texcoord_arrays(const Vec3 *eye, const Vec3 *light, const TexCoordPair *uv) {
    struct UnitArray {
        GLenum unit;
        GLint components;
        GLsizei stride;
        const void *array;
    };
    const UnitArray arrays[] = {{GL_TEXTURE3_ARB, 3, 12, light},
                                {GL_TEXTURE1_ARB, 3, 12, eye},
                                {GL_TEXTURE0_ARB, 2, 8, uv},
                                {GL_TEXTURE2_ARB, 2, 8, uv}};
    for (const UnitArray &a : arrays) {
        select_unit(a.unit);
        glTexCoordPointer(a.components, GL_FLOAT, a.stride, a.array);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    }
}

void reset_light_units(int32_t name) {
    select_unit(GL_TEXTURE3_ARB);
    glDisable(GL_TEXTURE_CUBE_MAP_ARB);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    select_unit(GL_TEXTURE2_ARB);
    glDisable(GL_TEXTURE_2D);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    select_unit(GL_TEXTURE1_ARB);
    glDisable(GL_TEXTURE_CUBE_MAP_ARB);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    select_unit(GL_TEXTURE0_ARB);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glBindTexture(GL_TEXTURE_2D, GLuint(name));
    load_texture_identity();
    glDisable(GL_FRAGMENT_PROGRAM_ARB);
}

const Matrix34 &entity_object_to_world(SceneEntity &e) {
    if (e.matrix_stamp != FrameNumber) {
        float gl_matrix[16];
        glPushMatrix();
        glLoadIdentity();
        apply_entity_transform(e);
        glGetFloatv(GL_MODELVIEW_MATRIX, gl_matrix);
        glPopMatrix();
        mat34_from_gl(gl_matrix, e.object_to_world);
        e.matrix_stamp = FrameNumber;
    }
    return e.object_to_world;
}

Matrix34 entity_world_to_object(SceneEntity &e) {
    Matrix34 world_to_object;
    mat34_rigid_inverse(entity_object_to_world(e), world_to_object);
    return world_to_object;
}

void draw_mesh_lit(Mesh &m, ModelFile &, SceneEntity &e) {
    update_mesh_transform(m, e.model_scale);
    ensure_index_array(m);
    if (!e.decal_texture || !e.normal_texture || !m.tex_coords) return;
    update_mesh_vertices(m, e.model_scale, e.force_pose_update != 0);
    // Nothing to light where nothing can be seen: no per-vertex work, nothing handed to GL.
    if (mesh_outside_view(m, e)) return;
    if (!light_list) {
        draw_dark_pass(m);
        return;
    }
    MeshDrawCache *cache = mesh_draw_cache(m);
    if (!cache) return;  // out of memory: no arrays to hand to GL
    const TexCoordPair *uv = mesh_tex_coord_pairs(m);
    float level = (audio_energy(1) + audio_energy(0)) * 0.5f;
    if (level > 1.0f) level = 1.0f;
    for (const LightSource *light = light_list; light; light = light->next) {
        const Matrix34 to_object = entity_world_to_object(e);
        Vec3 light_in_object, eye_in_object;
        mat34_transform_point(to_object, light->position, light_in_object);
        mat34_transform_point(to_object, camera_position, eye_in_object);
        update_light_and_eye_vectors(m, *cache, light_in_object, eye_in_object);
        glEnableClientState(GL_VERTEX_ARRAY);
        glVertexPointer(3, GL_FLOAT, sizeof(Vec3), m.posed_positions);
        bind_light_program();
        bind_light_textures(e.normal_texture, e.decal_texture);
        set_light_texcoord_arrays(cache->eye_vectors, cache->light_vectors, uv);
        glColor4f(light->colour.x, light->colour.y, light->colour.z, level);
        glDrawElements(GL_TRIANGLES, 3 * m.triangle_count, GL_UNSIGNED_INT, m.indices);
        // Unit 1 leaves with no texture matrix and no coordinate generation.
        plugin_state.gl.glActiveTextureARB(GL_TEXTURE1_ARB);
        load_texture_identity();
        glDisable(GL_TEXTURE_GEN_S);
        glDisable(GL_TEXTURE_GEN_T);
        glDisable(GL_TEXTURE_GEN_R);
        glDisable(GL_TEXTURE_GEN_Q);
        select_unit(GL_TEXTURE0_ARB);
        reset_light_units(0);
        glDisableClientState(GL_VERTEX_ARRAY);
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
        // Every further light adds its own pass on the same depths.
        glBlendFunc(GL_ONE, GL_ONE);
        glEnable(GL_BLEND);
    }
    glDisable(GL_BLEND);
}

void draw_model(ModelFile &model, SceneEntity &e) {
    if (!e.decal_texture) glDisable(GL_TEXTURE_2D);
    for (Mesh *m = model.meshes; m; m = m->next) {
        if (!has_triangles(*m)) continue;
        if (e.decal_texture && e.normal_texture && m->tex_coords) {
            glMatrixMode(GL_TEXTURE);
            glPushMatrix();
            glMatrixMode(GL_MODELVIEW);
            draw_mesh_lit(*m, model, e);
            glMatrixMode(GL_TEXTURE);
            glPopMatrix();
            glMatrixMode(GL_MODELVIEW);
            reset_light_units(e.decal_texture);
            continue;
        }
        // Not drawable, but its world matrix and indices stay current for meshes that hang off it.
        reset_light_units(0);
        const bool untextured = !m->tex_coords || !e.decal_texture;
        if (untextured) {
            glDisable(GL_TEXTURE_2D);
        } else {
            glEnable(GL_TEXTURE_2D);
            glBindTexture(GL_TEXTURE_2D, GLuint(e.decal_texture));
        }
        draw_mesh_lit(*m, model, e);
        if (untextured) glEnable(GL_TEXTURE_2D);
    }
    glEnable(GL_TEXTURE_2D);
}
