// The chunk walk on well-formed files: kinds, cursor moves, meshes, nodes and bones.
#include <gtest/gtest.h>

#include "model/model_parse.h"
#include "tests/model/model_image.h"

namespace {

namespace ids = model_ids;
using ids::MeshStart;
using ids::NodeHeader;
using ids::Keyframer;

const std::vector<Vec3> kTriangle = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};

void expect_vec3(const PackedVec3 &v, float x, float y, float z) {
    EXPECT_FLOAT_EQ(v.x, x);
    EXPECT_FLOAT_EQ(v.y, y);
    EXPECT_FLOAT_EQ(v.z, z);
}

TEST(ModelParse, TinyFilesGiveNoMeshes) {
    for (const std::vector<uint8_t> &bytes :
         {std::vector<uint8_t>{}, std::vector<uint8_t>{0x37}, std::vector<uint8_t>{0x37, 0x13},
          std::vector<uint8_t>{0x4D, 0x4D, 0x06, 0x00}}) {
        ParsedModel parsed(bytes);
        EXPECT_EQ(parsed.model.meshes, nullptr) << bytes.size() << " bytes";
    }
}

// The 102-byte file: mesh start with a size that does not match its content, then a vertex
// list, a triangle list and texture coordinates that end the file.
TEST(ModelParse, HundredAndTwoByteFileGivesOneTriangleMesh) {
    ModelImage image;
    image.magic().header(MeshStart, 100).text("m");
    ASSERT_EQ(image.bytes.size(), 10u);
    image.vertices(kTriangle);
    ASSERT_EQ(image.bytes.size(), 54u);
    image.triangles({{0, 1, 2}});
    ASSERT_EQ(image.bytes.size(), 70u);
    image.tex_coords({{0, 0}, {1, 0}, {0, 1}});
    ASSERT_EQ(image.bytes.size(), 102u);

    ParsedModel parsed(image);
    const auto meshes = parsed.meshes();
    ASSERT_EQ(meshes.size(), 1u);
    const Mesh &m = *meshes[0];
    EXPECT_STREQ(m.name, "m");
    EXPECT_EQ(m.vertex_count, 3);
    EXPECT_EQ(m.triangle_count, 1);
    EXPECT_EQ(m.tex_coords, parsed.data + 76);
    EXPECT_EQ(reinterpret_cast<const uint8_t *>(m.positions), parsed.data + 18);
    EXPECT_FALSE(m.normals_from_file);
    ASSERT_NE(m.normals, nullptr);
    for (int v = 0; v < 3; ++v) expect_vec3(m.normals[v], 0, 0, 1);
    EXPECT_EQ(m.parent, nullptr);
    ASSERT_NE(m.indices, nullptr);
    EXPECT_EQ(m.indices[0], 0u);
    EXPECT_EQ(m.indices[2], 2u);
    EXPECT_NE(m.posed_positions, nullptr);
}

TEST(ModelParse, IdsOutsideTheActiveColumnAreSkippedBySize) {
    // Own ids: an unlisted id (a 3D Studio vertex list id) between the vertex and triangle lists.
    ModelImage own;
    own.magic().mesh_start("a").vertices(kTriangle);
    own.header(0x4110, 20).u16(50).vec(9, 9, 9);  // would be a 50-vertex list in a .3DS file
    own.triangles({{0, 1, 2}});
    ParsedModel parsed_own(own);
    ASSERT_EQ(parsed_own.meshes().size(), 1u);
    EXPECT_EQ(parsed_own.meshes()[0]->vertex_count, 3);
    EXPECT_EQ(parsed_own.meshes()[0]->triangle_count, 1);

    // Own format: a 3D Studio main chunk is skipped whole, so the mesh inside it is not read.
    ModelImage hidden;
    hidden.magic();
    const size_t main = hidden.begin(0x4D4D);
    hidden.mesh_start("inside").vertices(kTriangle).end(main);
    hidden.mesh_start("after");
    ParsedModel parsed_hidden(hidden);
    ASSERT_EQ(parsed_hidden.meshes().size(), 1u);
    EXPECT_STREQ(parsed_hidden.meshes()[0]->name, "after");

    // 3D Studio ids: own ids are unlisted there.
    ModelImage studio;
    studio.header(0x4D4D, 6).header(0x3D3D, 1).end(studio.begin_text(0x4000, "s"));
    studio.header(0x2110, 8).u16(0);  // skipped by its size of 8
    studio.header(0x4100, 9).u16(0x4110).u32(8 + 36).u16(3);
    for (const Vec3 &p : kTriangle) studio.vec(p.x, p.y, p.z);
    ParsedModel parsed_studio(studio);
    ASSERT_EQ(parsed_studio.meshes().size(), 1u);
    EXPECT_STREQ(parsed_studio.meshes()[0]->name, "s");
    EXPECT_EQ(parsed_studio.meshes()[0]->vertex_count, 3);
}

