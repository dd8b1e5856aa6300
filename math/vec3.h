// Vectors and planes: three packed floats, and a plane n·x + d = 0 whose first three floats are a Vec3.
#pragma once

#include <cmath>
#include <cstddef>

struct Vec3 {
    float x, y, z;
};
static_assert(sizeof(Vec3) == 12, "Vec3 arrays are packed in model files");
static_assert(offsetof(Vec3, y) == 4 && offsetof(Vec3, z) == 8, "Vec3 field order");

struct Plane {
    Vec3 normal;
    float d;
};
static_assert(sizeof(Plane) == 16, "a plane is four floats");

// The small helpers are inline: the per-vertex loops call them many times per vertex.

// add and subtract may write into a or b (each component reads only its own inputs).
inline void vec3_add(const Vec3 &a, const Vec3 &b, Vec3 &out) {
    out.x = a.x + b.x;
    out.y = a.y + b.y;
    out.z = a.z + b.z;
}

inline void vec3_subtract(const Vec3 &a, const Vec3 &b, Vec3 &out) {
    out.x = a.x - b.x;
    out.y = a.y - b.y;
    out.z = a.z - b.z;
}

inline void vec3_copy(const Vec3 &src, Vec3 &dst) { dst = src; }

inline void vec3_scale(Vec3 &v, float s) {
    v.x *= s;
    v.y *= s;
    v.z *= s;
}

// out must not be a or b.
inline void vec3_cross(const Vec3 &a, const Vec3 &b, Vec3 &out) {
    out.x = a.y * b.z - a.z * b.y;
    out.y = a.z * b.x - a.x * b.z;
    out.z = a.x * b.y - a.y * b.x;
}

inline float vec3_dot(const Vec3 &a, const Vec3 &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

inline float vec3_length(const Vec3 &v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

// Scales v to unit length and returns its former length; a zero vector stays zero and gives 0.
inline float vec3_normalize(Vec3 &v) {
    const float length = vec3_length(v);
    if (length == 0.0f) return 0.0f;
    // One reciprocal, three multiplies: the rounding every caller's results are pinned to.
    const float reciprocal = 1.0f / length;
    v.x *= reciprocal;
    v.y *= reciprocal;
    v.z *= reciprocal;
    return length;
}

// The plane through three points, normal (p2 - p1) x (p3 - p1) left unnormalised. out must not alias.
void plane_from_points(const Vec3 &p1, const Vec3 &p2, const Vec3 &p3, Plane &out);

// The point of the segment a..b nearest to p. out must not alias p, a or b.
void closest_point_on_segment(const Vec3 &p, const Vec3 &a, const Vec3 &b, Vec3 &out);
