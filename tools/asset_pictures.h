// The pictures of the shipped asset set: a planet's height, its finer height, its colours, and
// the normal map derived from the height. All are equirectangular maps of the sphere whose first
// and last columns are the same meridian and whose first and last rows are the two poles, so the
// sphere's texture coordinates can stay half a texel inside the picture: clamped sampling then
// never blends in the border colour, at the seam or at the poles.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/asset_math.h"

constexpr int kPictureWidth = 1024;
constexpr int kPictureHeight = 512;

// Texel (column, row) of a width × height map lies on the unit sphere at this point. Row 0 is the
// pole at -z; columns grow eastwards seen from outside, and the middle column faces +y.
Point3 map_point(int column, int row, int width, int height);

struct PlanetMaps {
    int width, height;
    std::vector<float> height_field;    // 0..1, top row first
    std::vector<float> detailed_field;  // the same with finer relief
    std::vector<uint8_t> decal;         // RGB, top row first
};

// Fills every map; progress, when given, is told the share done (0..1) now and then.
void make_planet_maps(PlanetMaps &maps, int width, int height, void (*progress)(double share));

// Tangent-space normals of a height field on the sphere, RGB bytes (128 + 127 × component):
// x along +column (rightwards), y along +row (down the picture), z outward. strength is the
// relief's height, in sphere radii, of a height step from 0 to 1.
std::vector<uint8_t> normal_map_from_heights(const std::vector<float> &field, int width, int height,
                                             double strength);

// Bytes of a height field: 255 is high.
std::vector<uint8_t> height_bytes(const std::vector<float> &field);
