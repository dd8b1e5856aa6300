#include "render/scene_update.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "model/frame_number.h"
#include "render/frame_clock.h"
#include "render/frame_renderer.h"
#include "settings/user_options.h"
#include "shell/plugin_state.h"
#include "tests/fakes/plugin_fixture.h"

namespace {

class Scene : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        plugin_state.module = &module;
        plugin_state.options = default_user_options();
    }
    void TearDown() override {
        clear_lists();
        PluginTest::TearDown();
    }
    void clear_lists() {
        free_light_list(light_list);
        light_list = nullptr;
        while (entity_list) {
            SceneEntity *next = entity_list->next;
            std::free(entity_list);
            entity_list = next;
        }
    }
    std::vector<SceneEntity> update_at(uint32_t tick) {
        clear_lists();
        fake.tick_count = tick;
        scene_update();
        std::vector<SceneEntity> entities;
        for (SceneEntity *e = entity_list; e; e = e->next) entities.push_back(*e);
        return entities;
    }
    void fill(int channel, int first_bin, int last_bin, uint8_t value) {
        std::memset(module.spectrum_data[channel] + first_bin, value, size_t(last_bin - first_bin + 1));
    }
};

void expect_vec(const Vec3 &v, float x, float y, float z, const std::string &what) {
    EXPECT_FLOAT_EQ(v.x, x) << what;
    EXPECT_FLOAT_EQ(v.y, y) << what;
    EXPECT_FLOAT_EQ(v.z, z) << what;
}

TEST_F(Scene, AudioEnergySumsTheLowerHalfOfTheChannelsRow) {
    EXPECT_EQ(audio_energy(0), 0.0f);
    fill(0, 0, 575, 255);
    EXPECT_EQ(audio_energy(0), 8.96484375f);
    EXPECT_EQ(audio_energy(1), 0.0f);
    fill(1, 288, 575, 255);  // loud only where nobody listens
    EXPECT_EQ(audio_energy(1), 0.0f);
    fill(1, 287, 287, 128);
    EXPECT_EQ(audio_energy(1), 128.0f / 8192.0f);
    module.channel_count = 1;  // the second row reads as the first
    EXPECT_EQ(audio_energy(1), audio_energy(0));
    module.channel_count = 0;
    EXPECT_EQ(audio_energy(0), 0.0f);
    EXPECT_EQ(audio_energy(1), 0.0f);
}

TEST_F(Scene, LightFollowsTheChannelsAndSaturates) {
    // Silence: a black light level with the sphere, panning or not.
    std::vector<SceneEntity> e = update_at(1000);
    ASSERT_TRUE(light_list);
    expect_vec(light_list->colour, 0, 0, 0, "silence");
    expect_vec(light_list->position, e[0].position.x - 2000, e[0].position.y, e[0].position.z + 300, "silence");
    EXPECT_EQ(light_list->range, 16384.0f);
    EXPECT_EQ(light_list->next, nullptr);

    fill(0, 0, 575, 255);
    plugin_state.options.light_brightness = 19;
    e = update_at(1000);
    const float level = 6.0f * 19.0f / 1024.0f * 8.96484375f;
    expect_vec(light_list->colour, level, 0, level, "red and blue follow the first channel");
    EXPECT_NEAR(level, 0.998f, 0.001f);
    EXPECT_FLOAT_EQ(light_list->position.y, e[0].position.y - 6000.0f * 8.96484375f);

    fill(1, 0, 575, 255);
    plugin_state.options.light_brightness = 20;
    plugin_state.options.light_panning = 0;
    e = update_at(1000);
    expect_vec(light_list->colour, 1, 1, 1, "saturated");
    EXPECT_FLOAT_EQ(light_list->position.y, e[0].position.y);
}

