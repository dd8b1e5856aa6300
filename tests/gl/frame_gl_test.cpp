// Whole frames drawn by Init and Render with a real GL, read back and looked at.
#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/asset_loading.h"
#include "image/texture_manager.h"
#include "model/frame_number.h"
#include "model/model_table.h"
#include "render/frame_clock.h"
#include "render/frame_renderer.h"
#include "render/model_drawing.h"
#include "render/scene_update.h"
#include "settings/user_options.h"
#include "shell/display.h"
#include "shell/lifecycle.h"
#include "shell/platform.h"
#include "shell/plugin_state.h"
#include "tests/fakes/test_bitmap.h"
#include "tests/gl/gl_fixture.h"

namespace {

constexpr char kColourProgram[] = "!!ARBfp1.0\nMOV result.color, fragment.color;\nEND\n";

// What every pass leaves behind: depth test and 2-D textures on, unit 0 active, nothing else.
void expect_resting_state(const std::string &what) {
    GLint active = 0, client_active = 0, matrix_mode = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glGetIntegerv(GL_CLIENT_ACTIVE_TEXTURE, &client_active);
    glGetIntegerv(GL_MATRIX_MODE, &matrix_mode);
    EXPECT_EQ(active, GL_TEXTURE0) << what;
    EXPECT_EQ(client_active, GL_TEXTURE0) << what;
    EXPECT_EQ(matrix_mode, GL_MODELVIEW) << what;
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D)) << what;
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST)) << what;
    for (GLenum cap : std::initializer_list<GLenum>{GL_FRAGMENT_PROGRAM_ARB, GL_BLEND, GL_ALPHA_TEST, GL_CULL_FACE, GL_VERTEX_ARRAY,
                       GLenum(kTextureRectangle), GL_TEXTURE_CUBE_MAP})
        EXPECT_FALSE(glIsEnabled(cap)) << what << ": " << std::hex << cap;
    for (GLenum unit : {GL_TEXTURE1, GL_TEXTURE2, GL_TEXTURE3}) {
        plugin_state.gl.glActiveTextureARB(unit);
        plugin_state.gl.glClientActiveTextureARB(unit);
        EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D)) << what << ": unit " << unit - GL_TEXTURE0;
        EXPECT_FALSE(glIsEnabled(GL_TEXTURE_CUBE_MAP)) << what << ": unit " << unit - GL_TEXTURE0;
        EXPECT_FALSE(glIsEnabled(GL_TEXTURE_COORD_ARRAY)) << what << ": unit " << unit - GL_TEXTURE0;
    }
    plugin_state.gl.glActiveTextureARB(GL_TEXTURE0);
    plugin_state.gl.glClientActiveTextureARB(GL_TEXTURE0);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(colour[0] + colour[1] + colour[2] + colour[3], 4.0f) << what;
}

class Frames : public GlPluginTest {
protected:
    void SetUp() override {
        GlPluginTest::SetUp();
        write_asset("light_std.fp", shipped_light_program());
        write_asset("sphere.qtl", uv_sphere_model(40, 32, 16));
        write_asset("decal.bmp", solid_test_bitmap(8, 8, 200, 200, 200));
        options = default_user_options();
        options.floating = 0;  // the sphere rests at the window's centre
    }
    void TearDown() override {
        plugin_quit(&module);
        GlPluginTest::TearDown();
    }
    void start() {
        write_asset("useropt.cfg", std::vector<uint8_t>(reinterpret_cast<uint8_t *>(&options),
                                                        reinterpret_cast<uint8_t *>(&options + 1)));
        ASSERT_EQ(plugin_init(&module), 0);
        ASSERT_TRUE(fake.boxes.empty()) << fake.boxes[0].text;
    }
    // Pixels with any colour component above the threshold.
    static int lit_pixels(const Frame &f, int threshold = 8) {
        int lit = 0;
        for (size_t i = 0; i < f.rgba.size(); i += 4)
            lit += f.rgba[i] > threshold || f.rgba[i + 1] > threshold || f.rgba[i + 2] > threshold;
        return lit;
    }
    UserOptions options{};
};

