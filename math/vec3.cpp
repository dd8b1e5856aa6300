#include "math/vec3.h"

#include <cmath>

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
