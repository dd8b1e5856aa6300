// 3x4 affine transforms: m[0..8] the linear part in row order (m[3i + j] is row i, column j),
// m[9..11] the translation.
#pragma once

#include "math/vec3.h"

struct Matrix34 {
    float m[12];
};
static_assert(sizeof(Matrix34) == 48, "twelve packed floats");

void mat34_identity(Matrix34 &out);
// out applies a first, then b. out must not be a or b.
void mat34_compose(const Matrix34 &a, const Matrix34 &b, Matrix34 &out);
// Inverse of a rotation plus translation; no orthonormality check. dst must not be src.
void mat34_rigid_inverse(const Matrix34 &src, Matrix34 &dst);
// out must not be p. Inline: posing calls it for every vertex and weight.
inline void mat34_transform_point(const Matrix34 &m, const Vec3 &p, Vec3 &out) {
    const float *r = m.m;
    out.x = r[0] * p.x + r[1] * p.y + r[2] * p.z + r[9];
    out.y = r[3] * p.x + r[4] * p.y + r[5] * p.z + r[10];
    out.z = r[6] * p.x + r[7] * p.y + r[8] * p.z + r[11];
}
// From a GL column-major 4x4 matrix (as glGetFloatv returns it).
void mat34_from_gl(const float gl[16], Matrix34 &out);
