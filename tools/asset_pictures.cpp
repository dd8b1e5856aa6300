#include "tools/asset_pictures.h"

#include <cmath>

#include "tools/asset_math.h"

namespace {

struct Colour {
    double r, g, b;
};

Colour blend(const Colour &a, const Colour &b, double f) {
    return {mix(a.r, b.r, f), mix(a.g, b.g, f), mix(a.b, b.b, f)};
}

Point3 offset(const Point3 &p, double f, double dx, double dy, double dz) {
    return {p.x * f + dx, p.y * f + dy, p.z * f + dz};
}

// The planet's palette: kept light enough to read under a dim or strongly tinted light.
const Colour kDeepSea{0.05, 0.16, 0.38}, kOpenSea{0.09, 0.40, 0.60}, kShallows{0.22, 0.70, 0.72};
const Colour kSand{0.88, 0.81, 0.62}, kMeadow{0.34, 0.56, 0.27}, kForest{0.18, 0.38, 0.22};
const Colour kSavanna{0.76, 0.64, 0.37}, kDesert{0.86, 0.62, 0.38}, kRedRock{0.70, 0.36, 0.24};
const Colour kRock{0.50, 0.45, 0.42}, kSnow{0.95, 0.96, 0.99}, kIce{0.84, 0.91, 0.97};

constexpr double kSeaLevel = 0.3;

struct Surface {
    double height;    // 0..1
    double detailed;  // 0..1
    Colour colour;
};

Surface planet_at(const Point3 &p) {
    // Warped coordinates give coastlines and ranges an organic, swirled shape.
    const Point3 q = offset(p, 1.2, 3.1, -7.4, 1.7);
    const Point3 w{p.x + 0.5 * fractal_noise(q, 4, 11), p.y + 0.5 * fractal_noise(offset(q, 1, 5.2, 1.3, -2.8), 4, 12),
                   p.z + 0.5 * fractal_noise(offset(q, 1, -4.6, 2.2, 6.1), 4, 13)};
    const double land = fractal_noise(offset(w, 1.6, 0.3, 0.9, -1.2), 7, 21) + 0.04;

    const double latitude = std::fabs(p.z);  // 0 at the equator, 1 at the poles
    const double inland = smoothstep(0.0, 0.2, land);
    // Mountains gather in belts; elsewhere the land rolls gently.
    const double belts = smoothstep(0.0, 0.3, fractal_noise(offset(w, 2.1, -6.0, 2.5, 4.0), 3, 32) + 0.22);
    const double ranges = ridge_noise(offset(w, 3.2, -2.0, 4.0, 0.5), 7, 31);
    const double hills = 0.5 + 0.5 * fractal_noise(offset(w, 6.0, 1.0, -3.0, 2.0), 5, 33);
    const double elevation =
        land <= 0 ? 0 : clamp01(0.3 * land + inland * (0.16 * hills + 0.8 * belts * ranges * ranges));
    Surface s;
    s.height = land <= 0 ? kSeaLevel : kSeaLevel + (1 - kSeaLevel) * elevation;
    const double fine = ridge_noise(offset(p, 22.0, 1.1, 2.3, 3.7), 4, 41) - 0.35;
    const double grain = gradient_noise(offset(p, 90.0, 0.5, 0.25, 0.125), 42);
    const double coast = smoothstep(0.0, 0.015, land);
    s.detailed = clamp01(s.height + coast * (0.06 * fine * (0.4 + elevation) + 0.012 * grain));

    const double moisture = fractal_noise(offset(p, 2.4, 8.0, 1.0, 3.0), 5, 51) + 0.3 * (1 - 2 * std::fabs(latitude - 0.1));
    const double tint = fractal_noise(offset(p, 7.0, 2.0, 2.0, 2.0), 5, 52);
    if (land <= 0) {
        const double depth = smoothstep(0.0, 0.32, -land);
        s.colour = depth < 0.25 ? blend(kShallows, kOpenSea, depth / 0.25) : blend(kOpenSea, kDeepSea, (depth - 0.25) / 0.75);
        const double sheen = 0.04 * tint;
        s.colour = {s.colour.r + sheen, s.colour.g + sheen, s.colour.b + sheen};
    } else {
        // Dry land: savanna and sand, turning to red rock where it rises.
        const Colour dry = blend(blend(kSavanna, kDesert, smoothstep(-0.2, 0.25, tint)), kRedRock,
                                 0.8 * smoothstep(0.12, 0.3, elevation));
        const Colour wet = blend(kMeadow, kForest, smoothstep(-0.1, 0.3, moisture - 0.1 + 0.6 * tint));
        Colour ground = blend(dry, wet, smoothstep(-0.2, 0.15, moisture));
        ground = blend(kSand, ground, smoothstep(0.0, 0.02, land));
        ground = blend(ground, kRock, smoothstep(0.28, 0.5, elevation));
        // Snow lies along the crests, streaked by the fine ridges.
        const double snowline = 0.72 - 0.45 * latitude + 0.06 * tint;
        ground = blend(ground, kSnow, smoothstep(snowline, snowline + 0.1, elevation + 0.25 * fine));
        // Fine mottling: fields, woods and screes too small for the height map.
        const double mottle = 0.88 + 0.24 * (0.5 + fractal_noise(offset(p, 40.0, 3.0, 1.0, 2.0), 3, 53));
        s.colour = {ground.r * mottle, ground.g * mottle, ground.b * mottle};
    }
    // Polar ice over land and sea alike, with a ragged edge.
    const double ice = smoothstep(0.87, 0.91, latitude + 0.05 * fractal_noise(offset(p, 5.0, 0, 0, 0), 4, 61));
    s.colour = blend(s.colour, kIce, ice);
    if (ice > 0) {
        s.height = std::fmax(s.height, kSeaLevel + ice * 0.05);
        s.detailed = std::fmax(s.detailed, s.height);
    }
    return s;
}

}  // namespace