TEST(ModelParse, Chunk9999InStudioFileIsVertexNormals) {
    ModelImage image;
    image.end(image.begin_text(0x4000, "n"));
    image.header(0x4110, 8 + 36).u16(3);
    for (const Vec3 &p : kTriangle) image.vec(p.x, p.y, p.z);
    image.header(0x9999, 6 + 36).vec(0, 0, 2).vec(0, 2, 0).vec(2, 0, 0);
    ParsedModel parsed(image);
    const Mesh &m = *parsed.meshes().at(0);
    EXPECT_TRUE(m.normals_from_file);
    EXPECT_EQ(reinterpret_cast<const uint8_t *>(m.normals), parsed.data + image.bytes.size() - 36);
    expect_vec3(m.normals[0], 0, 0, 2);  // as stored, not normalised
    EXPECT_EQ(m.weight_ranges, nullptr);
    EXPECT_EQ(m.bones, nullptr);
}

TEST(ModelParse, WalkEndsAtSizeZeroOrBeyondTheFileKeepingEarlierMeshes) {
    for (uint32_t bad_size : {0u, 100000u}) {
        ModelImage image;
        image.magic().mesh_start("kept").vertices(kTriangle).triangles({{0, 1, 2}});
        image.header(0x7777, bad_size);
        image.mesh_start("lost");
        ParsedModel parsed(image);
        const auto meshes = parsed.meshes();
        ASSERT_EQ(meshes.size(), 1u) << bad_size;
        EXPECT_STREQ(meshes[0]->name, "kept");
        EXPECT_NE(meshes[0]->indices, nullptr) << "meshes read before the end are still prepared";
    }
}

TEST(ModelParse, NodeHeadersFindOrAppendMeshesAndLinkParents) {
    ModelImage image;
    image.magic().mesh_start("body").vertices(kTriangle).triangles({{0, 1, 2}});
    image.mesh_start("twin").vertices(kTriangle);
    image.mesh_start("twin");  // same name: node headers attach to the first
    image.mesh_start("camera");  // no vertex list: a mesh without positions
    const size_t kf = image.begin(Keyframer);
    image.node_id(7).node_header("body", 0xFFFF);  // parent id no mesh carries: a root
    image.node_id(8).node_header("twin", 9);       // parent is the appended dummy below
    image.node_id(9).node_header("dummy", 7);      // names no mesh: appended, child of body
    image.end(kf);
    ParsedModel parsed(image);
    const auto m = parsed.meshes();
    ASSERT_EQ(m.size(), 5u);
    EXPECT_STREQ(m[4]->name, "dummy");
    EXPECT_EQ(m[4]->positions, nullptr);
    EXPECT_EQ(m[4]->vertex_count, 0);
    EXPECT_EQ(m[4]->posed_positions, nullptr) << "no derived arrays without positions";
    EXPECT_EQ(m[4]->bones, nullptr);
    EXPECT_EQ(m[3]->positions, nullptr);
    EXPECT_EQ(m[3]->node_header, nullptr);

    EXPECT_EQ(m[0]->node_id, 7);
    EXPECT_EQ(m[0]->parent, nullptr);
    EXPECT_EQ(m[1]->node_id, 8);
    EXPECT_EQ(m[1]->parent, m[4]);
    EXPECT_EQ(m[2]->node_header, nullptr);
    EXPECT_EQ(m[4]->node_id, 9);
    EXPECT_EQ(m[4]->parent, m[0]);
    EXPECT_EQ(node_header_parent_id(m[4]->node_header), 7);

    EXPECT_EQ(find_mesh_by_name("twin", parsed.model), m[1]);
    EXPECT_EQ(find_mesh_by_name("TWIN", parsed.model), nullptr) << "mesh names match case";
}

