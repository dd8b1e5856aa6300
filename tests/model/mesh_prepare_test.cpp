// Vertex normals, index arrays and tangent frames.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "model/mesh_prepare.h"
#include "model/skeletal_pose.h"
#include "model/tangent_frames.h"
#include "tests/model/model_image.h"

namespace {

std::vector<PackedVec3> packed(const std::vector<Vec3> &v) {
    std::vector<PackedVec3> out;
    for (const Vec3 &p : v) out.push_back({p.x, p.y, p.z});
    return out;
}

std::vector<PackedVec3> normals_of(const std::vector<Vec3> &positions, const std::vector<FileTriangle> &triangles) {
    const std::vector<PackedVec3> p = packed(positions);
    std::vector<PackedVec3> out(positions.size());
    compute_vertex_normals(out.data(), static_cast<int32_t>(out.size()), p.data(),
                           static_cast<int32_t>(triangles.size()), triangles.data());
    return out;
}

// The per-vertex scan over all triangles, written out as the reference for the fast version.
std::vector<PackedVec3> normals_by_vertex_scan(const std::vector<PackedVec3> &p, const std::vector<FileTriangle> &tris) {
    std::vector<PackedVec3> out(p.size());
    for (size_t v = 0; v < p.size(); ++v) {
        Vec3 sum{0, 0, 0};
        for (const FileTriangle &t : tris) {
            if (t.i0 != v && t.i1 != v && t.i2 != v) continue;
            Plane plane;
            plane_from_points(load_vec3(p[t.i0]), load_vec3(p[t.i1]), load_vec3(p[t.i2]), plane);
            vec3_normalize(plane.normal);
            vec3_add(sum, plane.normal, sum);
        }
        vec3_normalize(sum);
        store_vec3(sum, out[v]);
    }
    return out;
}

TEST(VertexNormals, EveryAdjacentTriangleWeighsTheSame) {
    // One triangle: its normal at every corner.
    auto one = normals_of({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2, 0}});
    for (const PackedVec3 &n : one) {
        EXPECT_EQ(n.x, 0.0f);
        EXPECT_EQ(n.z, 1.0f);
    }
    // Vertex 0 shared by a large triangle facing +z and a tiny one facing +x; vertex 5 unused;
    // triangle 3 is degenerate and triangle 4 names vertex 0 twice.
    const std::vector<Vec3> p = {{0, 0, 0}, {100, 0, 0}, {0, 100, 0}, {0, 0.01f, 0}, {0, 0, 0.01f}, {7, 7, 7}, {1, 1, 1}};
    auto n = normals_of(p, {{0, 1, 2, 0}, {0, 3, 4, 0}, {6, 6, 6, 0}});
    const float half_root = 1.0f / std::sqrt(2.0f);
    EXPECT_NEAR(n[0].x, half_root, 1e-6);
    EXPECT_EQ(n[0].y, 0.0f);
    EXPECT_NEAR(n[0].z, half_root, 1e-6);
    EXPECT_EQ(n[5].x, 0.0f);
    EXPECT_EQ(n[5].z, 0.0f);
    EXPECT_EQ(n[6].x, 0.0f) << "only degenerate triangles: zero";
}

// The O(V+T) scatter must give the scan's sums bit for bit, including shared, repeated and
// degenerate corners.
TEST(VertexNormals, MatchTheVertexScanBitForBit) {
    std::mt19937 random(1234);
    std::uniform_real_distribution<float> coordinate(-10.0f, 10.0f);
    const int vertices = 300;
    std::vector<PackedVec3> p(vertices);
    for (PackedVec3 &v : p) v = {coordinate(random), coordinate(random), coordinate(random)};
    p[7] = p[8];  // coincident points give degenerate triangles
    std::uniform_int_distribution<int> index(0, vertices - 1);
    std::vector<FileTriangle> tris(2000);
    for (FileTriangle &t : tris)
        t = {static_cast<uint16_t>(index(random)), static_cast<uint16_t>(index(random)), static_cast<uint16_t>(index(random)), 0};
    tris[0] = {3, 3, 9, 0};
    tris[1] = {4, 4, 4, 0};
    tris[2] = {7, 8, 9, 0};
    std::vector<PackedVec3> fast(vertices);
    compute_vertex_normals(fast.data(), vertices, p.data(), static_cast<int32_t>(tris.size()), tris.data());
    const std::vector<PackedVec3> slow = normals_by_vertex_scan(p, tris);
    EXPECT_EQ(std::memcmp(fast.data(), slow.data(), sizeof(PackedVec3) * vertices), 0);
}

