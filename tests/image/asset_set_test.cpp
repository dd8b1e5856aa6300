// The generated asset set: the normal map's conventions against an independent derivation, the
// sphere models as the plug-in's parser and tangent frames see them, and the fingerprint hash.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "model/model_parse.h"
#include "model/model_table.h"
#include "model/skeletal_pose.h"
#include "model/tangent_frames.h"
#include "tools/asset_math.h"
#include "tools/asset_pictures.h"
#include "tools/sha256.h"
#include "tools/sphere_models.h"

namespace {

Point3 sub(const Point3 &a, const Point3 &b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double dot(const Point3 &a, const Point3 &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Point3 unit(const Point3 &a) {
    const double l = std::sqrt(dot(a, a));
    return {a.x / l, a.y / l, a.z / l};
}

TEST(AssetPictures, NormalMapFollowsTheSlopeOfTheHeightAlongTheTextureAxes) {
    // Height rising along object x. The expected normal comes from the map's own geometry: the
    // unit directions in which column (s) and row (t) grow, measured on the sphere.
    const int w = 129, h = 65;
    const double strength = 0.5;
    std::vector<float> field(size_t(w) * size_t(h));
    for (int row = 0; row < h; ++row)
        for (int column = 0; column < w; ++column)
            field[size_t(row) * size_t(w) + size_t(column)] = float(0.5 + 0.25 * map_point(column, row, w, h).x);
    const std::vector<uint8_t> rgb = normal_map_from_heights(field, w, h, strength);
    const Point3 rise{0.25, 0, 0};
    int checked = 0;
    for (int row = 2; row < h - 2; row += 3)
        for (int column = 1; column < w - 1; column += 5) {
            const Point3 p = map_point(column, row, w, h);
            const Point3 along_s = unit(sub(map_point(column + 1, row, w, h), map_point(column - 1, row, w, h)));
            const Point3 along_t = unit(sub(map_point(column, row + 1, w, h), map_point(column, row - 1, w, h)));
            const Point3 tangential = sub(rise, {p.x * dot(rise, p), p.y * dot(rise, p), p.z * dot(rise, p)});
            const Point3 n = unit({-strength * dot(tangential, along_s), -strength * dot(tangential, along_t), 1});
            const uint8_t *texel = &rgb[(size_t(row) * size_t(w) + size_t(column)) * 3];
            EXPECT_NEAR(texel[0], 128 + 127 * n.x, 2.0) << column << "," << row;
            EXPECT_NEAR(texel[1], 128 + 127 * n.y, 2.0) << column << "," << row;
            EXPECT_NEAR(texel[2], 128 + 127 * n.z, 2.0) << column << "," << row;
            ++checked;
        }
    EXPECT_GT(checked, 200);
    // The first and last columns are the same meridian, and each pole row is one point.
    for (int row = 0; row < h; ++row)
        EXPECT_EQ(0, std::memcmp(&rgb[size_t(row) * size_t(w) * 3], &rgb[(size_t(row) * size_t(w) + size_t(w - 1)) * 3], 3));
    const Point3 pole0 = map_point(0, 0, w, h), pole1 = map_point(w / 3, 0, w, h);
    EXPECT_TRUE(pole0.x == pole1.x && pole0.y == pole1.y && pole0.z == pole1.z);
}

struct Parsed {
    std::vector<uint8_t> bytes;
    ModelFile model{};
    explicit Parsed(std::vector<uint8_t> file) : bytes(std::move(file)) {
        model.data = bytes.data();
        model.size = int32_t(bytes.size());
        parse_model(model);
    }
    ~Parsed() { free_model_meshes(model); }
};

TEST(SphereModels, OneDrawableOutwardMeshWhosePictureIsUprightAndNotMirrored) {
    for (const bool lobed : {false, true}) {
        SCOPED_TRACE(lobed ? "sphere2" : "sphere");
        Parsed parsed(lobed ? make_lobed_sphere_model(kPictureWidth, kPictureHeight)
                            : make_sphere_model(kPictureWidth, kPictureHeight));
        Mesh *mesh = parsed.model.meshes;
        ASSERT_TRUE(mesh);
        EXPECT_FALSE(mesh->next);
        ASSERT_TRUE(mesh->positions && mesh->tex_coords && mesh->normals_from_file);
        ASSERT_GT(mesh->triangle_count, 1000);
        EXPECT_EQ(mesh->weight_ranges != nullptr, lobed);

        // Counter-clockwise from outside: the right-hand normal of every triangle points away from the centre.
        for (int32_t t = 0; t < mesh->triangle_count; ++t) {
            const FileTriangle &tri = mesh->triangles[t];
            const PackedVec3 &a = mesh->positions[tri.i0], &b = mesh->positions[tri.i1], &c = mesh->positions[tri.i2];
            const Point3 e1{b.x - a.x, b.y - a.y, b.z - a.z}, e2{c.x - a.x, c.y - a.y, c.z - a.z};
            const Point3 n{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
            ASSERT_GT(dot(n, {a.x + b.x + c.x, a.y + b.y + c.y, a.z + b.z + c.z}), 0) << "triangle " << t;
        }
        // Texture coordinates stay half a texel inside the picture, clear of the clamped border.
        const TexCoordPair *uv = mesh_tex_coord_pairs(*mesh);
        for (int32_t v = 0; v < mesh->vertex_count; ++v) {
            const float s = uv[v].s, t = uv[v].t;  // copies: the file's floats may sit unaligned
            EXPECT_GE(s, 0.5f / kPictureWidth - 1e-6f);
            EXPECT_LE(s, 1 - 0.5f / kPictureWidth + 1e-6f);
            EXPECT_GE(t, 0.5f / kPictureHeight - 1e-6f);
            EXPECT_LE(t, 1 - 0.5f / kPictureHeight + 1e-6f);
        }
        // The plug-in's tangent frames: s grows eastwards and t southwards (towards +z, which the
        // resting sphere turns downwards), so tangent × binormal points inwards, as for any
        // picture seen from the front with its rows going down.
        std::vector<TangentFrame> tangent_frames(size_t(mesh->vertex_count));
        compute_mesh_tangent_frames(*mesh, tangent_frames.data());
        int frames = 0;
        for (int32_t v = 0; v < mesh->vertex_count; ++v) {
            const TangentFrame &f = tangent_frames[size_t(v)];
            const Vec3 &p = mesh->posed_positions[v];
            if (std::fabs(p.z) > 0.95f * kSphereRadius) continue;  // near the poles the frame turns fast
            const Point3 t{f.tangent.x, f.tangent.y, f.tangent.z}, b{f.binormal.x, f.binormal.y, f.binormal.z};
            const Point3 n{f.normal.x, f.normal.y, f.normal.z};
            const Point3 txb{t.y * b.z - t.z * b.y, t.z * b.x - t.x * b.z, t.x * b.y - t.y * b.x};
            EXPECT_GT(dot(n, {p.x, p.y, p.z}), 0) << v;
            EXPECT_LT(dot(txb, n), 0) << v;
            EXPECT_GT(b.z, 0) << v;
            ++frames;
        }
        EXPECT_GT(frames, mesh->vertex_count / 2);
    }
}

TEST(SphereModels, LobedSphereSkinsToItsOwnShape) {
    Parsed parsed(make_lobed_sphere_model(kPictureWidth, kPictureHeight));
    Mesh *mesh = parsed.model.meshes;
    ASSERT_TRUE(mesh && mesh->weight_ranges && mesh->bones);
    EXPECT_EQ(mesh->bone_count, 13);
    EXPECT_FALSE(mesh->bones[0].parent);
    for (int b = 1; b < mesh->bone_count; ++b) EXPECT_EQ(mesh->bones[b].parent, &mesh->bones[0]) << b;
    for (int32_t v = 0; v < mesh->vertex_count; ++v) {
        const WeightRange &range = mesh->weight_ranges[v];
        double sum = 0;
        for (int32_t w = range.first; w < range.first + range.count; ++w) {
            const float weight = mesh->weights[w].weight;
            EXPECT_GE(weight, 0.0f);
            sum += weight;
        }
        ASSERT_NEAR(sum, 1.0, 1e-6) << v;
        // Every bone at rest: the pose is the file's shape.
        const Vec3 p = load_vec3(mesh->positions[v]), q = mesh->posed_positions[v];
        ASSERT_NEAR(q.x, p.x, 1e-4) << v;
        ASSERT_NEAR(q.y, p.y, 1e-4) << v;
        ASSERT_NEAR(q.z, p.z, 1e-4) << v;
    }
}

TEST(Sha256, KnownDigests) {
    const char *abc = "abc";
    const char *two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(sha256_hex(nullptr, 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_hex(reinterpret_cast<const uint8_t *>(abc), 3),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256_hex(reinterpret_cast<const uint8_t *>(two_blocks), std::strlen(two_blocks)),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

}  // namespace
