// The 3D Studio files of tests/data: every one parses into its meshes, read through
// the file cache from blocks of exactly the file's size (ASan would report any read past them).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/model_table.h"

namespace {

struct ExpectedMesh {
    const char *name;
    int vertices, triangles;
    bool tex_coords, node_header;
    int node_id;
};

struct ExpectedFile {
    const char *file;
    std::vector<ExpectedMesh> meshes;
};

// Camera nodes carry an id the walk does not list, so cameras have no node header.
const std::vector<ExpectedFile> kFiles = {
    {"CameraRollAnim.3ds", {{"Box01", 26, 12, true, true, 0}, {"Camera01", 0, 0, false, false, 0}}},
    {"CameraRollAnimWithChildObject.3ds",
     {{"Box01", 26, 12, true, true, 0}, {"Camera01", 0, 0, false, false, 0}, {"Box02", 26, 12, true, true, 2}}},
    {"RotatingCube.3DS", {{"Box01", 26, 12, true, true, 0}}},
    {"TargetCameraAnim.3ds", {{"Box01", 26, 12, true, true, 0}, {"Camera01", 0, 0, false, false, 0}}},
    {"cube_with_diffuse_texture.3DS", {{"Quader01", 32, 12, true, true, 0}}},
    {"cube_with_specular_texture.3DS", {{"Quader01", 32, 12, true, true, 0}}},
    {"cubes_with_alpha.3DS",
     {{"Quader01", 26, 12, true, true, 0},
      {"Quader02", 26, 12, true, true, 1},
      {"Quader03", 26, 12, true, true, 2},
      {"Quader04", 26, 12, true, true, 3},
      {"Quader05", 26, 12, true, true, 4}}},
    {"fels.3ds", {{"Default", 386, 768, false, false, 0}}},
    {"test1.3ds",
     {{"Box01", 32, 12, true, true, 0},
      {"Box02", 32, 12, true, true, 1},
      {"Box04", 32, 12, true, true, 2},
      {"Box05", 32, 12, true, true, 3},
      {"Box06", 32, 12, true, true, 4},
      {"Box07", 32, 12, true, true, 5},
      {"Box08", 32, 12, true, true, 6},
      {"Box09", 32, 12, true, true, 7},
      {"Box10", 32, 12, true, true, 8}}},
};

TEST(RealFiles, EveryStudioFileParsesIntoItsMeshes) {
    const std::string folder = std::string(HALCYON_TESTDATA_DIR) + "/3ds/";
    for (const ExpectedFile &expected : kFiles) {
        SCOPED_TRACE(expected.file);
        ModelHandle *handle = load_model((folder + expected.file).c_str());
        ASSERT_NE(handle, nullptr) << "cannot read " << folder << expected.file;
        size_t index = 0;
        for (const Mesh *m = handle->model->meshes; m; m = m->next, ++index) {
            ASSERT_LT(index, expected.meshes.size());
            const ExpectedMesh &e = expected.meshes[index];
            EXPECT_STREQ(m->name, e.name);
            EXPECT_EQ(m->vertex_count, e.vertices);
            EXPECT_EQ(m->triangle_count, e.triangles);
            EXPECT_EQ(m->tex_coords != nullptr, e.tex_coords);
            EXPECT_EQ(m->node_header != nullptr, e.node_header);
            EXPECT_EQ(m->node_id, e.node_id);
            EXPECT_EQ(m->parent, nullptr);
            if (m->vertex_count > 0) {
                ASSERT_NE(m->normals, nullptr);
                const PackedVec3 n = m->normals[0];
                EXPECT_NEAR(n.x * n.x + n.y * n.y + n.z * n.z, 1.0f, 1e-5f);
            }
        }
        EXPECT_EQ(index, expected.meshes.size());
    }
    release_all_models();
}

}  // namespace