// A 65,535-vertex grid with 65,535 triangles goes through the whole parse; a per-vertex scan
// of all triangles would take billions of steps here (speed itself is measured in the bench).
TEST(VertexNormals, LargestMeshParses) {
    const int columns = 255, rows = 257;  // 65,535 vertices
    ModelImage image;
    image.magic().mesh_start("grid");
    const size_t at = image.begin(model_ids::Vertices);
    image.u16(columns * rows);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) image.vec(float(c), float(r), float((c * r) % 7));
    image.end(at);
    const size_t tri_at = image.begin(model_ids::Triangles);
    image.u16(65535);
    int written = 0;
    for (int r = 0; r + 1 < rows && written < 65535; ++r)
        for (int c = 0; c + 1 < columns && written < 65535; ++c) {
            const uint16_t a = uint16_t(r * columns + c), b = uint16_t(a + 1), d = uint16_t(a + columns);
            image.u16(a).u16(b).u16(d).u16(0);
            ++written;
            if (written < 65535) {
                image.u16(b).u16(uint16_t(d + 1)).u16(d).u16(0);
                ++written;
            }
        }
    image.end(tri_at);
    ParsedModel parsed(image);
    const Mesh &m = *parsed.meshes().at(0);
    EXPECT_EQ(m.vertex_count, 65535);
    EXPECT_EQ(m.triangle_count, 65535);
    EXPECT_EQ(m.indices[3 * 65534 + 2], +m.triangles[65534].i2);
    EXPECT_GT(m.normals[columns + 1].z, 0.0f);
}

TEST(IndexArray, WidensOnceAndKeepsItsArray) {
    ModelImage image;
    image.magic().mesh_start("m").vertices({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}).triangles({{2, 1, 0}, {0, 2, 1}});
    ParsedModel parsed(image);
    Mesh &m = *parsed.meshes().at(0);
    uint32_t *first = m.indices;
    ensure_index_array(m);
    EXPECT_EQ(m.indices, first);
    const uint32_t expected[6] = {2, 1, 0, 0, 2, 1};
    EXPECT_EQ(std::memcmp(m.indices, expected, sizeof expected), 0);
}

struct FrameSetup {
    std::vector<Vec3> positions;
    std::vector<FileTriangle> triangles;
    std::vector<PackedVec3> normals;
    std::vector<TexCoordPair> pairs;
    std::vector<TangentFrame> frames;

    void compute() {
        frames.resize(positions.size());
        compute_tangent_frames(static_cast<int32_t>(positions.size()), positions.data(),
                               static_cast<int32_t>(triangles.size()), triangles.data(), normals.data(), pairs.data(),
                               frames.data());
    }
};

FrameSetup unit_square() {
    FrameSetup s;
    s.positions = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    s.triangles = {{0, 1, 2, 0}, {0, 2, 3, 0}};
    s.normals = std::vector<PackedVec3>(4, PackedVec3{0, 0, 1});
    s.pairs = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};  // (s, t) = (x, y)
    return s;
}

TEST(TangentFrames, SquareWithTextureAlongItsAxes) {
    FrameSetup s = unit_square();
    s.compute();
    const int counts[4] = {2, 1, 2, 1};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(s.frames[i].count, counts[i]);
        EXPECT_FLOAT_EQ(s.frames[i].tangent.x, 1.0f);
        EXPECT_FLOAT_EQ(s.frames[i].tangent.y, 0.0f);
        EXPECT_FLOAT_EQ(s.frames[i].binormal.y, 1.0f);
        EXPECT_FLOAT_EQ(s.frames[i].binormal.x, 0.0f);
        EXPECT_EQ(s.frames[i].normal.z, 1.0f);
    }
}

TEST(TangentFrames, CollinearTextureCoordinatesOnlyCount) {
    FrameSetup s = unit_square();
    s.pairs = {{0, 0}, {1, 1}, {2, 2}, {0, 1}};  // triangle 0 has D = 0
    s.compute();
    EXPECT_EQ(s.frames[1].count, 1);
    EXPECT_EQ(s.frames[1].tangent.x, 0.0f) << "no direction from a triangle with D = 0";
    EXPECT_EQ(s.frames[1].tangent.y, 0.0f);
    EXPECT_EQ(s.frames[0].count, 2);
    EXPECT_NE(s.frames[0].tangent.x, 0.0f) << "the other triangle still contributes";
}

