// Texture state as the GL reports it after the texture manager and the asset loading ran.
#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "image/asset_loading.h"
#include "image/texture_manager.h"
#include "model/model_table.h"
#include "shell/lifecycle.h"
#include "shell/plugin_state.h"
#include "tests/fakes/test_bitmap.h"
#include "tests/gl/gl_fixture.h"

namespace {

struct TextureState {
    GLint wrap_s, wrap_t, min_filter, mag_filter, width, height, levels;
};

TextureState state_of(GLuint name) {
    TextureState s{};
    glBindTexture(GL_TEXTURE_2D, name);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &s.wrap_s);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &s.wrap_t);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &s.min_filter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &s.mag_filter);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &s.width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &s.height);
    for (GLint w = 1; w > 0 && s.levels < 16; ++s.levels)
        glGetTexLevelParameteriv(GL_TEXTURE_2D, s.levels + 1, GL_TEXTURE_WIDTH, &w);
    return s;
}

std::vector<uint8_t> texels_of(GLuint name, int width, int height) {
    std::vector<uint8_t> texels(size_t(width) * size_t(height) * 4);
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    return texels;
}

// An image whose pixel k holds k in red and green, 1 in blue, 255 in alpha.
RgbaImage *numbered_image(int32_t width, int32_t height) {
    auto *image = static_cast<RgbaImage *>(std::malloc(sizeof(RgbaImage) + size_t(width * height) * 4));
    image->width = width;
    image->height = height;
    image->pixels = reinterpret_cast<uint8_t *>(image + 1);
    for (int32_t k = 0; k < width * height; ++k) {
        uint8_t *p = image->pixels + size_t(k) * 4;
        p[0] = p[1] = uint8_t(k), p[2] = 1, p[3] = 255;
    }
    return image;
}

class Textures : public GlPluginTest {
protected:
    void SetUp() override {
        GlPluginTest::SetUp();
        plugin_state.module = &module;
        plugin_state.gl.glActiveTextureARB =
            reinterpret_cast<PFNGLACTIVETEXTUREARBPROC>(offscreen_gl_proc_address("glActiveTextureARB"));
    }
};

TEST_F(Textures, FilterAndWrapFollowTheModeAndMipmaps) {
    struct Case {
        int32_t mode, mipmaps, width, height;
        GLint wrap, min_filter, mag_filter, width_after, height_after, levels, mode_after;
    } cases[] = {
        {1, 1, 256, 256, GL_REPEAT, GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR, 256, 256, 9, 1},
        {2, 1, 256, 256, GL_CLAMP, GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR, 256, 256, 9, 2},
        {1, 0, 256, 256, GL_REPEAT, GL_LINEAR, GL_LINEAR, 256, 256, 1, 1},
        {0, 1, 256, 256, GL_REPEAT, GL_NEAREST, GL_NEAREST, 256, 256, 9, 0},
        {3, 0, 256, 256, GL_CLAMP, GL_NEAREST, GL_NEAREST, 256, 256, 1, 0},
        {2, 1, 100, 60, GL_CLAMP, GL_LINEAR, GL_LINEAR, 128, 64, 1, 2},  // padded: never mipmapped
        {1, 1, 1, 1, GL_REPEAT, GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR, 1, 1, 1, 1},
    };
    for (const Case &c : cases) {
        upload_filter_mode = c.mode;
        plugin_state.options.mipmaps = c.mipmaps;
        RgbaImage *image = numbered_image(c.width, c.height);
        const int32_t name = texture_upload(*image);
        std::free(image);
        const TextureState s = state_of(GLuint(name));
        const std::string what = "mode " + std::to_string(c.mode) + ", " + std::to_string(c.width) + " wide";
        EXPECT_EQ(s.wrap_s, c.wrap) << what;
        EXPECT_EQ(s.wrap_t, c.wrap) << what;
        EXPECT_EQ(s.min_filter, c.min_filter) << what;
        EXPECT_EQ(s.mag_filter, c.mag_filter) << what;
        EXPECT_EQ(s.width, c.width_after) << what;
        EXPECT_EQ(s.height, c.height_after) << what;
        EXPECT_EQ(s.levels, c.levels) << what;
        EXPECT_EQ(upload_filter_mode, c.mode_after) << what;
    }
    // Mode 3 held for one upload only: the next one is nearest with the default wrap.
    upload_filter_mode = 3;
    RgbaImage *image = numbered_image(4, 4);
    texture_upload(*image);
    const TextureState second = state_of(GLuint(texture_upload(*image)));
    std::free(image);
    EXPECT_EQ(second.wrap_s, GL_REPEAT);
    EXPECT_EQ(second.min_filter, GL_NEAREST);
}

