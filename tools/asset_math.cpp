#include "tools/asset_math.h"

#include <cmath>

namespace {

// Taylor series on |r| <= pi/4, where twelve terms are exact to the last bit that matters.
double sin_near_zero(double r) {
    const double r2 = r * r;
    double term = r, sum = r;
    for (int n = 1; n <= 11; ++n) {
        term *= -r2 / double((2 * n) * (2 * n + 1));
        sum += term;
    }
    return sum;
}

double cos_near_zero(double r) {
    const double r2 = r * r;
    double term = 1, sum = 1;
    for (int n = 1; n <= 11; ++n) {
        term *= -r2 / double((2 * n - 1) * (2 * n));
        sum += term;
    }
    return sum;
}

uint32_t mix_bits(uint32_t h) {
    h ^= h >> 16;
    h *= 0x7feb352dU;
    h ^= h >> 15;
    h *= 0x846ca68bU;
    h ^= h >> 16;
    return h;
}

uint32_t lattice_hash(int64_t x, int64_t y, int64_t z, uint32_t seed) {
    uint32_t h = mix_bits(seed ^ 0x9e3779b9U);
    h = mix_bits(h ^ uint32_t(x));
    h = mix_bits(h ^ uint32_t(y));
    return mix_bits(h ^ uint32_t(z));
}

// The twelve cube-edge directions of improved Perlin noise.
double gradient_dot(uint32_t hash, double x, double y, double z) {
    switch (hash % 12) {
        case 0: return x + y;
        case 1: return -x + y;
        case 2: return x - y;
        case 3: return -x - y;
        case 4: return x + z;
        case 5: return -x + z;
        case 6: return x - z;
        case 7: return -x - z;
        case 8: return y + z;
        case 9: return -y + z;
        case 10: return y - z;
        default: return -y - z;
    }
}

double fade(double t) { return t * t * t * (t * (t * 6 - 15) + 10); }

Point3 scaled(const Point3 &p, double f) { return {p.x * f, p.y * f, p.z * f}; }

}  // namespace

double steady_sin(double x) {
    const double quarter = kPi / 2;
    const double k = std::floor(x / quarter + 0.5);
    const double r = x - k * quarter;
    switch (int64_t(k) & 3) {
        case 0: return sin_near_zero(r);
        case 1: return cos_near_zero(r);
        case 2: return -sin_near_zero(r);
        default: return -cos_near_zero(r);
    }
}

double steady_cos(double x) { return steady_sin(x + kPi / 2); }

double smoothstep(double edge0, double edge1, double v) {
    const double t = clamp01((v - edge0) / (edge1 - edge0));
    return t * t * (3 - 2 * t);
}

double gradient_noise(const Point3 &p, uint32_t seed) {
    const double fx = std::floor(p.x), fy = std::floor(p.y), fz = std::floor(p.z);
    const int64_t ix = int64_t(fx), iy = int64_t(fy), iz = int64_t(fz);
    const double x = p.x - fx, y = p.y - fy, z = p.z - fz;
    double corner[8];
    for (int c = 0; c < 8; ++c) {
        const int dx = c & 1, dy = (c >> 1) & 1, dz = (c >> 2) & 1;
        corner[c] = gradient_dot(lattice_hash(ix + dx, iy + dy, iz + dz, seed), x - dx, y - dy, z - dz);
    }
    const double u = fade(x), v = fade(y), w = fade(z);
    const double x00 = mix(corner[0], corner[1], u), x10 = mix(corner[2], corner[3], u);
    const double x01 = mix(corner[4], corner[5], u), x11 = mix(corner[6], corner[7], u);
    return mix(mix(x00, x10, v), mix(x01, x11, v), w);
}

double fractal_noise(const Point3 &p, int octaves, uint32_t seed) {
    double sum = 0, amplitude = 0.5, frequency = 1;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * gradient_noise(scaled(p, frequency), seed + uint32_t(o) * 1013U);
        amplitude *= 0.5;
        frequency *= 2;
    }
    return sum;
}

double ridge_noise(const Point3 &p, int octaves, uint32_t seed) {
    double sum = 0, amplitude = 0.5, frequency = 1, weight = 1;
    for (int o = 0; o < octaves; ++o) {
        double crest = 1 - std::fabs(gradient_noise(scaled(p, frequency), seed + uint32_t(o) * 7919U));
        crest *= crest;
        sum += amplitude * crest * weight;
        weight = clamp01(crest * 1.6);
        amplitude *= 0.5;
        frequency *= 2;
    }
    return sum;
}

uint8_t unit_to_byte(double v) { return uint8_t(std::floor(clamp01(v) * 255 + 0.5)); }
