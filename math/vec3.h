// Vectors and planes: three packed floats, and a plane n·x + d = 0 whose first three floats are a Vec3.
#pragma once

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

// add and subtract may write into a or b (each component reads only its own inputs).
void vec3_add(const Vec3 &a, const Vec3 &b, Vec3 &out);
void vec3_subtract(const Vec3 &a, const Vec3 &b, Vec3 &out);
void vec3_copy(const Vec3 &src, Vec3 &dst);
void vec3_scale(Vec3 &v, float s);
// out must not be a or b.
void vec3_cross(const Vec3 &a, const Vec3 &b, Vec3 &out);
float vec3_dot(const Vec3 &a, const Vec3 &b);
float vec3_length(const Vec3 &v);
// Scales v to unit length and returns its former length; a zero vector stays zero and gives 0.
float vec3_normalize(Vec3 &v);

// The plane through three points, normal (p2 - p1) x (p3 - p1) left unnormalised. out must not alias.
void plane_from_points(const Vec3 &p1, const Vec3 &p2, const Vec3 &p3, Plane &out);

// The point of the segment a..b nearest to p. out must not alias p, a or b.
void closest_point_on_segment(const Vec3 &p, const Vec3 &a, const Vec3 &b, Vec3 &out);