TEST_F(Frames, FirstFrameHasNoBackgroundThenThePictureStreamsOutward) {
    start();
    const Frame first = render_at(1000);
    // Silence: no blur either, so only the sphere (250 pixels across at 150 units) shows.
    EXPECT_GT(first.brightness(236, 172, 276, 212), 1.0);
    EXPECT_EQ(first.brightness(0, 0, 120, 384), 0.0);
    EXPECT_EQ(first.brightness(392, 0, 512, 384), 0.0);

    // Without spheres each frame is the previous one zoomed in once more.
    plugin_state.options.sphere_count = 0;
    int previous = lit_pixels(first, 0);
    for (uint32_t tick = 1040; tick <= 1200; tick += 40) {
        const Frame f = render_at(tick);
        const int lit = lit_pixels(f, 0);
        EXPECT_GT(lit, previous) << tick;
        previous = lit;
    }
}

TEST_F(Frames, SilenceAddsNoBlurAndMusicDoes) {
    std::vector<Frame> runs[3];
    const int32_t radial[3] = {384, 0, 384};
    for (int run = 0; run < 3; ++run) {
        if (run > 0) {
            TearDown();
            SetUp();
        }
        options.radial_brightness = radial[run];
        start();
        if (run == 2) set_spectrum(40, 40);
        for (uint32_t tick : {500u, 540u, 580u}) runs[run].push_back(render_at(tick));
    }
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(runs[0][size_t(k)].largest_difference(runs[1][size_t(k)]), 0) << "frame " << k;
        EXPECT_GT(runs[2][size_t(k)].brightness(), runs[0][size_t(k)].brightness() + 1.0) << "frame " << k;
    }
    // The rays reach far beyond the sphere.
    EXPECT_GT(runs[2][2].brightness(0, 150, 100, 234), 2.0);
}

TEST_F(Frames, TheLightPansTowardsTheLouderChannelAndTakesItsColour) {
    options.radial_brightness = 0;
    start();
    set_spectrum(0, 12);  // only the second channel: a green light far to the left
    const Frame f = render_at(2000);
    const double left = f.brightness(216, 172, 246, 212), right = f.brightness(266, 172, 296, 212);
    EXPECT_GT(left, right + 10.0) << left << " vs " << right;
    const uint8_t *centre_left = f.at(230, 192);
    EXPECT_GT(centre_left[1], centre_left[0] + 20);
    EXPECT_GT(centre_left[1], centre_left[2] + 20);
    if (HasFailure()) f.write_png("/tmp/halcyon-pan.png");
}

TEST_F(Frames, EveryStartDrawsTheSameFirstFramesAndTakesNothingWithIt) {
    options.width = 128;
    options.height = 96;
    write_options(128, 96);
    std::vector<Frame> reference;
    int32_t names_per_start = 0;
    for (int cycle = 0; cycle < 100; ++cycle) {
        const int32_t names_before = next_texture_name;
        start();
        set_spectrum(30, 20);
        for (uint32_t tick : {100u, 140u}) {
            const Frame f = render_at(tick);
            if (cycle == 0) reference.push_back(f);
            else ASSERT_EQ(f.largest_difference(reference[reference.size() == 2 ? (tick == 100 ? 0 : 1) : 0]), 0)
                << "cycle " << cycle;
        }
        plugin_quit(&module);
        if (cycle == 1) names_per_start = next_texture_name - names_before;
        if (cycle > 1) {
            ASSERT_EQ(next_texture_name - names_before, names_per_start);
        }
        for (const ModelSlot &slot : model_slots) ASSERT_EQ(slot.used, 0) << "cycle " << cycle;
        ASSERT_EQ(plugin_state.model_count, 0);
    }
    EXPECT_EQ(names_per_start, 5);  // cube map, decal, normal map, two frame copies
}

// Tick 0 comes with a host clock that starts there, and whenever the tick count wraps.
TEST_F(Frames, AFrameAtTickZeroIsLitLikeAnyOther) {
    Frame frames[2];
    const uint32_t ticks[2] = {1, 0};
    for (int run = 0; run < 2; ++run) {
        if (run > 0) {
            TearDown();
            SetUp();
        }
        start();
        set_spectrum(30, 30);
        frames[run] = render_at(ticks[run]);
    }
    EXPECT_GT(frames[0].brightness(236, 172, 276, 212), 20.0);
    EXPECT_LE(frames[1].largest_difference(frames[0]), 2);
}