// Vertex 0 is shared by a triangle with texture determinant D = 1 and a mirrored one with
// D = -1/8, whose own tangent is (0, 3, 0) and binormal (1, 0, 0) once divided by D. A missing
// division or a lost sign turns the averaged directions elsewhere.
TEST(TangentFrames, OppositeDeterminantsMeetAtASharedVertex) {
    FrameSetup s;
    s.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, -1.5f, 0}, {0.25f, 0, 0}};
    s.pairs = {{0, 0}, {1, 0}, {0, 1}, {-0.5f, 0}, {0, 0.25f}};
    s.triangles = {{0, 1, 2, 0}, {0, 3, 4, 0}};
    s.normals = std::vector<PackedVec3>(5, PackedVec3{0, 0, 1});
    s.compute();
    const float r10 = 1.0f / std::sqrt(10.0f), r2 = 1.0f / std::sqrt(2.0f);
    const struct {
        int vertex;
        Vec3 tangent, binormal;
    } expected[] = {{0, {r10, 3 * r10, 0}, {r2, r2, 0}}, {1, {1, 0, 0}, {0, 1, 0}}, {3, {0, 1, 0}, {1, 0, 0}}};
    for (const auto &e : expected) {
        SCOPED_TRACE(e.vertex);
        const TangentFrame &f = s.frames[e.vertex];
        EXPECT_NEAR(f.tangent.x, e.tangent.x, 1e-6);
        EXPECT_NEAR(f.tangent.y, e.tangent.y, 1e-6);
        EXPECT_NEAR(f.binormal.x, e.binormal.x, 1e-6);
        EXPECT_NEAR(f.binormal.y, e.binormal.y, 1e-6);
    }
}

TEST(TangentFrames, FileNormalsArriveAsStored) {
    ModelImage image;
    image.magic().mesh_start("m").vertices({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    image.triangles({{0, 1, 2}, {0, 2, 3}}).tex_coords({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    image.normals({{0, 0, 3}, {0, 0, 3}, {0, 0, 3}, {0, 0, 3}});
    ParsedModel parsed(image);
    const Mesh &m = *parsed.meshes().at(0);
    ASSERT_TRUE(mesh_can_have_frames(m));
    std::vector<TangentFrame> frames(4);
    std::vector<Vec3> light_vectors(4), eye_vectors(4);
    compute_mesh_tangent_frames(m, frames.data());
    compute_mesh_tangent_space_vectors(m, frames.data(), Vec3{3, 4, 5}, Vec3{0, 0, 10}, light_vectors.data(),
                                       eye_vectors.data());
    EXPECT_EQ(frames[0].normal.z, 3.0f) << "not normalised";
    EXPECT_EQ(light_vectors[0].z, 15.0f) << "(3, 4, 5) against a normal of length 3";
    EXPECT_EQ(eye_vectors[0].z, 30.0f) << "the eye's own point, not the light's";
}

// The loops over triangles ask this before indexing: every index, the last one too, lies below the count.
TEST(TriangleRange, EveryIndexStaysBelowTheVertexCount) {
    const struct {
        FileTriangle triangle;
        int32_t vertex_count;
        bool in_range;
    } cases[] = {
        // Each index in turn at the last vertex, then one past it.
        {{2, 0, 1, 0}, 3, true},   {{0, 2, 1, 0}, 3, true},   {{0, 1, 2, 0}, 3, true},
        {{3, 0, 1, 0}, 3, false},  {{0, 3, 1, 0}, 3, false},  {{0, 1, 3, 0}, 3, false},
        {{0, 0, 0, 0}, 0, false},  {{0, 0, 65534, 0}, 65535, true},  {{0, 0, 65535, 0}, 65535, false},
        {{65535, 65535, 65535, 0}, 65536, true},
    };
    for (const auto &c : cases) {
        const FileTriangle &t = c.triangle;
        EXPECT_EQ(triangle_in_range(t, c.vertex_count), c.in_range)
            << +t.i0 << ", " << +t.i1 << ", " << +t.i2 << " of " << c.vertex_count;
    }
}

}  // namespace
