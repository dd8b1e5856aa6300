#include "math/matrix34.h"

void mat34_identity(Matrix34 &out) {
    for (float &value : out.m) value = 0.0f;
    out.m[0] = out.m[4] = out.m[8] = 1.0f;
}

void mat34_compose(const Matrix34 &a, const Matrix34 &b, Matrix34 &out) {
    const float *x = a.m;
    const float *y = b.m;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            out.m[3 * i + j] = y[3 * i] * x[j] + y[3 * i + 1] * x[3 + j] + y[3 * i + 2] * x[6 + j];
        out.m[9 + i] = y[3 * i] * x[9] + y[3 * i + 1] * x[10] + y[3 * i + 2] * x[11] + y[9 + i];
    }
}

void mat34_rigid_inverse(const Matrix34 &src, Matrix34 &dst) {
    const float *s = src.m;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) dst.m[3 * i + j] = s[3 * j + i];
    for (int i = 0; i < 3; ++i)
        dst.m[9 + i] = -(dst.m[3 * i] * s[9] + dst.m[3 * i + 1] * s[10] + dst.m[3 * i + 2] * s[11]);
}

void mat34_from_gl(const float gl[16], Matrix34 &out) {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) out.m[3 * i + j] = gl[4 * j + i];
        out.m[9 + i] = gl[12 + i];
    }
}
