// The artwork loaded at the end of Init: the decal texture, the normal-map texture with the height
// in its alpha, and the first sphere model.
#pragma once

#include <cstdint>

#include "image/bmp_reader.h"

extern int32_t decal_texture_name;
extern int32_t normal_texture_name;

constexpr const char kHeightImage[] = "vis_halcyonsphere_assets/height.bmp";
constexpr const char kDetailedHeightImage[] = "vis_halcyonsphere_assets/height_d.bmp";
constexpr const char kDecalImage[] = "vis_halcyonsphere_assets/decal.bmp";
constexpr const char kNormalImage[] = "vis_halcyonsphere_assets/normal.bmp";
constexpr const char kSphereModel[] = "vis_halcyonsphere_assets/sphere.qtl";
constexpr const char kAltSphereModel[] = "vis_halcyonsphere_assets/sphere2.qtl";

// 0 when loaded, 1 after "Image load failed." was shown and a quit message posted.
int load_assets();
// 1 when all three images were read and both textures made, 0 at the first failure.
int load_asset_images();
// The height image's red channel into the normal image's alpha; pixels merged, 0 when the sizes differ.
int32_t merge_height_into_alpha(RgbaImage &normal, const RgbaImage &height);
// Path of the sphere model the options choose.
const char *sphere_model_file();