TEST(ModelParse, BonesAreSharedByTheNextMeshAndParentsMatchIgnoringCase) {
    ModelImage image;
    image.magic();
    image.bone_count(4).bone(0, "ignored", "");  // no current mesh yet
    image.mesh_start("first").bone_count(0).bone(0, "ignored", "");  // bone_count 0: ignored
    image.bone_count(4);
    image.mesh_start("second");
    image.bone(1, "Arm", "ROOT").bone(0, "root", "").bone(2, "hand", "arm").bone(3, "lost", "nobody");
    image.mesh_start("third");

    ParsedModel parsed(image);
    const auto m = parsed.meshes();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_FALSE(m[0]->bones_shared);
    EXPECT_TRUE(m[1]->bones_shared);
    EXPECT_TRUE(m[2]->bones_shared);
    EXPECT_EQ(m[1]->bones, m[0]->bones);
    EXPECT_EQ(m[2]->bones, m[0]->bones);
    ASSERT_EQ(m[0]->bone_count, 4);
    const Bone *b = m[0]->bones;
    EXPECT_STREQ(b[0].record.name, "root");
    EXPECT_EQ(b[0].parent, nullptr);
    EXPECT_EQ(b[1].parent, &b[0]) << "ROOT finds root";
    EXPECT_EQ(b[2].parent, &b[1]) << "arm finds Arm";
    EXPECT_EQ(b[3].parent, nullptr) << "a parent name no bone has";
    EXPECT_EQ(b[1].record.index, 1);
    Matrix34 identity;
    mat34_identity(identity);
    EXPECT_EQ(std::memcmp(&b[1].local, &identity, sizeof identity), 0);
}

TEST(ModelParse, BoneSlotsWithoutRecordsStayZero) {
    ModelImage image;
    image.magic().mesh_start("m").bone_count(3).bone(2, "last", "");
    ParsedModel parsed(image);
    const Mesh &m = *parsed.meshes().at(0);
    ASSERT_EQ(m.bone_count, 3);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(m.bones[i].record.index, 0);
        EXPECT_EQ(m.bones[i].record.name[0], '\0');
        EXPECT_EQ(m.bones[i].local.m[0], 0.0f) << "no record: zero matrices";
    }
    EXPECT_EQ(m.bones[2].record.index, 2);
    EXPECT_EQ(m.bones[2].local.m[0], 1.0f);
}

TEST(ModelParse, WeightsAndRangesPointIntoTheImage) {
    ModelImage image;
    image.magic().mesh_start("skin").vertices(kTriangle).triangles({{0, 1, 2}});
    image.bone_count(2).bone(0, "a", "").bone(1, "b", "a");
    image.weights({{0, 1.0f}, {1, 0.5f}, {0, 0.5f}});
    image.ranges({{0, 1}, {1, 2}, {0, 0}});
    ParsedModel parsed(image);
    const Mesh &m = *parsed.meshes().at(0);
    EXPECT_EQ(m.weight_count, 3);
    ASSERT_NE(m.weight_ranges, nullptr);
    // Unary + copies the packed fields out before the macros bind references to them.
    EXPECT_EQ(+m.weights[1].bone, 1);
    EXPECT_EQ(+m.weights[1].weight, 0.5f);
    EXPECT_EQ(+m.weight_ranges[1].first, 1);
    EXPECT_EQ(+m.weight_ranges[1].count, 2);
    EXPECT_EQ(m.posed_normals, nullptr) << "computed normals come after the first pose";
}

}  // namespace
