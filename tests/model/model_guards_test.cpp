// Malformed files: nothing is read outside the image (the images are exact-size heap blocks,
// so ASan would report it), and what survives the parse agrees with its mesh.
#include <gtest/gtest.h>

#include <functional>

#include "model/frame_number.h"
#include "model/mesh_checks.h"
#include "model/mesh_prepare.h"
#include "model/model_links.h"
#include "model/skeletal_pose.h"
#include "render/mesh_draw_cache.h"
#include "tests/model/model_image.h"

namespace {

const std::vector<Vec3> kSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

// A file that uses every kind of per-mesh data, bones and a node hierarchy.
ModelImage complete_file() {
    ModelImage image;
    image.magic();
    const size_t main = image.begin(model_ids::Main);
    image.mesh_start("skin").vertices(kSquare).triangles({{0, 1, 2}, {0, 2, 3}});
    image.tex_coords({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    image.normals({{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}});
    image.bone_count(2).bone(0, "root", "").bone(1, "tip", "ROOT");
    image.weights({{0, 1.0f}, {1, 0.5f}, {0, 0.5f}, {1, 1.0f}});
    image.ranges({{0, 1}, {1, 2}, {3, 1}, {0, 0}});
    image.mesh_start("child").vertices(kSquare).triangles({{3, 2, 1}});
    const size_t kf = image.begin(model_ids::Keyframer);
    image.node_id(1).node_header("skin", 0xFFFF).node_id(2).node_header("child", 1);
    image.end(kf).end(main);
    return image;
}

// What the parse promises about every mesh, whatever the file held.
void expect_sound(const ParsedModel &parsed) {
    const uint8_t *begin = parsed.data;
    const uint8_t *end = parsed.data + parsed.model.size;
    auto inside = [&](const void *p, uint64_t bytes) {
        const uint8_t *b = static_cast<const uint8_t *>(p);
        return b >= begin && b <= end && bytes <= static_cast<uint64_t>(end - b);
    };
    for (const Mesh *m : parsed.meshes()) {
        ASSERT_TRUE(m->name == nullptr || inside(m->name, std::strlen(m->name) + 1));
        if (!m->positions) {
            EXPECT_EQ(m->vertex_count, 0);
        } else {
            EXPECT_TRUE(inside(m->positions, 12ull * m->vertex_count));
        }
        if (m->triangles) {
            ASSERT_TRUE(inside(m->triangles, 8ull * m->triangle_count));
            for (int t = 0; t < m->triangle_count; ++t) {
                EXPECT_LT(+m->triangles[t].i0, m->vertex_count);
                EXPECT_LT(+m->triangles[t].i1, m->vertex_count);
                EXPECT_LT(+m->triangles[t].i2, m->vertex_count);
            }
        }
        if (m->tex_coords) {
            EXPECT_TRUE(inside(m->tex_coords, 2 + 8ull * m->vertex_count));
        }
        if (m->normals_from_file) {
            EXPECT_TRUE(inside(m->normals, 12ull * m->vertex_count));
        }
        if (m->weight_ranges) {
            ASSERT_TRUE(inside(m->weight_ranges, 8ull * m->vertex_count));
            ASSERT_TRUE(inside(m->weights, 24ull * m->weight_count));
            for (int v = 0; v < m->vertex_count; ++v) {
                const WeightRange r = m->weight_ranges[v];
                ASSERT_GE(r.first, 0);
                ASSERT_GE(r.count, 0);
                ASSERT_LE(int64_t{r.first} + r.count, m->weight_count);
                for (int w = r.first; w < r.first + r.count; ++w) {
                    EXPECT_GE(+m->weights[w].bone, 0);
                    EXPECT_LT(+m->weights[w].bone, m->bone_count);
                }
            }
        }
        if (m->node_header) {
            EXPECT_TRUE(inside(m->node_header, 6));
        }
        // Parent chains end.
        int steps = 0;
        for (const Mesh *up = m->parent; up && steps < 1000; up = up->parent) ++steps;
        EXPECT_LT(steps, 1000);
        for (int b = 0; m->bones && b < m->bone_count; ++b) {
            steps = 0;
            for (const Bone *up = m->bones[b].parent; up && steps <= m->bone_count; up = up->parent) ++steps;
            EXPECT_LE(steps, m->bone_count);
        }
    }
}

// Poses and lights every mesh in a new frame, as drawing would.
void draw_once(ParsedModel &parsed) {
    advance_frame_number();
    const Vec3 eye{0, 0, 10}, light{3, 4, 5};
    for (Mesh *m : parsed.meshes()) {
        update_mesh_transform(*m, 1.0f);
        ensure_index_array(*m);
        update_mesh_vertices(*m, 1.0f, false);
        if (MeshDrawCache *cache = mesh_draw_cache(*m)) update_light_and_eye_vectors(*m, *cache, light, eye);
    }
}

TEST(ModelGuards, CompleteFileParsesWhole) {
    ParsedModel parsed(complete_file());
    const auto m = parsed.meshes();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0]->vertex_count, 4);
    EXPECT_NE(m[0]->tex_coords, nullptr);
    EXPECT_TRUE(m[0]->normals_from_file);
    EXPECT_NE(m[0]->weight_ranges, nullptr);
    EXPECT_NE(m[0]->posed_normals, nullptr);
    EXPECT_EQ(m[1]->parent, m[0]);
    EXPECT_TRUE(m[1]->bones_shared);
    expect_sound(parsed);
}

// Every prefix of a complete file is a file cut short somewhere: inside a header, a name,
// a count, an array or a record.
TEST(ModelGuards, EveryTruncationParsesSafely) {
    const ModelImage whole = complete_file();
    for (size_t length = 0; length <= whole.bytes.size(); ++length) {
        SCOPED_TRACE(length);
        ParsedModel parsed(std::vector<uint8_t>(whole.bytes.begin(), whole.bytes.begin() + length));
        expect_sound(parsed);
        draw_once(parsed);
    }
}

// Each single byte of the complete file replaced by values that break counts and indices.
TEST(ModelGuards, CorruptedBytesParseSafely) {
    const ModelImage whole = complete_file();
    for (size_t at = 0; at < whole.bytes.size(); ++at) {
        for (uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
            std::vector<uint8_t> bytes = whole.bytes;
            bytes[at] = value;
            ParsedModel parsed(bytes);
            expect_sound(parsed);
            draw_once(parsed);
        }
    }
}

TEST(ModelGuards, NamesThatRunOffTheImageAreNotRead) {
    ModelImage mesh_name;
    mesh_name.magic().mesh_start("ok").header(model_ids::MeshStart, 8).raw("ab", 2);  // no NUL
    ParsedModel parsed(mesh_name);
    ASSERT_EQ(parsed.meshes().size(), 1u);
    EXPECT_STREQ(parsed.meshes()[0]->name, "ok");

    ModelImage node_name;
    node_name.magic().mesh_start("ok").header(model_ids::NodeHeader, 8).raw("ok", 2);
    ParsedModel parsed_node(node_name);
    EXPECT_EQ(parsed_node.meshes().at(0)->node_header, nullptr);

    // The name fits, the words after it do not: the node still names its mesh and gives it the
    // node id, so a mesh whose parent id is that node links to it; only its own parent id is missing.
    for (const char *name : {"ok", "dummy"}) {
        ModelImage short_header;
        short_header.magic().mesh_start("ok").node_id(4).node_header("ok", 5).node_id(5);
        short_header.header(model_ids::NodeHeader, 8).text(name).u16(0).u16(0);
        ParsedModel parsed_short(short_header);
        SCOPED_TRACE(name);
        const auto m = parsed_short.meshes();
        const Mesh *node = m.back();
        ASSERT_EQ(m.size(), std::strcmp(name, "ok") == 0 ? 1u : 2u);
        EXPECT_STREQ(node->name, name);
        EXPECT_EQ(node->node_id, 5);
        EXPECT_EQ(node->node_header, nullptr);
        EXPECT_EQ(m[0]->parent, std::strcmp(name, "ok") == 0 ? nullptr : node);
        expect_sound(parsed_short);
    }
}

TEST(ModelGuards, ArraysThatDisagreeWithTheMeshAreDropped) {
    struct Case {
        const char *what;
        ModelImage image;
        std::function<void(const Mesh &)> check;
    };
    auto base = [] {
        ModelImage i;
        i.magic().mesh_start("m").vertices(kSquare);
        return i;
    };
    std::vector<Case> cases;
    cases.push_back({"triangle naming vertex 4 of 4", base().triangles({{0, 1, 4}}), [](const Mesh &m) {
                         EXPECT_EQ(m.triangle_count, 0);
                         EXPECT_EQ(m.triangles, nullptr);
                     }});
    cases.push_back({"three pairs for four vertices", base().triangles({{0, 1, 2}}).tex_coords({{0, 0}, {1, 0}, {1, 1}}),
                     [](const Mesh &m) { EXPECT_EQ(m.tex_coords, nullptr); }});
    cases.push_back({"two normals for four vertices", base().triangles({{0, 1, 2}}).normals({{0, 0, 1}, {0, 0, 1}}),
                     [](const Mesh &m) {
                         EXPECT_FALSE(m.normals_from_file);
                         ASSERT_NE(m.normals, nullptr) << "computed instead";
                         EXPECT_EQ(m.normals[0].z, 1.0f);
                     }});
    const std::vector<std::vector<std::pair<int32_t, int32_t>>> bad_ranges = {
        {{0, 1}, {0, 1}, {0, 1}, {0, 3}},           // past the last weight
        {{-1, 1}, {0, 1}, {0, 1}, {0, 1}},          // negative first
        {{0, -1}, {0, 1}, {0, 1}, {0, 1}},          // negative count
        {{0, 1}, {0, 1}, {0x7FFFFFFF, 1}, {0, 1}},  // first + count overflows
        {{0, 1}, {0, 1}, {0, 1}, {1, 1}},           // weight 1 names bone 5 of 2
        {{0, 1}, {0, 1}},                           // two ranges for four vertices
    };
    for (const auto &ranges : bad_ranges)
        cases.push_back({"weight ranges", base().triangles({{0, 1, 2}}).bone_count(2).weights({{0, 1.0f}, {5, 1.0f}}).ranges(ranges),
                         [](const Mesh &m) {
                             EXPECT_EQ(m.weight_ranges, nullptr);
                             EXPECT_EQ(m.posed_positions[1].x, 1.0f) << "posed from the file, unskinned";
                         }});
    {
        ModelImage i = base();
        i.triangles({{0, 1, 2}}).bone_count(2);
        i.header(model_ids::Weights, 10).i32(1000);  // 1000 records promised, none present
        i.ranges({{0, 1}, {0, 1}, {0, 1}, {0, 1}});
        cases.push_back({"weights past the image", i, [](const Mesh &m) {
                             EXPECT_EQ(m.weights, nullptr);
                             EXPECT_EQ(m.weight_count, 0);
                             EXPECT_EQ(m.weight_ranges, nullptr);
                         }});
    }
    {
        ModelImage i = base();
        i.header(model_ids::Vertices, 8).u16(9);  // nine positions promised, none present
        cases.push_back({"vertex list past the image", i, [](const Mesh &m) { EXPECT_EQ(m.vertex_count, 4); }});
    }
    for (Case &c : cases) {
        SCOPED_TRACE(c.what);
        ParsedModel parsed(c.image);
        c.check(*parsed.meshes().at(0));
        expect_sound(parsed);
        draw_once(parsed);
    }
}

TEST(ModelGuards, BoneCountsAndRecordsOutsideTheArrayAreIgnored) {
    ModelImage image;
    image.magic().mesh_start("m").bone_count(-1);
    image.mesh_start("n").bone_count(70000);  // more than one model may hold
    image.mesh_start("o").bone_count(2).bone(2, "past", "").bone(-1, "before", "").bone(1, "ok", "");
    ParsedModel parsed(image);
    const auto m = parsed.meshes();
    EXPECT_EQ(m[0]->bones, nullptr);
    EXPECT_EQ(m[1]->bones, nullptr);
    ASSERT_EQ(m[2]->bone_count, 2);
    EXPECT_EQ(m[2]->bones[0].record.name[0], '\0');
    EXPECT_STREQ(m[2]->bones[1].record.name, "ok");
}

// A refused count (negative, or past what the model may hold) must not leave the mesh on the array
// it shared, or its bone records would overwrite the other mesh's bones.
TEST(ModelGuards, RefusedBoneCountLeavesTheMeshWithoutBones) {
    for (int32_t refused : {-1, 65536 - 3 + 1}) {
        SCOPED_TRACE(refused);
        ModelImage image;
        image.magic().mesh_start("a").bone_count(3).bone(0, "a0", "");
        image.mesh_start("b").bone_count(refused).bone(0, "b0", "").mesh_start("c");
        ParsedModel parsed(image);
        const auto m = parsed.meshes();
        EXPECT_STREQ(m[0]->bones[0].record.name, "a0");
        EXPECT_EQ(m[1]->bones, nullptr);
        EXPECT_EQ(m[1]->bone_count, 0);
        EXPECT_FALSE(m[1]->bones_shared);
        EXPECT_EQ(m[2]->bones, nullptr) << "nothing left to share";
    }
    ModelImage own;  // a mesh's own array goes too (LeakSanitizer reports it otherwise)
    own.magic().mesh_start("a").bone_count(2).bone_count(-1).bone(0, "a0", "");
    ParsedModel parsed_own(own);
    EXPECT_EQ(parsed_own.meshes().at(0)->bones, nullptr);
}

// Weight ranges covering more than a pose of one mesh may visit, or more than the model's earlier
// meshes left, leave the mesh unskinned; at the limit it stays skinned.
TEST(ModelGuards, WeightRangesPastThePoseLimitsAreDropped) {
    for (int32_t extra : {0, 1}) {
        SCOPED_TRACE(extra);
        const int32_t vertices = 1024, span = int32_t(kMaxPoseWeights / vertices);
        ModelImage image;
        image.magic().mesh_start("m").vertices(std::vector<Vec3>(vertices, Vec3{1, 2, 3})).bone_count(1);
        image.weights(std::vector<std::pair<int32_t, float>>(span + extra, {0, 0.5f}));
        std::vector<std::pair<int32_t, int32_t>> ranges(vertices, {0, span});
        ranges[0].second += extra;
        image.ranges(ranges);
        ParsedModel parsed(image);
        const Mesh &m = *parsed.meshes().at(0);
        EXPECT_EQ(m.weight_ranges != nullptr, extra == 0);
        // Skinned: the many halves on an empty bone slot give zero; unskinned: the file position.
        EXPECT_EQ(m.posed_positions[1].x, extra == 0 ? 0.0f : 1.0f);
    }
    ModelImage image;  // eight weights visited per pose
    image.magic().mesh_start("m").vertices(kSquare).bone_count(1).weights({{0, 1.0f}, {0, 1.0f}});
    image.ranges({{0, 2}, {0, 2}, {0, 2}, {0, 2}});
    ParsedModel parsed(image);
    Mesh &m = *parsed.meshes().at(0);
    const WeightRange *ranges = m.weight_ranges;
    ASSERT_NE(ranges, nullptr);
    const ImageView view{parsed.data, static_cast<uint64_t>(parsed.model.size)};
    for (int64_t left : {8, 7}) {
        SCOPED_TRACE(left);
        m.weight_ranges = ranges;
        int64_t model_left = left;
        drop_unsound_mesh_data(m, view, model_left);
        EXPECT_EQ(m.weight_ranges != nullptr, left == 8);
        EXPECT_EQ(model_left, left == 8 ? 0 : 7);
    }
}

// A count for a mesh that shares the bones before it gives it an array of its own, freed with it
// (LeakSanitizer reports it otherwise); a second count replaces the mesh's own array.
TEST(ModelGuards, NewBoneCountAfterSharingBelongsToTheMesh) {
    ModelImage image;
    image.magic().mesh_start("a").bone_count(2).bone(0, "a0", "");
    image.mesh_start("b").bone_count(3).bone_count(1).bone(0, "b0", "");
    ParsedModel parsed(image);
    const auto m = parsed.meshes();
    EXPECT_FALSE(m[1]->bones_shared);
    EXPECT_NE(m[1]->bones, m[0]->bones);
    EXPECT_EQ(m[1]->bone_count, 1);
    EXPECT_STREQ(m[0]->bones[0].record.name, "a0");
    EXPECT_STREQ(m[1]->bones[0].record.name, "b0");
}

TEST(ModelGuards, BoneParentLoopsAreBrokenAtTheirFirstMember) {
    ModelImage image;
    image.magic().mesh_start("m").bone_count(6);
    image.bone(0, "self", "SELF");                                     // names itself
    image.bone(1, "tail", "b").bone(2, "a", "c").bone(3, "b", "a");    // tail -> b -> a -> c -> b
    image.bone(4, "c", "b").bone(5, "free", "self");
    ParsedModel parsed(image);
    const Bone *b = parsed.meshes().at(0)->bones;
    EXPECT_EQ(b[0].parent, nullptr);
    EXPECT_EQ(b[5].parent, &b[0]);
    EXPECT_EQ(b[1].parent, &b[3]);
    EXPECT_EQ(b[2].parent, nullptr) << "lowest index on the loop a, b, c";
    EXPECT_EQ(b[3].parent, &b[2]);
    EXPECT_EQ(b[4].parent, &b[3]);
    advance_frame_number();
    update_bone(parsed.meshes().at(0)->bones[1]);
    EXPECT_EQ(b[3].stamp, FrameNumber);
}

TEST(ModelGuards, MeshParentLoopsAreBrokenAtTheirFirstMember) {
    ModelImage image;
    image.magic().mesh_start("self").vertices(kSquare).mesh_start("x").vertices(kSquare);
    image.mesh_start("y").vertices(kSquare);
    image.node_id(1).node_header("self", 1);  // its own parent
    image.node_id(2).node_header("x", 3).node_id(3).node_header("y", 2);
    ParsedModel parsed(image);
    const auto m = parsed.meshes();
    EXPECT_EQ(m[0]->parent, nullptr);
    EXPECT_EQ(m[1]->parent, nullptr) << "x comes first in the list";
    EXPECT_EQ(m[2]->parent, m[1]);
    update_mesh_transform(*m[2], 2.0f);
    EXPECT_EQ(m[2]->world.m[0], 2.0f);
}

// Chains far deeper than any stack could recurse through.
TEST(ModelGuards, LongParentChainsNeedNoRecursion) {
    const int depth = 1000000;
    std::vector<Bone> bones(depth);
    for (int i = 0; i < depth; ++i) {
        mat34_identity(bones[i].local);
        bones[i].local.m[9] = 1.0f;  // each bone one unit along x from its parent
        bones[i].parent = i ? &bones[i - 1] : nullptr;
    }
    advance_frame_number();
    update_bone(bones[depth - 1]);
    EXPECT_EQ(bones[depth - 1].world.m[9], 1000000.0f);
    EXPECT_EQ(bones[depth - 2].parent, &bones[depth - 3]) << "links restored";
    EXPECT_EQ(bones[0].parent, nullptr);

    std::vector<Mesh> meshes(depth);
    PackedVec3 point{0, 0, 0};
    for (int i = 0; i < depth; ++i) {
        meshes[i].positions = &point;
        meshes[i].parent = i ? &meshes[i - 1] : nullptr;
    }
    update_mesh_transform(meshes[depth - 1], 3.0f);
    EXPECT_EQ(meshes[depth - 1].world.m[4], 3.0f);
    EXPECT_EQ(meshes[0].transform_stamp, FrameNumber);
}

}  // namespace
