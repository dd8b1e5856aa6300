#include "image/texture_manager.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "shell/gl_api.h"
#include "shell/plugin_state.h"

#if defined(_WIN32)
extern "C" __declspec(dllimport) int APIENTRY gluBuild2DMipmaps(GLenum, GLint, GLint, GLint, GLenum, GLenum,
                                                                const void *);
#else
extern "C" int gluBuild2DMipmaps(GLenum, GLint, GLint, GLint, GLenum, GLenum, const void *);
#endif

int32_t next_texture_name = 1;
int32_t cube_map_texture = -1;
int32_t upload_filter_mode = 1;

namespace {

// The wrap and filter rule for the bound 2-D texture. Mode 3 is one-shot: it falls back to 0.
void apply_filter_rule(bool mipmapped) {
    const int32_t mode = upload_filter_mode;
    if (mode >= 2) {
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, float(GL_CLAMP));
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, float(GL_CLAMP));
    }
    if (mode == 3) upload_filter_mode = 0;
    const bool nearest = mode == 0 || mode == 3;
    const GLenum min_filter = nearest ? GL_NEAREST : mipmapped ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR;
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, float(min_filter));
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, float(nearest ? GL_NEAREST : GL_LINEAR));
}

uint8_t encode_component(float c) { return uint8_t(int(c * 127.0f + 128.0f)); }

}  // namespace

int32_t take_texture_name() { return next_texture_name++; }

int32_t power_of_two_at_least(int32_t v) {
    if (v <= 0) return 0;
    int64_t p = 1;
    while (p < v) p <<= 1;
    return p > INT32_MAX ? INT32_MAX : int32_t(p);
}

int32_t texture_upload(const RgbaImage &image) {
    if (power_of_two_at_least(image.width) != image.width || power_of_two_at_least(image.height) != image.height)
        return texture_upload_padded(image, 0, 0, image.width, image.height);
    const int32_t name = next_texture_name;
    const bool mipmapped = plugin_state.options.mipmaps != 0;
    glBindTexture(GL_TEXTURE_2D, GLuint(name));
    if (mipmapped)
        gluBuild2DMipmaps(GL_TEXTURE_2D, 4, image.width, image.height, GL_RGBA, GL_UNSIGNED_BYTE, image.pixels);
    // With mipmaps this gives level 0 again, the same pixels; the higher levels stay.
    glTexImage2D(GL_TEXTURE_2D, 0, 4, image.width, image.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, image.pixels);
    apply_filter_rule(mipmapped);
    ++next_texture_name;
    return name;
}

int32_t texture_upload_padded(const RgbaImage &image, int32_t x0, int32_t y0, int32_t w, int32_t h) {
    const int32_t name = next_texture_name;
    const int32_t padded_width = power_of_two_at_least(w), padded_height = power_of_two_at_least(h);
    // The window must lie inside the image; anything outside it reads as transparent black.
    const int32_t copy_width = std::max(0, std::min(w, image.width - x0));
    const int32_t copy_height = std::max(0, std::min(h, image.height - y0));
    const size_t row_bytes = size_t(padded_width) * 4;
    uint8_t *texels = x0 >= 0 && y0 >= 0 ? static_cast<uint8_t *>(std::calloc(size_t(padded_height), row_bytes ? row_bytes : 1))
                                          : nullptr;
    if (texels) {
        for (int32_t y = 0; y < copy_height; ++y)
            std::memcpy(texels + size_t(y) * row_bytes,
                        image.pixels + (size_t(y0 + y) * size_t(image.width) + size_t(x0)) * 4, size_t(copy_width) * 4);
        glBindTexture(GL_TEXTURE_2D, GLuint(name));
        glTexImage2D(GL_TEXTURE_2D, 0, 4, padded_width, padded_height, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
        apply_filter_rule(false);
        std::free(texels);
    }
    ++next_texture_name;
    return name;
}

Vec3 cube_face_direction(int face, int n, int i, int j) {
    const float s = (float(i) + 0.5f) / float(n) * 2.0f - 1.0f;
    const float t = (float(j) + 0.5f) / float(n) * 2.0f - 1.0f;
    Vec3 d{};
    switch (face) {
    case 0: d = {1.0f, -t, -s}; break;
    case 1: d = {-1.0f, -t, s}; break;
    case 2: d = {s, 1.0f, t}; break;
    case 3: d = {s, -1.0f, -t}; break;
    case 4: d = {s, -t, 1.0f}; break;
    default: d = {-s, -t, -1.0f}; break;
    }
    const float r = 1.0f / std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    return {d.x * r, d.y * r, d.z * r};
}

void cube_map_fill_faces(int n) {
    uint8_t *texels = static_cast<uint8_t *>(std::malloc(size_t(n) * size_t(n) * 3));
    if (!texels) return;
    glTexParameteri(GL_TEXTURE_CUBE_MAP_ARB, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_CUBE_MAP_ARB, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_CUBE_MAP_ARB, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_CUBE_MAP_ARB, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    for (int face = 0; face < 6; ++face) {
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) {
                const Vec3 d = cube_face_direction(face, n, i, j);
                uint8_t *texel = texels + (size_t(j) * size_t(n) + size_t(i)) * 3;
                texel[0] = encode_component(d.x);
                texel[1] = encode_component(d.y);
                texel[2] = encode_component(d.z);
            }
        }
        glTexImage2D(GLenum(GL_TEXTURE_CUBE_MAP_POSITIVE_X_ARB + face), 0, GL_RGB8, n, n, 0, GL_RGB,
                     GL_UNSIGNED_BYTE, texels);
    }
    std::free(texels);
}

void normalization_cube_map_create() {
    if (cube_map_texture != -1) return;
    cube_map_texture = take_texture_name();
    const GlEntryPoints &gl = plugin_state.gl;
    gl.glActiveTextureARB(GL_TEXTURE3_ARB);
    glBindTexture(GL_TEXTURE_CUBE_MAP_ARB, GLuint(cube_map_texture));
    cube_map_fill_faces(kCubeMapSize);
    // The light pass samples it on unit 1 without binding it there itself.
    gl.glActiveTextureARB(GL_TEXTURE1_ARB);
    glBindTexture(GL_TEXTURE_CUBE_MAP_ARB, GLuint(cube_map_texture));
    gl.glActiveTextureARB(GL_TEXTURE0_ARB);
}

void texture_manager_forget_context() { cube_map_texture = -1; }
