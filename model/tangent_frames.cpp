#include "model/tangent_frames.h"

#include "math/matrix34.h"

namespace {

// tangent loses its component along normal, then is made unit length again.
void remove_normal_component(Vec3 &v, const Vec3 &normal) {
    const Vec3 opposite{-normal.x, -normal.y, -normal.z};
    Vec3 along;
    closest_point_on_segment(v, normal, opposite, along);
    vec3_subtract(v, along, v);
    vec3_normalize(v);
}

}  // namespace

void compute_tangent_frames(int32_t vertex_count, const Vec3 *positions, int32_t triangle_count,
                            const FileTriangle *triangles, const PackedVec3 *normals, const TexCoordPair *pairs,
                            TangentFrame *frames) {
    if (!frames) return;
    if (vertex_count < 0) vertex_count = 0;
    for (int32_t i = 0; i < vertex_count; ++i) frames[i] = TangentFrame{};
    if (!positions || !triangles || !pairs) triangle_count = 0;

    for (int32_t t = 0; t < triangle_count; ++t) {
        const FileTriangle &tri = triangles[t];
        if (!triangle_in_range(tri, vertex_count)) continue;
        const Vec3 &p0 = positions[tri.i0], &p1 = positions[tri.i1], &p2 = positions[tri.i2];
        const TexCoordPair c0 = pairs[tri.i0], c1 = pairs[tri.i1], c2 = pairs[tri.i2];
        const float p0k[3] = {p0.x, p0.y, p0.z}, p1k[3] = {p1.x, p1.y, p1.z}, p2k[3] = {p2.x, p2.y, p2.z};
        Vec3 c[3];
        for (int k = 0; k < 3; ++k) {
            const Vec3 e1{p1k[k] - p0k[k], c1.s - c0.s, c1.t - c0.t};
            const Vec3 e2{p2k[k] - p0k[k], c2.s - c0.s, c2.t - c0.t};
            vec3_cross(e1, e2, c[k]);
        }
        // The three first components are the same texture-space determinant; zero means the
        // texture coordinates are collinear and give no direction.
        if (c[0].x != 0.0f && c[1].x != 0.0f && c[2].x != 0.0f) {
            Vec3 tangent, binormal;
            float *tk[3] = {&tangent.x, &tangent.y, &tangent.z};
            float *bk[3] = {&binormal.x, &binormal.y, &binormal.z};
            for (int k = 0; k < 3; ++k) {
                const float reciprocal = 1.0f / c[k].x;
                *tk[k] = -c[k].y * reciprocal;
                *bk[k] = -c[k].z * reciprocal;
            }
            const uint16_t corners[3] = {tri.i0, tri.i1, tri.i2};
            for (uint16_t corner : corners) {
                vec3_add(frames[corner].tangent, tangent, frames[corner].tangent);
                vec3_add(frames[corner].binormal, binormal, frames[corner].binormal);
            }
        }
        ++frames[tri.i0].count;
        ++frames[tri.i1].count;
        ++frames[tri.i2].count;
    }

    for (int32_t i = 0; i < vertex_count; ++i) {
        TangentFrame &frame = frames[i];
        // A vertex no triangle uses is never drawn; its sums stay zero rather than 0 * (1/0).
        if (frame.count != 0) {
            const float reciprocal = 1.0f / static_cast<float>(frame.count);
            vec3_scale(frame.tangent, reciprocal);
            vec3_scale(frame.binormal, reciprocal);
        }
        vec3_normalize(frame.tangent);
        vec3_normalize(frame.binormal);
        frame.normal = normals ? load_vec3(normals[i]) : Vec3{0, 0, 0};
        remove_normal_component(frame.tangent, frame.normal);
        remove_normal_component(frame.binormal, frame.normal);
    }
}

void compute_tangent_space_vectors(int32_t vertex_count, const Vec3 *positions, const TangentFrame *frames,
                                   const Vec3 &light_position, const Vec3 &eye_position, Vec3 *light_out,
                                   Vec3 *eye_out) {
    if (!frames || !positions || !light_out || !eye_out) return;
    // Copies of the inputs: the outputs may not alias them as far as the compiler knows, and
    // without the copies every store would force the frame to be read again.
    const Vec3 light = light_position, eye = eye_position;
    for (int32_t i = 0; i < vertex_count; ++i) {
        const TangentFrame frame = frames[i];
        const Vec3 position = positions[i];
        Vec3 to_light, to_eye;
        vec3_subtract(light, position, to_light);
        vec3_subtract(eye, position, to_eye);
        light_out[i] = Vec3{vec3_dot(to_light, frame.tangent), vec3_dot(to_light, frame.binormal),
                            vec3_dot(to_light, frame.normal)};
        eye_out[i] = Vec3{vec3_dot(to_eye, frame.tangent), vec3_dot(to_eye, frame.binormal),
                          vec3_dot(to_eye, frame.normal)};
    }
}
