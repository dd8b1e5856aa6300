// What the drawing may keep or skip to save time, held against a fresh computation: the light and
// eye vectors, a skinned mesh's tangent frames and the pose follow the light, the pose and the
// frame; a mesh wholly outside the view is not handed to GL. Over the fake platform and GL.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/asset_loading.h"
#include "model/model_table.h"
#include "model/skeletal_pose.h"
#include "model/tangent_frames.h"
#include "render/frame_clock.h"
#include "render/frame_renderer.h"
#include "render/view_transforms.h"
#include "render/model_drawing.h"
#include "render/scene_update.h"
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

// An octahedron of radius 40 about the origin.
ModelImage octahedron() {
    ModelImage image;
    image.magic().mesh_start("octahedron");
    image.vertices({{40, 0, 0}, {-40, 0, 0}, {0, 40, 0}, {0, -40, 0}, {0, 0, 40}, {0, 0, -40}});
    image.triangles({{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}});
    image.tex_coords({{0, 0.5f}, {0.5f, 0.5f}, {0.25f, 0.5f}, {0.75f, 0.5f}, {0.5f, 0}, {0.5f, 1}});
    return image;
}

template <typename T>
bool same_bytes(const T *a, const T *b, int32_t count) {
    return std::memcmp(a, b, sizeof(T) * size_t(count)) == 0;
}

class DrawingCaches : public PluginTest {
protected:
    void start(const ModelImage &model) {
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
    struct Step {
        const char *what;
        uint32_t clock;
        Vec3 light;
        bool turn_bone, force_pose;
    } steps[] = {
        {"first frame", 100, {0, 0, 0}, false, false},
        {"the light moves within the frame", 100, {150, 30, 10}, false, false},
        {"a new frame, nothing moves", 101, {150, 30, 10}, false, false},
        {"a bone turns and the pose is forced", 102, {150, 30, 10}, true, true},
        {"the new pose is kept", 103, {150, 30, 10}, true, false},
        {"the light moves again", 104, {-400, 0, 90}, true, false},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        FrameClock = step.clock;
        light.position = step.light;
        if (step.turn_bone) mesh->bones[0].local = turned_a_quarter;
        SceneEntity e = entity_at({150, 0, 0}, {10, 30, -20});
        e.force_pose_update = step.force_pose;
        draw_entity(e);  // the blur's pass
        draw_entity(e);  // the frame's pass

        // The same pose, frames and vectors computed from nothing, in a frame of their own.
        const Matrix34 to_object = entity_world_to_object(e);
        Vec3 light_in_object, eye_in_object;
        mat34_transform_point(to_object, light.position, light_in_object);
        mat34_transform_point(to_object, camera_position, eye_in_object);
        ParsedModel fresh(skinned_model());
        Mesh &f = *fresh.meshes().at(0);
        f.bones[0].local = mesh->bones[0].local;
        FrameClock = 0x70000000;
        SceneEntity forced = e;
        forced.force_pose_update = 1;
        update_mesh_transform(f, 1.0f);
        update_mesh_vertices(&forced, f);
        compute_tangent_space_vectors(f.vertex_count, f.posed_positions, f.triangle_count, f.triangles, f.tangent_frames,
                                      f.normals, f.light_vectors, f.eye_vectors, eye_in_object, light_in_object,
                                      mesh_tex_coord_pairs(f), &f);
        EXPECT_TRUE(same_bytes(mesh->posed_positions, f.posed_positions, f.vertex_count));
        EXPECT_TRUE(same_bytes(mesh->tangent_frames, f.tangent_frames, f.vertex_count));
        EXPECT_TRUE(same_bytes(mesh->light_vectors, f.light_vectors, f.vertex_count));
        EXPECT_TRUE(same_bytes(mesh->eye_vectors, f.eye_vectors, f.vertex_count));
    }
}

TEST_F(DrawingCaches, OnlyMeshesWhollyOutsideTheViewAreSkipped) {
    start(octahedron());
    // At 150 units the default 512 x 384 window sees 83 units to either side. The planes one by one
    // are held against GL itself in tests/gl.
    struct Case {
        const char *what;
        Vec3 position;
        float scale;
        int draws;
    } cases[] = {
        {"straight ahead", {150, 0, 0}, 1, 1},
        {"around the camera", {0, 0, 0}, 1, 1},
        {"behind the camera", {-60, 0, 0}, 1, 0},
        {"half beyond the left edge", {150, 100, 0}, 1, 1},
        {"beyond the left edge", {150, 140, 0}, 1, 0},
        {"beyond the left edge, but three times the size", {150, 140, 0}, 3, 1},
        {"beyond the far plane", {8300, 0, 0}, 1, 0},
        {"across the far plane", {8200, 0, 0}, 1, 1},
    };
    uint32_t clock = 1000;
    for (const Case &c : cases) {
        FrameClock = ++clock;
        SceneEntity e = entity_at(c.position, {0, 0, 0}, c.scale);
        fake.calls.clear();
        draw_entity(e);
        EXPECT_EQ(fake_call_count("glDrawElements"), c.draws) << c.what;
    }
}

}  // namespace