TEST_F(Textures, PaddedImagesFillTheirCornerAndZerosTheRest) {
    RgbaImage *image = numbered_image(100, 60);
    const int32_t first = texture_upload(*image);
    const std::vector<uint8_t> texels = texels_of(GLuint(first), 128, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x) {
            const uint8_t *t = &texels[(size_t(y) * 128 + size_t(x)) * 4];
            if (x < 100 && y < 60) {
                ASSERT_EQ(t[0], uint8_t(y * 100 + x)) << x << "," << y;
                ASSERT_EQ(t[3], 255);
            } else {
                ASSERT_EQ(t[0] | t[1] | t[2] | t[3], 0) << x << "," << y;
            }
        }
    // A window of the image, from its column 10 and row 20.
    const int32_t window = texture_upload_padded(*image, 10, 20, 3, 2);
    EXPECT_EQ(window, first + 1);  // names come in sequence
    const std::vector<uint8_t> corner = texels_of(GLuint(window), 4, 2);
    EXPECT_EQ(corner[0], uint8_t(20 * 100 + 10));
    EXPECT_EQ(corner[4 * 4 + 0], uint8_t(21 * 100 + 10));
    EXPECT_EQ(corner[3 * 4 + 3], 0);
    std::free(image);
}

TEST_F(Textures, CubeMapHoldsUnitDirectionsAndIsBoundOnUnitsThreeAndOne) {
    normalization_cube_map_create();
    EXPECT_EQ(cube_map_texture, 1);  // the first name of a fresh library
    normalization_cube_map_create();
    EXPECT_EQ(next_texture_name, 2);  // a second call takes no name
    for (GLenum unit : {GL_TEXTURE3, GL_TEXTURE1}) {
        GLint bound = 0;
        plugin_state.gl.glActiveTextureARB(unit);
        glGetIntegerv(GL_TEXTURE_BINDING_CUBE_MAP, &bound);
        EXPECT_EQ(bound, cube_map_texture);
    }
    plugin_state.gl.glActiveTextureARB(GL_TEXTURE0);
    GLint active = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    EXPECT_EQ(active, GL_TEXTURE0);

    std::vector<uint8_t> face(128 * 128 * 3);
    glBindTexture(GL_TEXTURE_CUBE_MAP, GLuint(cube_map_texture));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    auto texel = [&](GLenum target, int i, int j) {
        glGetTexImage(target, 0, GL_RGB, GL_UNSIGNED_BYTE, face.data());
        const uint8_t *t = &face[(size_t(j) * 128 + size_t(i)) * 3];
        return std::vector<int>{t[0], t[1], t[2]};
    };
    EXPECT_EQ(texel(GL_TEXTURE_CUBE_MAP_POSITIVE_X, 0, 0), (std::vector<int>{201, 201, 201}));
    EXPECT_EQ(texel(GL_TEXTURE_CUBE_MAP_POSITIVE_X, 127, 127), (std::vector<int>{201, 54, 54}));
    EXPECT_EQ(texel(GL_TEXTURE_CUBE_MAP_POSITIVE_X, 64, 64), (std::vector<int>{254, 127, 127}));
    EXPECT_EQ(texel(GL_TEXTURE_CUBE_MAP_NEGATIVE_Z, 0, 0), (std::vector<int>{201, 201, 54}));
}

using AssetTextures = GlPluginTest;

TEST_F(AssetTextures, HeightBecomesTheNormalMapsAlphaAndImagesAreClamped) {
    // The height's stored rows are 10, 20, 30, ... in red (bottom row first). One of another size
    // than the normal map is not merged: a flat map, not one read past the height's pixels.
    for (int height_size : {4, 2}) {
        SCOPED_TRACE(height_size);
        if (height_size != 4) {
            TearDown();
            SetUp();
        }
        std::vector<uint8_t> rows;
        for (int y = 0; y < height_size; ++y) {
            for (int x = 0; x < height_size; ++x) rows.insert(rows.end(), {0, 0, uint8_t(10 * (y + 1))});
            rows.resize((rows.size() + 3) & ~size_t(3));
        }
        write_asset("height.bmp", test_bitmap(height_size, height_size, rows));
        write_asset("normal.bmp", solid_test_bitmap(4, 4, 128, 128, 255));
        write_asset("sphere.qtl", uv_sphere_model(40, 8, 4));
        ASSERT_EQ(plugin_init(&module), 0);
        EXPECT_TRUE(fake.boxes.empty());
        EXPECT_EQ(upload_filter_mode, 1);
        ASSERT_EQ(plugin_state.model_count, 1);
        EXPECT_STREQ(plugin_state.model_list[0]->path, "vis_halcyonsphere_assets/sphere.qtl");

        const std::vector<uint8_t> normal = texels_of(GLuint(normal_texture_name), 4, 4);
        for (int k = 0; k < 16; ++k) {
            EXPECT_EQ(normal[size_t(k) * 4 + 3], height_size == 4 ? 40 - 10 * (k / 4) : 255) << k;  // top row first
            EXPECT_EQ(normal[size_t(k) * 4 + 2], 255) << k;
        }
        for (int32_t name : {decal_texture_name, normal_texture_name}) {
            const TextureState s = state_of(GLuint(name));
            EXPECT_EQ(s.wrap_s, GL_CLAMP);
            EXPECT_EQ(s.min_filter, GL_LINEAR);
        }
        plugin_quit(&module);
    }
}

