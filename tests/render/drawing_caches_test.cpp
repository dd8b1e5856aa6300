// What the drawing may keep or skip to save time, held against a fresh computation: the light and
// eye vectors, a skinned mesh's tangent frames and the pose follow the light, the eye, the pose
// and the frame; a mesh wholly outside the view is not handed to GL. Over the fake platform and GL.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/asset_loading.h"
#include "model/frame_number.h"
#include "model/model_table.h"
#include "model/skeletal_pose.h"
#include "render/frame_renderer.h"
#include "render/mesh_draw_cache.h"
#include "render/model_drawing.h"
#include "render/scene_update.h"
#include "render/view_transforms.h"
#include "shell/lifecycle.h"
#include "shell/plugin_state.h"
#include "tests/fakes/plugin_fixture.h"
#include "tests/model/model_image.h"

namespace {

// A skinned pair of triangles with file normals: their frames are rebuilt from each new pose.
ModelImage skinned_model() {
    ModelImage image;
    image.magic().mesh_start("skin").vertices({{0, 0, 0}, {2, 0, 0}, {0, 4, 0}, {2, 4, 1}});
    image.triangles({{0, 1, 2}, {1, 3, 2}}).tex_coords({{0, 0}, {1, 0}, {0, 1}, {1, 1}});
    image.normals({{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}});
    image.bone_count(2).bone(0, "a", "").bone(1, "b", "");
    image.weights({{0, 1.0f}, {0, 0.5f}, {1, 0.5f}, {1, 1.0f}, {1, 0.75f}});
    image.ranges({{0, 1}, {1, 2}, {3, 1}, {4, 1}});
    return image;
}

// An octahedron of radius 40 about the origin, and a seventh vertex at the centre (which no
// triangle uses) with stray as its x.
ModelImage octahedron(float stray = 0.0f) {
    ModelImage image;
    image.magic().mesh_start("octahedron");
    image.vertices({{40, 0, 0}, {-40, 0, 0}, {0, 40, 0}, {0, -40, 0}, {0, 0, 40}, {0, 0, -40}, {stray, 0, 0}});
    image.triangles({{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}});
    image.tex_coords({{0, 0.5f}, {0.5f, 0.5f}, {0.25f, 0.5f}, {0.75f, 0.5f}, {0.5f, 0}, {0.5f, 1}, {0, 0}});
    return image;
}

template <typename T>
bool same_bytes(const T *a, const T *b, int32_t count) {
    return std::memcmp(a, b, sizeof(T) * size_t(count)) == 0;
}

class DrawingCaches : public PluginTest {
protected:
    // Starts the plug-in with this sphere model (again, when it runs already).
    void start(const ModelImage &model) {
        if (mesh) plugin_quit(&module);
        write_asset("sphere.qtl", model.bytes);
        ASSERT_EQ(plugin_init(&module), 0);
        mesh = resolve_model_handle(plugin_state.model_list[0])->meshes;
        light.colour = {1, 1, 1};
        light_list = &light;
    }
    void TearDown() override {
        light_list = nullptr;
        plugin_quit(&module);
        PluginTest::TearDown();
    }
    // A fresh entity record, as each frame's scene update makes one.
    SceneEntity entity_at(const Vec3 &position, const Vec3 &angles, float scale = 1.0f) {
        SceneEntity e{};
        e.position = position;
        e.angles = angles;
        e.blend_src = e.blend_dst = e.alpha_func = e.back_texture = -1;
        e.decal_texture = decal_texture_name;
        e.normal_texture = normal_texture_name;
        e.model_scale = scale;
        e.model = plugin_state.model_list[0];
        return e;
    }
    Mesh *mesh = nullptr;
    LightSource light{};
};

TEST_F(DrawingCaches, EveryPassSeesWhatAFreshComputationGives) {
    start(skinned_model());
    const Matrix34 turned_a_quarter = {{0, -1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0}};
    // No turn of the entity: moving it and the light alike then leaves the light exactly where it
    // was in the entity's space, and only the eye moves there.
    struct Step {
        const char *what;
        uint32_t frame;
        Vec3 sphere, light;
        bool turn_bone, force_pose;
    } steps[] = {
        {"first frame", 100, {150, 0, 0}, {0, 0, 0}, false, false},
        {"the light moves within the frame", 100, {150, 0, 0}, {150, 30, 10}, false, false},
        {"a new frame, nothing moves", 101, {150, 0, 0}, {150, 30, 10}, false, false},
        {"the sphere and the light move alike: only the eye moves", 101, {150, 20, 8}, {150, 50, 18}, false, false},
        {"a bone turns and the pose is forced", 102, {150, 20, 8}, {150, 50, 18}, true, true},
        {"the new pose is kept", 103, {150, 20, 8}, {150, 50, 18}, true, false},
        {"the light moves again", 104, {150, 20, 8}, {-400, 0, 90}, true, false},
    };
    Vec3 last_light{}, last_eye{};
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        FrameNumber = step.frame;
        light.position = step.light;
        if (step.turn_bone) mesh->bones[0].local = turned_a_quarter;
        SceneEntity e = entity_at(step.sphere, {0, 0, 0});
        e.force_pose_update = step.force_pose;
        draw_entity(e);  // the blur's pass
        draw_entity(e);  // the frame's pass
        ASSERT_NE(mesh->draw_cache, nullptr);
        const MeshDrawCache &cache = *mesh->draw_cache;

        // The same pose, frames and vectors computed from nothing, in a frame of their own.
        const Matrix34 to_object = entity_world_to_object(e);
        Vec3 light_in_object, eye_in_object;
        mat34_transform_point(to_object, light.position, light_in_object);
        mat34_transform_point(to_object, camera_position, eye_in_object);
        if (&step == &steps[3]) {
            ASSERT_EQ(std::memcmp(&light_in_object, &last_light, sizeof last_light), 0) << "the light stays";
            ASSERT_NE(std::memcmp(&eye_in_object, &last_eye, sizeof last_eye), 0) << "the eye moves";
        }
        last_light = light_in_object;
        last_eye = eye_in_object;
        ParsedModel fresh(skinned_model());
        Mesh &f = *fresh.meshes().at(0);
        f.bones[0].local = mesh->bones[0].local;
        FrameNumber = 0x70000000;
        update_mesh_transform(f, 1.0f);
        update_mesh_vertices(f, 1.0f, true);
        const size_t count = size_t(f.vertex_count);
        std::vector<TangentFrame> frames(count);
        std::vector<Vec3> light_vectors(count), eye_vectors(count);
        compute_mesh_tangent_frames(f, frames.data());
        compute_mesh_tangent_space_vectors(f, frames.data(), light_in_object, eye_in_object, light_vectors.data(),
                                           eye_vectors.data());
        EXPECT_TRUE(same_bytes(mesh->posed_positions, f.posed_positions, f.vertex_count));
        EXPECT_TRUE(same_bytes(cache.tangent_frames, frames.data(), f.vertex_count));
        EXPECT_TRUE(same_bytes(cache.light_vectors, light_vectors.data(), f.vertex_count));
        EXPECT_TRUE(same_bytes(cache.eye_vectors, eye_vectors.data(), f.vertex_count));
    }
}