Point3 map_point(int column, int row, int width, int height) {
    // The last column is the first meridian again, computed from the same numbers.
    const double u = column == width - 1 ? 0.0 : double(column) / double(width - 1);
    const double v = double(row) / double(height - 1);
    const double sin_theta = row == 0 || row == height - 1 ? 0.0 : steady_sin(kPi * v);
    const double cos_theta = row == 0 ? 1.0 : row == height - 1 ? -1.0 : steady_cos(kPi * v);
    const double phi = 2 * kPi * u;
    return {-sin_theta * steady_sin(phi), -sin_theta * steady_cos(phi), -cos_theta};
}

void make_planet_maps(PlanetMaps &maps, int width, int height, void (*progress)(double share)) {
    maps.width = width;
    maps.height = height;
    const size_t count = size_t(width) * size_t(height);
    maps.height_field.assign(count, 0.0f);
    maps.detailed_field.assign(count, 0.0f);
    maps.decal.assign(count * 3, 0);
    for (int row = 0; row < height; ++row) {
        if (progress && row % 64 == 0) progress(double(row) / height);
        for (int column = 0; column < width; ++column) {
            const size_t k = size_t(row) * size_t(width) + size_t(column);
            const Surface s = planet_at(map_point(column, row, width, height));
            maps.height_field[k] = float(s.height);
            maps.detailed_field[k] = float(s.detailed);
            maps.decal[3 * k + 0] = unit_to_byte(s.colour.r);
            maps.decal[3 * k + 1] = unit_to_byte(s.colour.g);
            maps.decal[3 * k + 2] = unit_to_byte(s.colour.b);
        }
    }
    if (progress) progress(1.0);
}

std::vector<uint8_t> normal_map_from_heights(const std::vector<float> &field, int width, int height,
                                             double strength) {
    std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
    const int period = width - 1;  // the last column repeats the first
    const double row_step = kPi / double(height - 1);
    const double column_step = 2 * kPi / double(period);
    auto at = [&](int column, int row) {
        column = ((column % period) + period) % period;
        return double(field[size_t(row) * size_t(width) + size_t(column)]);
    };
    for (int row = 0; row < height; ++row) {
        const double sin_theta = row == 0 || row == height - 1 ? 0.0 : steady_sin(kPi * row / double(height - 1));
        for (int column = 0; column < width; ++column) {
            // Slopes per unit of surface distance on the unit sphere: along a row the step between
            // columns shrinks with the circle of latitude.
            const double east =
                sin_theta > 0 ? (at(column + 1, row) - at(column - 1, row)) / (2 * column_step * sin_theta) : 0.0;
            double south;
            if (row == 0)
                south = (at(column, 1) - at(column, 0)) / row_step;
            else if (row == height - 1)
                south = (at(column, row) - at(column, row - 1)) / row_step;
            else
                south = (at(column, row + 1) - at(column, row - 1)) / (2 * row_step);
            double n[3] = {-strength * east, -strength * south, 1.0};
            const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            uint8_t *out = &rgb[(size_t(row) * size_t(width) + size_t(column)) * 3];
            for (int c = 0; c < 3; ++c) out[c] = uint8_t(std::floor(128.0 + 127.0 * n[c] / length + 0.5));
        }
    }
    return rgb;
}

std::vector<uint8_t> height_bytes(const std::vector<float> &field) {
    std::vector<uint8_t> bytes(field.size());
    for (size_t k = 0; k < field.size(); ++k) bytes[k] = unit_to_byte(field[k]);
    return bytes;
}
