// Mesh transforms, bones and posing with its reuse rules.
#include <gtest/gtest.h>

#include "model/frame_number.h"
#include "model/skeletal_pose.h"
#include "tests/model/model_image.h"

namespace {

const std::vector<Vec3> kTriangle = {{0, 0, 0}, {2, 0, 0}, {0, 4, 0}};

// Sets the frame number for a test and puts the previous one back.
struct FrameAt {
    explicit FrameAt(uint32_t number) : previous(FrameNumber) { FrameNumber = number; }
    ~FrameAt() { FrameNumber = previous; }
    uint32_t previous;
};

bool is_scaled_identity(const Matrix34 &m, float s) {
    for (int i = 0; i < 12; ++i) {
        const float expected = (i == 0 || i == 4 || i == 8) ? s : 0.0f;
        if (m.m[i] != expected) return false;
    }
    return true;
}

// root (positions) <- child (positions); root <- empty (no positions) <- grandchild (positions)
ModelImage hierarchy() {
    ModelImage image;
    image.magic().mesh_start("root").vertices(kTriangle).mesh_start("child").vertices(kTriangle);
    image.mesh_start("empty").mesh_start("grandchild").vertices(kTriangle);
    image.node_id(1).node_header("root", 0xFFFF).node_id(2).node_header("child", 1);
    image.node_id(3).node_header("empty", 1).node_id(4).node_header("grandchild", 3);
    return image;
}

// A fresh mesh's stamp of 0 is no frame's number: even frame 1, before any drawing, computes the world.
TEST(MeshTransform, RootsScaleChildrenCopyAndEmptyMeshesHoldIdentity) {
    ParsedModel parsed(hierarchy());
    const auto m = parsed.meshes();
    FrameAt frame(1);
    update_mesh_transform(*m[1], 2.0f);
    EXPECT_TRUE(is_scaled_identity(m[0]->world, 2.0f));
    EXPECT_TRUE(is_scaled_identity(m[1]->world, 2.0f)) << "a child copies its parent";
    update_mesh_transform(*m[3], 2.0f);
    EXPECT_TRUE(is_scaled_identity(m[2]->world, 1.0f)) << "no positions: identity, even under a scaled root";
    EXPECT_TRUE(is_scaled_identity(m[3]->world, 1.0f));

    update_mesh_transform(*m[0], 5.0f);
    EXPECT_TRUE(is_scaled_identity(m[0]->world, 2.0f)) << "the first scale of a frame stays";
    update_mesh_transform(*m[2], 5.0f);
    EXPECT_TRUE(is_scaled_identity(m[2]->world, 1.0f)) << "recomputed at every call, still identity";

    FrameNumber = 2;
    update_mesh_transform(*m[0], 0.001f);
    EXPECT_TRUE(is_scaled_identity(m[0]->world, 1.0f)) << "0.001 is not above the threshold";
    FrameNumber = 3;
    update_mesh_transform(*m[0], 0.0f);
    EXPECT_TRUE(is_scaled_identity(m[0]->world, 1.0f));

    Mesh lone{};  // a root without positions is scaled, and no stamp is kept
    update_mesh_transform(lone, 3.0f);
    EXPECT_TRUE(is_scaled_identity(lone.world, 3.0f));
    EXPECT_EQ(lone.transform_stamp, 0u);
}

TEST(Bones, ComposeWithParentOncePerFrame) {
    Bone bones[2] = {};
    mat34_identity(bones[0].local);
    mat34_identity(bones[1].local);
    bones[0].local.m[9] = 1.0f;
    bones[1].local.m[10] = 2.0f;
    bones[1].parent = &bones[0];
    FrameAt frame(7);
    update_bone(bones[1]);
    EXPECT_EQ(bones[1].world.m[9], 1.0f);
    EXPECT_EQ(bones[1].world.m[10], 2.0f);
    EXPECT_EQ(std::memcmp(&bones[1].skin, &bones[1].world, sizeof(Matrix34)), 0);

    bones[0].local.m[9] = 9.0f;  // same frame: kept
    update_bone(bones[1]);
    EXPECT_EQ(bones[1].world.m[9], 1.0f);
    FrameNumber = 8;
    update_bone(bones[1]);
    EXPECT_EQ(bones[1].world.m[9], 9.0f);
}

// The parent's world applies first, then the bone's local transform; a parent stored after its
// child is brought up to date first. Rotation and translation do not commute, so a swapped
// composition lands elsewhere.
TEST(Bones, ChildComposesAfterItsParentWhateverTheirOrder) {
    FrameAt frame(7);
    Bone bones[2] = {};
    mat34_identity(bones[0].local);  // the child: five units along x
    bones[0].local.m[9] = 5.0f;
    bones[0].parent = &bones[1];
    mat34_identity(bones[1].local);  // the parent: a quarter turn about z, x to y
    bones[1].local.m[0] = 0.0f;
    bones[1].local.m[1] = -1.0f;
    bones[1].local.m[3] = 1.0f;
    bones[1].local.m[4] = 0.0f;
    const PackedVec3 position{1, 0, 0};
    VertexWeight weight{};
    weight.bone = 0;
    weight.weight = 1.0f;
    const WeightRange range{0, 1};
    Mesh mesh{};
    mesh.vertex_count = 1;
    mesh.positions = &position;
    mesh.weights = &weight;
    mesh.weight_count = 1;
    mesh.weight_ranges = &range;
    mesh.bones = bones;
    mesh.bone_count = 2;
    mat34_identity(mesh.world);
    update_mesh_vertices(mesh, 0.0f, true);
    ASSERT_NE(mesh.posed_positions, nullptr);
    EXPECT_EQ(mesh.posed_positions[0].x, 5.0f);
    EXPECT_EQ(mesh.posed_positions[0].y, 1.0f);
    EXPECT_EQ(bones[0].stamp, 7u);
    std::free(mesh.posed_positions);
}

// Vertex 0: one weight 1.0; vertex 1: two weights 0.5; vertex 2: one weight 0.5.
ModelImage skinned(bool with_normals) {
    ModelImage image;
    image.magic().mesh_start("skin").vertices(kTriangle).triangles({{0, 1, 2}});
    image.tex_coords({{0, 0}, {1, 0}, {0, 1}});
    if (with_normals) image.normals({{0, 0, 1}, {0, 0, 1}, {0, 0, 1}});
    image.bone_count(2).bone(0, "a", "").bone(1, "b", "");
    image.weights({{0, 1.0f}, {0, 0.5f}, {1, 0.5f}, {1, 0.5f}});
    image.ranges({{0, 1}, {1, 2}, {3, 1}});
    return image;
}

TEST(Pose, WeightsAreUsedAsStored) {
    ParsedModel parsed(skinned(false));
    const Mesh &m = *parsed.meshes().at(0);
    EXPECT_EQ(m.posed_positions[0].x, 0.0f);
    EXPECT_EQ(m.posed_positions[1].x, 2.0f) << "two halves on identity bones";
    EXPECT_EQ(m.posed_positions[2].y, 2.0f) << "a single half lands at half its position";
    EXPECT_EQ(m.posed_normals, nullptr) << "normals computed after the first pose";
    EXPECT_EQ(m.last_scale, 0.0f);
}

TEST(Pose, ReusedWhileTheScaleStaysAndRedoneWhenForced) {
    ParsedModel parsed(skinned(true));
    Mesh &m = *parsed.meshes().at(0);
    ASSERT_NE(m.posed_normals, nullptr) << "file normals on a skinned mesh are posed at parse time";
    FrameAt frame(10);
    update_mesh_transform(m, 1.0f);
    m.bones[0].local.m[9] = 1.0f;  // move bone a one unit along x
    update_mesh_vertices(m, 1.0f, false);
    EXPECT_EQ(m.posed_positions[0].x, 1.0f) << "scale 1.0 differs from the parse's 0: posed";
    EXPECT_EQ(m.last_scale, 1.0f);
    EXPECT_EQ(m.pose_stamp, 10u);

    FrameNumber = 11;
    m.bones[0].local.m[9] = 3.0f;
    update_mesh_vertices(m, 1.0f, false);
    EXPECT_EQ(m.posed_positions[0].x, 1.0f) << "same scale next frame: reused";
    EXPECT_EQ(m.pose_stamp, 10u) << "what was derived from the pose stays current";

    update_mesh_vertices(m, 1.0f, true);
    EXPECT_EQ(m.posed_positions[0].x, 3.0f) << "forced: posed again";
    EXPECT_EQ(m.pose_stamp, 11u);
    m.bones[0].local.m[9] = 4.0f;
    update_mesh_vertices(m, 1.0f, true);
    EXPECT_EQ(m.posed_positions[0].x, 3.0f) << "forced, but already posed this frame";
    FrameNumber = 12;
    update_mesh_vertices(m, 1.0f, true);
    EXPECT_EQ(m.posed_positions[0].x, 4.0f) << "forced in a new frame";
    EXPECT_FLOAT_EQ(m.posed_normals[0].z, 1.0f) << "a translated bone leaves the normal alone";
}

// Meshes sharing a bone array pose it once per frame between them, whichever comes first, and
// each sees the bones of the current frame.
TEST(Pose, SharedBonesFollowTheFrameWhicheverMeshPosesFirst) {
    ModelImage image;
    image.magic().mesh_start("a").vertices(kTriangle).bone_count(1).bone(0, "r", "");
    image.weights({{0, 1.0f}}).ranges({{0, 1}, {0, 1}, {0, 1}});
    image.mesh_start("b").vertices(kTriangle).weights({{0, 1.0f}}).ranges({{0, 1}, {0, 1}, {0, 1}});
    ParsedModel parsed(image);
    Mesh &a = *parsed.meshes().at(0), &b = *parsed.meshes().at(1);
    ASSERT_TRUE(b.bones_shared);
    FrameAt frame(30);
    for (Mesh *first : {&b, &a}) {
        Mesh *second = first == &b ? &a : &b;
        FrameNumber += 1;
        a.bones[0].local.m[9] = static_cast<float>(FrameNumber);
        update_mesh_vertices(*first, 1.0f, true);
        update_mesh_vertices(*second, 1.0f, true);
        EXPECT_EQ(a.posed_positions[1].x, 2.0f + FrameNumber);
        EXPECT_EQ(b.posed_positions[1].x, 2.0f + FrameNumber);
    }
}

}  // namespace