// The frames of a skinned mesh with normals follow its pose; any other mesh keeps the frames of
// the first pose it was lit in, as its normals stay too; a mesh without texture coordinates gets
// none. Drawn as the light pass does, a forced pose in a new frame between two passes.
TEST(DrawCache, OnlySkinnedMeshesRebuildTheirFramesForANewPose) {
    ModelImage still;
    still.magic().mesh_start("still").vertices({{0, 0, 0}, {2, 0, 0}, {0, 4, 0}}).triangles({{0, 1, 2}});
    ModelImage bare = still;
    still.tex_coords({{0, 0}, {1, 0}, {0, 1}});
    const struct {
        const char *what;
        ModelImage model;
        bool rebuilt, built;
    } cases[] = {{"skinned", skinned_model(), true, true},
                 {"unskinned", still, false, true},
                 {"no texture coordinates", bare, false, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ParsedModel parsed(c.model);
        Mesh &m = *parsed.meshes().at(0);
        MeshDrawCache *cache = mesh_draw_cache(m);
        ASSERT_NE(cache, nullptr);
        uint32_t first_pose = 0;
        for (int pass = 0; pass < 2; ++pass) {
            advance_frame_number();
            update_mesh_transform(m, 1.0f);
            update_mesh_vertices(m, 1.0f, true);
            if (pass == 0) first_pose = m.pose_stamp;
            update_light_and_eye_vectors(m, *cache, Vec3{3, 4, 5}, Vec3{0, 0, 10});
        }
        ASSERT_NE(m.pose_stamp, first_pose);
        EXPECT_EQ(cache->frames_pose, c.rebuilt ? m.pose_stamp : c.built ? first_pose : 0u);
        EXPECT_EQ(cache->vectors_pose, c.built ? m.pose_stamp : 0u) << "vectors follow every pose";
    }
}

TEST_F(DrawingCaches, OnlyMeshesWhollyOutsideTheViewAreSkipped) {
    // At 150 units the default 512 x 384 window sees 83 units to either side. The planes one by one
    // are held against GL itself in tests/gl. A posed vertex that is not a finite number leaves no
    // sphere to hold the mesh, so it is drawn wherever it lies.
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char *what;
        Vec3 position;
        float scale;
        float stray;  // x of the unused seventh vertex
        int draws;
    } cases[] = {
        {"straight ahead", {150, 0, 0}, 1, 0, 1},
        {"around the camera", {0, 0, 0}, 1, 0, 1},
        {"behind the camera", {-60, 0, 0}, 1, 0, 0},
        {"half beyond the left edge", {150, 100, 0}, 1, 0, 1},
        {"beyond the left edge", {150, 140, 0}, 1, 0, 0},
        {"beyond the left edge, but three times the size", {150, 140, 0}, 3, 0, 1},
        {"beyond the far plane", {8300, 0, 0}, 1, 0, 0},
        {"across the far plane", {8200, 0, 0}, 1, 0, 1},
        {"beyond the left edge with a vertex that is not a number", {150, 140, 0}, 1, nan, 1},
        {"behind the camera with a vertex at infinity", {-60, 0, 0}, 1, inf, 1},
    };
    float started_with = 1;  // no model yet
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (std::memcmp(&started_with, &c.stray, sizeof started_with) != 0) start(octahedron(c.stray));
        started_with = c.stray;
        advance_frame_number();
        SceneEntity e = entity_at(c.position, {0, 0, 0}, c.scale);
        fake.calls.clear();
        draw_entity(e);
        EXPECT_EQ(fake_call_count("glDrawElements"), c.draws);
    }
}

}  // namespace