TEST_F(AssetTextures, OptionsChooseTheFilesAndFailuresAreReported) {
    struct Case {
        const char *what;
        std::vector<std::string> broken;  // files written as non-bitmaps
        std::vector<std::string> missing;
        int32_t detailed_height, alt_sphere, filter_mode;
        int init_result;
        bool normal_made;
        const char *model;  // expected entry 0, or null for none
    } cases[] = {
        {"detailed height never reads height.bmp", {"height.bmp"}, {}, 1, 0, 1, 0, true, "sphere.qtl"},
        {"plain height never reads height_d.bmp", {"height_d.bmp"}, {}, 0, 1, 1, 0, true, "sphere2.qtl"},
        {"a missing decal stops before the normal map", {}, {"decal.bmp"}, 0, 0, 1, 1, false, nullptr},
        {"a refused normal map", {"normal.bmp"}, {}, 0, 0, 1, 1, false, nullptr},
        {"a missing model still starts", {}, {"sphere.qtl"}, 0, 0, 1, 0, true, nullptr},
        {"nearest filtering", {}, {}, 0, 0, 0, 0, true, "sphere.qtl"},
    };
    for (const Case &c : cases) {
        TearDown();
        SetUp();
        UserOptions options = default_user_options();
        options.detailed_height = c.detailed_height;
        options.alt_sphere = c.alt_sphere;
        write_asset("useropt.cfg", std::vector<uint8_t>(reinterpret_cast<uint8_t *>(&options),
                                                        reinterpret_cast<uint8_t *>(&options + 1)));
        write_asset("sphere.qtl", uv_sphere_model(40, 8, 4));
        write_asset("sphere2.qtl", uv_sphere_model(30, 8, 4));
        for (const std::string &name : c.broken) write_asset(name, std::string("not a bitmap"));
        for (const std::string &name : c.missing) std::remove(("vis_halcyonsphere_assets/" + name).c_str());
        if (c.filter_mode == 0) {
            // The mode comes from the renderer settings, which Init resets: load again after it.
            ASSERT_EQ(plugin_init(&module), 0);
            plugin_state.settings.texture_filter_mode = 0;
            ASSERT_EQ(load_assets(), 0);
            EXPECT_EQ(state_of(GLuint(decal_texture_name)).mag_filter, GL_NEAREST) << c.what;
            EXPECT_EQ(state_of(GLuint(normal_texture_name)).wrap_t, GL_CLAMP) << c.what;
            EXPECT_EQ(upload_filter_mode, 0) << c.what;
            plugin_quit(&module);
            continue;
        }
        EXPECT_EQ(plugin_init(&module), c.init_result) << c.what;
        EXPECT_EQ(normal_texture_name != 0, c.normal_made) << c.what;
        if (c.init_result == 1) {
            ASSERT_EQ(fake.boxes.size(), 1u) << c.what;
            EXPECT_EQ(fake.boxes[0].text, "Image load failed.");
            EXPECT_EQ(fake.boxes[0].caption, "Halcyonsphere");
            EXPECT_EQ(fake.boxes[0].owner, module.parent_window);
            EXPECT_EQ(fake.quit_messages, 1);
            EXPECT_NE(plugin_state.window, nullptr) << "the display stays open";
        }
        if (c.model) {
            ASSERT_EQ(plugin_state.model_count, 1) << c.what;
            EXPECT_EQ(std::string(plugin_state.model_list[0]->path), std::string("vis_halcyonsphere_assets/") + c.model);
        } else if (c.init_result == 0) {
            EXPECT_EQ(plugin_state.model_count, 0) << c.what;
        }
        plugin_quit(&module);
    }
}

}  // namespace
