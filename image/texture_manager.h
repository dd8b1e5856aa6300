// GL textures: every name comes from one running counter; image uploads follow one filter and
// wrap rule; the normalization cube map turns any vector into its unit form for the light pass.
#pragma once

#include <cstdint>

#include "image/bmp_reader.h"
#include "math/vec3.h"

// Names handed out so far are below it; 1 at load. Names are never deleted or reused.
extern int32_t next_texture_name;
// Name of the normalization cube map in the current GL context, -1 while it has none.
extern int32_t cube_map_texture;
// 0 nearest, 1 linear, 2 clamped linear, 3 clamped nearest for the next upload only.
extern int32_t upload_filter_mode;

constexpr uint32_t kTextureRectangle = 0x84F5;  // the NV and EXT rectangle extensions share it
constexpr int kCubeMapSize = 128;

// Takes the counter's value as a new texture's name.
int32_t take_texture_name();
// Smallest power of two at least v; 0 for v <= 0.
int32_t power_of_two_at_least(int32_t v);

// A 2-D texture of the whole image, padded when a side is not a power of two.
int32_t texture_upload(const RgbaImage &image);
// A 2-D texture of the w × h window at column x0, row y0 (from the top), in power-of-two sides
// with zeros beyond the window. Never mipmapped.
int32_t texture_upload_padded(const RgbaImage &image, int32_t x0, int32_t y0, int32_t w, int32_t h);

// Creates the cube map in the current context and binds it on units 3 and 1; once per context.
void normalization_cube_map_create();
void cube_map_fill_faces(int n);
// Unit direction that GL's cube-map lookup maps to the centre of texel (i, j) of a face.
Vec3 cube_face_direction(int face, int n, int i, int j);

// The GL context is gone with every texture in it: the next context builds its own cube map.
void texture_manager_forget_context();