TEST_F(Scene, OneSpherePlacement) {
    struct Case {
        const char *what;
        int32_t size, floating, rotating, detailed, alt;
        uint32_t t;
        Vec3 position, angles;
    };
    const double t = 123456;
    const float fy = 10.0f * float(std::cos(double(0.0001f) * t)), fz = 10.0f * float(std::sin(double(0.0003f) * t));
    const float ry = 360.0f * float(std::sin(double(0.00001f) * t)), rz = 360.0f * float(std::cos(double(0.00001f) * t));
    const Case cases[] = {
        {"resting at the default size", 768, 0, 0, 0, 0, 5000, {150, 0, 0}, {0, 90, 180}},
        {"smallest size is farthest", 0, 0, 0, 0, 0, 5000, {600, 0, 0}, {0, 90, 180}},
        {"sizes from 922 are nearest", 922, 0, 0, 0, 0, 5000, {60, 0, 0}, {0, 90, 180}},
        {"far outside the range", 100000, 0, 0, 0, 0, 5000, {60, 0, 0}, {0, 90, 180}},
        {"negative size", -1024, 0, 0, 0, 0, 5000, {1200, 0, 0}, {0, 90, 180}},
        {"detailed height tilts", 768, 0, 0, 1, 0, 5000, {150, 0, 0}, {-25, 90, 180}},
        {"not the alternative sphere", 768, 0, 0, 1, 1, 5000, {150, 0, 0}, {0, 90, 180}},
        {"floating", 768, 1, 0, 0, 0, uint32_t(t), {150, fy, fz}, {0, 90, 180}},
        {"rotating", 768, 0, 1, 0, 0, uint32_t(t), {150, 0, 0}, {0, ry, rz}},
    };
    for (const Case &c : cases) {
        UserOptions &o = plugin_state.options;
        o.sphere_size = c.size, o.floating = c.floating, o.rotating = c.rotating;
        o.detailed_height = c.detailed, o.alt_sphere = c.alt;
        const uint32_t frame = FrameNumber;
        const std::vector<SceneEntity> e = update_at(c.t);
        ASSERT_EQ(e.size(), 1u) << c.what;
        expect_vec(e[0].position, c.position.x, c.position.y, c.position.z, c.what);
        expect_vec(e[0].angles, c.angles.x, c.angles.y, c.angles.z, c.what);
        EXPECT_EQ(e[0].model, nullptr) << c.what;  // no model in the list: drawn as a quad
        EXPECT_EQ(FrameClock, c.t);
        EXPECT_EQ(FrameNumber, frame + 1) << "a new frame, whatever the tick";
    }
    const SceneEntity e = update_at(1)[0];
    EXPECT_EQ(e.half_width, 10.0f);
    EXPECT_EQ(e.half_height, 10.0f);
    EXPECT_EQ(e.blend_src, -1);
    EXPECT_EQ(e.blend_dst, -1);
    EXPECT_EQ(e.alpha_func, -1);
    EXPECT_EQ(e.back_texture, -1);
    EXPECT_EQ(e.model_scale, 1.0f);
    EXPECT_EQ(e.force_pose_update, 0);
}

TEST_F(Scene, SeveralSpheresRunAheadOfEachOther) {
    plugin_state.options.sphere_count = 3;
    const std::vector<SceneEntity> e = update_at(0);
    ASSERT_EQ(e.size(), 3u);
    expect_vec(e[0].position, 150, 100, 0, "sphere 0 at t = 0");
    expect_vec(e[0].angles, 0, 0, 360, "sphere 0 at t = 0");
    for (int i = 1; i < 3; ++i) {
        const double ti = 4000.0 * i;
        const float w = 100.0f * float(std::sin(double(0.0003f) * ti));
        expect_vec(e[size_t(i)].position, 150 + w, 100.0f * float(std::cos(double(0.0001f) * ti)), w, "sphere i");
        expect_vec(e[size_t(i)].angles, 0, 360.0f * float(std::sin(double(0.00001f) * ti)),
                   360.0f * float(std::cos(double(0.00001f) * ti)), "sphere i");
    }
    // The tick wraps: sphere 1 of a clock 2000 ms before the wrap runs at 2000 ms.
    const std::vector<SceneEntity> wrapped = update_at(0xFFFFFFFFu - 1999u);
    EXPECT_FLOAT_EQ(wrapped[1].position.y, 100.0f * float(std::cos(double(0.0001f) * 2000.0)));
}

TEST_F(Scene, HostileSphereCountsNeverOverrunTheModelList) {
    struct Case {
        int32_t count;
        size_t entities;
    } cases[] = {{0, 0}, {-5, 0}, {1, 1}, {256, 256}, {300, 256}, {1000000000, 256}};
    for (const Case &c : cases) {
        plugin_state.options.sphere_count = c.count;
        EXPECT_EQ(update_at(7).size(), c.entities) << c.count;
        EXPECT_EQ(light_list != nullptr, c.entities > 0) << c.count;
        EXPECT_LE(plugin_state.model_count, kModelListCapacity);
    }
}

TEST_F(Scene, ModelOffsetsShiftEverySphereAndTheLight) {
    struct Case {
        const char *text;
        Vec3 position, angles;
    } cases[] = {
        {"(0 0 50) (0 45 0)", {0, 0, 50}, {0, 45, 0}},
        {"(0.5\t-2\n3)(4 5 6)", {0.5f, -2, 3}, {4, 5, 6}},
        {"(1 2 3)", {1, 2, 3}, {9, 9, 9}},          // only the first triple
        {"(1 2 3) [4 5 6]", {1, 2, 3}, {9, 9, 9}},  // the second does not match
        {"(1 2 x) (4 5 6)", {1, 2, 9}, {9, 9, 9}},  // stops at the first mismatch
        {"", {9, 9, 9}, {9, 9, 9}},
    };
    for (const Case &c : cases) {
        model_offsets = {{9, 9, 9}, {9, 9, 9}};
        write_asset("modeloffsets.txt", std::string(c.text));
        load_model_offsets();
        expect_vec(model_offsets.position, c.position.x, c.position.y, c.position.z, c.text);
        expect_vec(model_offsets.angles, c.angles.x, c.angles.y, c.angles.z, c.text);
    }
    model_offsets = {};
    write_asset("modeloffsets.txt", std::string("(0 0 50) (0 45 0)"));
    load_model_offsets();
    plugin_state.options.floating = 0;
    const SceneEntity e = update_at(1)[0];
    expect_vec(e.position, 150, 0, 50, "lifted");
    expect_vec(e.angles, 0, 135, 180, "turned");
    EXPECT_FLOAT_EQ(light_list->position.z, 350.0f);
}

}  // namespace
