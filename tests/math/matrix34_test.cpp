#include "math/matrix34.h"

#include <gtest/gtest.h>

namespace {

Matrix34 identity() {
    Matrix34 m;
    mat34_identity(m);
    return m;
}

Matrix34 rotation_z90(float tx = 0, float ty = 0, float tz = 0) {
    Matrix34 m = {{0, -1, 0, 1, 0, 0, 0, 0, 1, tx, ty, tz}};
    return m;
}

Vec3 apply(const Matrix34 &m, Vec3 p) {
    Vec3 out;
    mat34_transform_point(m, p, out);
    return out;
}

void expect_matrix_eq(const Matrix34 &a, const Matrix34 &b) {
    for (int i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(a.m[i], b.m[i]) << "element " << i;
}

TEST(Matrix34, IdentityIsNeutralInComposition) {
    const Matrix34 a = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}};
    Matrix34 out;
    mat34_compose(identity(), a, out);
    expect_matrix_eq(out, a);
    mat34_compose(a, identity(), out);
    expect_matrix_eq(out, a);
}

TEST(Matrix34, ComposeAppliesTheFirstArgumentFirst) {
    Matrix34 translate = identity();
    translate.m[9] = 1;
    Matrix34 composed;
    mat34_compose(translate, rotation_z90(), composed);
    Vec3 origin = apply(composed, Vec3{0, 0, 0});
    EXPECT_FLOAT_EQ(origin.x, 0);
    EXPECT_FLOAT_EQ(origin.y, 1);
    EXPECT_FLOAT_EQ(origin.z, 0);

    mat34_compose(rotation_z90(), translate, composed);
    origin = apply(composed, Vec3{0, 0, 0});
    EXPECT_FLOAT_EQ(origin.x, 1);
    EXPECT_FLOAT_EQ(origin.y, 0);

    // Composition agrees with applying the two in turn for an arbitrary point.
    const Matrix34 a = {{0.5f, 0.1f, 0, -0.2f, 1, 0.3f, 0, 0, 2, 4, 5, 6}};
    const Matrix34 b = {{1, 0, 0.25f, 0, -1, 0, 0.5f, 0, 1, -3, 0, 1}};
    mat34_compose(a, b, composed);
    const Vec3 p{1.5f, -2, 3};
    const Vec3 step = apply(b, apply(a, p));
    const Vec3 once = apply(composed, p);
    EXPECT_NEAR(step.x, once.x, 1e-5);
    EXPECT_NEAR(step.y, once.y, 1e-5);
    EXPECT_NEAR(step.z, once.z, 1e-5);
}

TEST(Matrix34, RigidInverseUndoesRotationAndTranslation) {
    const Matrix34 m = rotation_z90(1, 2, 3);
    Matrix34 inverse;
    mat34_rigid_inverse(m, inverse);
    const Vec3 back = apply(inverse, Vec3{1, 2, 3});
    EXPECT_FLOAT_EQ(back.x, 0);
    EXPECT_FLOAT_EQ(back.y, 0);
    EXPECT_FLOAT_EQ(back.z, 0);
    Matrix34 product;
    mat34_compose(m, inverse, product);
    for (int i = 0; i < 12; ++i) EXPECT_NEAR(product.m[i], identity().m[i], 1e-6) << i;
}

TEST(Matrix34, TransformPointAndGlMapping) {
    const Matrix34 m = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 20, 30}};
    const Vec3 p = apply(m, Vec3{1, 1, 1});
    EXPECT_EQ(p.x, 16);
    EXPECT_EQ(p.y, 35);
    EXPECT_EQ(p.z, 54);

    // GL column-major: element (row i, column j) at gl[4j + i], translation at gl[12..14].
    float gl[16] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) gl[4 * j + i] = m.m[3 * i + j];
    gl[12] = 10, gl[13] = 20, gl[14] = 30, gl[15] = 1;
    Matrix34 from_gl;
    mat34_from_gl(gl, from_gl);
    expect_matrix_eq(from_gl, m);
}

}  // namespace