TEST_F(Frames, TheFrameCopiesGrowWithTheWindow) {
    options.radial_brightness = 0;  // the background alone shows what was copied
    start();
    set_spectrum(30, 30);
    render_at(1000);
    EXPECT_EQ(display_window_proc(plugin_state.window, win32::WM_SIZE, 0, (600 << 16) | 800), 0);
    const Frame with_sphere = render_at(1040);
    plugin_state.options.sphere_count = 0;
    const Frame background_only = render_at(1080);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    for (const FrameTexture *t : {&blur_source_texture, &feedback_texture}) {
        GLint width = 0, height = 0;
        glBindTexture(kTextureRectangle, GLuint(t->name));
        glGetTexLevelParameteriv(kTextureRectangle, 0, GL_TEXTURE_WIDTH, &width);
        glGetTexLevelParameteriv(kTextureRectangle, 0, GL_TEXTURE_HEIGHT, &height);
        EXPECT_GE(width, 800);
        EXPECT_GE(height, 600);
    }
    glBindTexture(kTextureRectangle, 0);
    // The sphere at the centre of the larger window is what the next frame's background shows there.
    EXPECT_GT(with_sphere.brightness(390, 290, 410, 310), 20.0);
    EXPECT_NEAR(background_only.brightness(390, 290, 410, 310), with_sphere.brightness(390, 290, 410, 310), 10.0);
}

// Over the cleared window the first pass gives back the copy (s); the second, blended
// (1, 1 - source colour) at 0.04, turns s into s (1.04 - 0.04 s).
TEST_F(Frames, TheSecondBackgroundPassBrightensOnlyTheMiddleTones) {
    start();
    render_at(1000);
    const int w = plugin_state.viewport_width, h = plugin_state.viewport_height;
    auto source = [](int x, int channel) { return channel == 0 ? x % 256 : channel == 1 ? 255 - x % 256 : x / 2 % 256; };
    std::vector<uint8_t> ramp(size_t(w) * size_t(h) * 4, 255);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) ramp[(size_t(y) * size_t(w) + size_t(x)) * 4 + size_t(c)] = uint8_t(source(x, c));
    glBindTexture(kTextureRectangle, GLuint(feedback_texture.name));
    glTexSubImage2D(kTextureRectangle, 0, 0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, ramp.data());
    glBindTexture(kTextureRectangle, 0);
    FrameClock = 0;  // brightness 1
    plugin_state.settings.background_zoom = 0.0f;  // texel for pixel
    for (int32_t double_pass : {0, 1}) {
        plugin_state.settings.background_double_pass = double_pass;
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        draw_background();
        expect_resting_state("background");
        const Frame f = read_frame();
        int worst = 0;
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const double s = source(x, c) / 255.0;
                const double expected = 255.0 * (double_pass ? s * (1.04 - 0.04 * s) : s);
                worst = std::max(worst, int(std::lround(std::abs(f.at(x, h / 2)[c] - expected))));
            }
        EXPECT_LE(worst, 1) << "double pass " << double_pass;
    }
}

TEST_F(Frames, ManySpheresAndHostileOptionsDrawWithoutHarm) {
    struct Case {
        const char *what;
        int32_t width, height, count, size;
        int32_t viewport_width, viewport_height, models;
    } cases[] = {
        {"256 spheres", 512, 384, 256, 768, 512, 384, 256},
        {"a count far too large", 512, 384, 1000000000, 768, 512, 384, 256},
        {"no spheres", 512, 384, 0, 768, 512, 384, 1},  // the first sphere's model loads at Init
        {"a negative count", 512, 384, -5, 768, 512, 384, 1},
        {"a size far too large", 512, 384, 1, 1000000, 512, 384, 1},
        {"a size far too small", 512, 384, 1, -1000000, 512, 384, 1},
        {"no width or height", 0, 0, 1, 768, 1, 1, 1},
        {"a huge window", 100000, 100000, 1, 768, 100000, 100000, 1},
    };
    for (const Case &c : cases) {
        TearDown();
        SetUp();
        options.width = c.width, options.height = c.height;
        options.sphere_count = c.count, options.sphere_size = c.size;
        start();
        set_spectrum(60, 60);
        for (uint32_t tick : {10u, 50u, 90u}) render_at(tick);
        expect_resting_state(c.what);
        EXPECT_EQ(plugin_state.viewport_width, c.viewport_width) << c.what;
        EXPECT_EQ(plugin_state.viewport_height, c.viewport_height) << c.what;
        EXPECT_EQ(plugin_state.model_count, c.models) << c.what;
        EXPECT_EQ(entity_list, nullptr);
        EXPECT_EQ(light_list, nullptr);
    }
}

