#include "math/vec3.h"

#include <cmath>

void vec3_add(const Vec3 &a, const Vec3 &b, Vec3 &out) {
    out.x = a.x + b.x;
    out.y = a.y + b.y;
    out.z = a.z + b.z;
}

void vec3_subtract(const Vec3 &a, const Vec3 &b, Vec3 &out) {
    out.x = a.x - b.x;
    out.y = a.y - b.y;
    out.z = a.z - b.z;
}

void vec3_copy(const Vec3 &src, Vec3 &dst) { dst = src; }

void vec3_scale(Vec3 &v, float s) {
    v.x *= s;
    v.y *= s;
    v.z *= s;
}

void vec3_cross(const Vec3 &a, const Vec3 &b, Vec3 &out) {
    out.x = a.y * b.z - a.z * b.y;
    out.y = a.z * b.x - a.x * b.z;
    out.z = a.x * b.y - a.y * b.x;
}

float vec3_dot(const Vec3 &a, const Vec3 &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

float vec3_length(const Vec3 &v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

float vec3_normalize(Vec3 &v) {
    const float length = vec3_length(v);
    if (length == 0.0f) return 0.0f;
    // One reciprocal, three multiplies: the rounding every caller's results are pinned to.
    const float reciprocal = 1.0f / length;
    v.x *= reciprocal;
    v.y *= reciprocal;
    v.z *= reciprocal;
    return length;
}

void plane_from_points(const Vec3 &p1, const Vec3 &p2, const Vec3 &p3, Plane &out) {
    // Expanded form, so that the sums round the same way wherever it runs.
    out.normal.x = p1.y * (p2.z - p3.z) + p2.y * (p3.z - p1.z) + p3.y * (p1.z - p2.z);
    out.normal.y = p1.z * (p2.x - p3.x) + p2.z * (p3.x - p1.x) + p3.z * (p1.x - p2.x);
    out.normal.z = p1.x * (p2.y - p3.y) + p2.x * (p3.y - p1.y) + p3.x * (p1.y - p2.y);
    out.d = -(p1.x * (p2.y * p3.z - p2.z * p3.y) + p2.x * (p1.z * p3.y - p1.y * p3.z) +
              p3.x * (p1.y * p2.z - p1.z * p2.y));
}

void closest_point_on_segment(const Vec3 &p, const Vec3 &a, const Vec3 &b, Vec3 &out) {
    Vec3 along_p, edge;
    vec3_subtract(p, a, along_p);
    vec3_subtract(b, a, edge);
    const float length = vec3_length(edge);
    vec3_normalize(edge);
    const float t = vec3_dot(edge, along_p);
    if (t < 0.0f) {
        out = a;
    } else if (t > length) {
        out = b;
    } else {
        out.x = a.x + t * edge.x;
        out.y = a.y + t * edge.y;
        out.z = a.z + t * edge.z;
    }
}
