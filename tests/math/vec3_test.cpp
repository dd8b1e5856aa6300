#include "math/vec3.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void expect_vec3(const Vec3 &v, float x, float y, float z) {
    EXPECT_FLOAT_EQ(v.x, x);
    EXPECT_FLOAT_EQ(v.y, y);
    EXPECT_FLOAT_EQ(v.z, z);
}

TEST(Vec3, NormalizeReturnsFormerLengthAndLeavesZeroAlone) {
    Vec3 zero{0, 0, 0};
    EXPECT_EQ(vec3_normalize(zero), 0.0f);
    expect_vec3(zero, 0, 0, 0);

    Vec3 v{3, 0, 4};
    EXPECT_EQ(vec3_normalize(v), 5.0f);
    expect_vec3(v, 0.6f, 0.0f, 0.8f);

    // The reciprocal is formed once: x * (1/len), not x / len.
    Vec3 w{1, 1, 1};
    const float len = std::sqrt(3.0f);
    vec3_normalize(w);
    EXPECT_EQ(w.x, 1.0f * (1.0f / len));
}

TEST(Vec3, AddAndSubtractMayWriteIntoAnInput) {
    const Vec3 a{1, 2, 3}, b{0.5f, -4, 10};
    Vec3 sum, difference;
    vec3_add(a, b, sum);
    vec3_subtract(a, b, difference);

    Vec3 in_place = a;
    vec3_add(in_place, b, in_place);
    expect_vec3(in_place, sum.x, sum.y, sum.z);
    in_place = b;
    vec3_add(a, in_place, in_place);
    expect_vec3(in_place, sum.x, sum.y, sum.z);
    in_place = a;
    vec3_subtract(in_place, b, in_place);
    expect_vec3(in_place, difference.x, difference.y, difference.z);
    in_place = b;
    vec3_subtract(a, in_place, in_place);
    expect_vec3(in_place, difference.x, difference.y, difference.z);
}

TEST(Vec3, CrossDotLengthScale) {
    Vec3 out;
    vec3_cross(Vec3{1, 0, 0}, Vec3{0, 1, 0}, out);
    expect_vec3(out, 0, 0, 1);
    vec3_cross(Vec3{0, 1, 0}, Vec3{1, 0, 0}, out);
    expect_vec3(out, 0, 0, -1);
    EXPECT_EQ(vec3_dot(Vec3{1, 2, 3}, Vec3{4, -5, 6}), 12.0f);
    EXPECT_EQ(vec3_length(Vec3{2, 3, 6}), 7.0f);
    Vec3 v{1, -2, 0.5f};
    vec3_scale(v, -2);
    expect_vec3(v, -2, 4, -1);
    Vec3 copy;
    vec3_copy(Vec3{-0.0f, 1e-30f, 7}, copy);
    EXPECT_TRUE(std::signbit(copy.x));
    EXPECT_EQ(copy.y, 1e-30f);
}

struct PlaneCase {
    Vec3 p1, p2, p3;
    float nx, ny, nz, d;
};

TEST(Plane, FromPointsFollowsTheRightHandRule) {
    const PlaneCase cases[] = {
        {{0, 0, 2}, {1, 0, 2}, {0, 1, 2}, 0, 0, 1, -2},
        {{0, 1, 2}, {1, 0, 2}, {0, 0, 2}, 0, 0, -1, 2},
        {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, 0, 0, 0, 0},
        // Twice the area: a 2 x 3 right triangle in the plane x = 1.
        {{1, 0, 0}, {1, 2, 0}, {1, 0, 3}, 6, 0, 0, -6},
    };
    for (const PlaneCase &c : cases) {
        Plane plane;
        plane_from_points(c.p1, c.p2, c.p3, plane);
        expect_vec3(plane.normal, c.nx, c.ny, c.nz);
        EXPECT_FLOAT_EQ(plane.d, c.d);
        // d = -n . p1 for every non-degenerate case.
        EXPECT_FLOAT_EQ(plane.d + vec3_dot(plane.normal, c.p1), 0.0f);
    }
}

TEST(Segment, ClosestPointClampsToTheEnds) {
    const Vec3 a{0, 0, 0}, b{2, 0, 0};
    Vec3 out;
    closest_point_on_segment(Vec3{1, 5, 0}, a, b, out);
    expect_vec3(out, 1, 0, 0);
    closest_point_on_segment(Vec3{-1, 1, 0}, a, b, out);
    expect_vec3(out, 0, 0, 0);
    closest_point_on_segment(Vec3{5, 1, 0}, a, b, out);
    EXPECT_EQ(out.x, 2.0f);  // b copied exactly
    const Vec3 point{3, -2, 7};
    closest_point_on_segment(Vec3{9, 9, 9}, point, point, out);
    expect_vec3(out, 3, -2, 7);
}

TEST(Segment, ProjectsOntoANormalLine) {
    // The tangent-frame use: a = n, b = -n with a unit n; the result is (p . n) n.
    Vec3 n{0, 0.6f, 0.8f};
    Vec3 minus_n{0, -0.6f, -0.8f};
    Vec3 p{1, 0, 0};
    Vec3 out;
    closest_point_on_segment(p, n, minus_n, out);
    EXPECT_NEAR(out.x, 0, 1e-6);
    EXPECT_NEAR(out.y, 0, 1e-6);
    EXPECT_NEAR(out.z, 0, 1e-6);
    Vec3 q{0, 1, 0};
    closest_point_on_segment(q, n, minus_n, out);
    EXPECT_NEAR(out.y, 0.36f, 1e-6);
    EXPECT_NEAR(out.z, 0.48f, 1e-6);
}

}  // namespace