using Drawing = GlPluginTest;

// A light of colour c straight in front of the sphere, and the sphere's entity.
struct DrawingScene {
    LightSource lights[2];
    SceneEntity entity;
};

// The entity as the scene makes it (no blending or alpha test of its own, so that nothing of
// draw_entity hides state the light passes leave behind), moved in front of the camera.
DrawingScene scene_in_front(float c) {
    DrawingScene s{};
    for (LightSource &l : s.lights) l.position = {-1000, 0, 0}, l.colour = {c, c, c};
    scene_update();
    s.entity = *entity_list;
    std::free(entity_list);
    entity_list = nullptr;
    free_light_list(light_list);
    light_list = nullptr;
    s.entity.next = nullptr;
    s.entity.position = {150, 0, 0};
    return s;
}

TEST_F(Drawing, LightsAddAndTheStateIsPutBack) {
    write_asset("light_std.fp", std::string(kColourProgram));
    write_asset("sphere.qtl", uv_sphere_model(40, 16, 8));
    ASSERT_EQ(plugin_init(&module), 0);
    for (int lights = 1; lights <= 2; ++lights) {
        DrawingScene s = scene_in_front(0.25f);
        s.lights[0].next = lights == 2 ? &s.lights[1] : nullptr;
        light_list = &s.lights[0];
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        draw_entity(s.entity);
        light_list = nullptr;
        const Frame f = read_frame();
        EXPECT_NEAR(f.at(256, 192)[0], 64 * lights, 2) << lights << " lights";

        expect_resting_state(std::to_string(lights) + " lights");
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(bound, decal_texture_name) << "the last lit mesh leaves its decal bound";
    }
    plugin_quit(&module);
}

TEST_F(Drawing, EntityMatrixIsReadOncePerFrameAndCarriesWorldIntoObjectSpace) {
    SceneEntity e{};
    e.angles = {0, 90, 0};  // a quarter turn about Z
    FrameNumber = 5;
    Matrix34 to_object = entity_world_to_object(e);
    Vec3 ahead{1, 0, 0}, in_object;
    mat34_transform_point(to_object, ahead, in_object);
    EXPECT_NEAR(in_object.x, 0, 1e-6);
    EXPECT_NEAR(in_object.y, -1, 1e-6);
    EXPECT_EQ(e.matrix_stamp, 5u);

    e.angles = {0, 0, 0};  // within the frame the cached matrix holds
    to_object = entity_world_to_object(e);
    mat34_transform_point(to_object, ahead, in_object);
    EXPECT_NEAR(in_object.y, -1, 1e-6);
    FrameNumber = 6;
    to_object = entity_world_to_object(e);
    mat34_transform_point(to_object, ahead, in_object);
    EXPECT_NEAR(in_object.x, 1, 1e-6);
}

TEST_F(Drawing, AnEntityWithoutAModelShowsItsDecalOnBothSides) {
    write_asset("decal.bmp", solid_test_bitmap(4, 4, 255, 0, 0));
    ASSERT_EQ(plugin_init(&module), 0);
    for (float turn : {90.0f, -90.0f}) {
        SceneEntity e{};
        e.position = {60, 0, 0};
        e.angles = {0, 0, turn};  // the quad's face towards the camera, then its back
        e.half_width = e.half_height = 10;
        e.blend_src = e.blend_dst = e.alpha_func = e.back_texture = -1;
        e.decal_texture = decal_texture_name;
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        draw_entity(e);
        const Frame f = read_frame();
        const uint8_t *centre = f.at(256, 192);
        EXPECT_EQ(centre[0], 252) << turn;  // the decal modulated by 0.99
        EXPECT_EQ(centre[1] + centre[2], 0) << turn;
    }
    plugin_quit(&module);
}

}  // namespace
