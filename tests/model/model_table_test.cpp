// The file cache, the model slots and the handles: sharing, reloads and the table limits.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "model/file_cache.h"
#include "model/model_table.h"
#include "tests/model/model_image.h"

namespace {

std::string write_model(const std::string &name, const std::string &mesh_name) {
    const std::string path = testing::TempDir() + "halcyon_model_" + name + ".qtl";
    ModelImage image;
    image.magic().mesh_start(mesh_name).vertices({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}).triangles({{0, 1, 2}});
    std::FILE *f = std::fopen(path.c_str(), "wb");
    std::fwrite(image.bytes.data(), 1, image.bytes.size(), f);
    std::fclose(f);
    return path;
}

int used_cache_entries() {
    int used = 0;
    for (const FileCacheEntry &e : file_cache.entries) used += e.used;
    return used;
}

class ModelTables : public testing::Test {
protected:
    void SetUp() override { release_all_models(); }
    void TearDown() override {
        release_all_models();
        for (ModelHandle &h : model_handles) h = ModelHandle{};
    }
};

TEST_F(ModelTables, SamePathTwiceGivesTwoModelsOverOneImage) {
    const std::string path = write_model("twice", "m");
    ModelHandle *a = load_model(path.c_str());
    std::string upper = path;
    upper.replace(upper.size() - 4, 4, ".QTL");  // differs only in case: found in the cache
    ModelHandle *b = load_model(upper.c_str());
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a, &model_handles[0]);
    EXPECT_EQ(b, &model_handles[1]);
    EXPECT_EQ(b->slot, 1);
    EXPECT_NE(a->model, b->model);
    EXPECT_NE(a->model->meshes, b->model->meshes);
    EXPECT_EQ(a->model->data, b->model->data);
    EXPECT_EQ(used_cache_entries(), 1);
    EXPECT_STREQ(b->path, upper.c_str());
}

TEST_F(ModelTables, ReleasedModelReloadsFromTheCacheThenFromDisk) {
    const std::string path = write_model("reload", "before");
    ModelHandle *h = load_model(path.c_str());
    ASSERT_NE(h, nullptr);
    const uint8_t *image = h->model->data;
    release_model(h->slot);
    EXPECT_FALSE(h->loaded);
    EXPECT_FALSE(model_slots[0].used);
    write_model("reload", "after");  // the cache still holds the first bytes
    ModelFile *again = resolve_model_handle(h);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(h->loaded);
    EXPECT_EQ(again, model_slots[0].model);
    EXPECT_EQ(again->data, image);
    EXPECT_STREQ(again->meshes->name, "before");

    release_all_models();
    EXPECT_EQ(used_cache_entries(), 0);
    ModelFile *fresh = resolve_model_handle(h);
    ASSERT_NE(fresh, nullptr);
    EXPECT_STREQ(fresh->meshes->name, "after") << "read from disk again";

    release_model(5);  // a slot without a model: nothing happens
    release_model(-1);
    release_model(kModelSlotCount);
    EXPECT_TRUE(h->loaded);
}

TEST_F(ModelTables, FailuresLeaveEveryTableAsItWas) {
    const std::string missing = testing::TempDir() + "halcyon_model_missing.qtl";
    std::remove(missing.c_str());
    EXPECT_EQ(file_cache_load(missing.c_str()), -1);
    EXPECT_EQ(load_model(missing.c_str()), nullptr);
    const std::string too_long(kModelPathSize, 'x');
    EXPECT_EQ(load_model(too_long.c_str()), nullptr);
    EXPECT_EQ(load_model(nullptr), nullptr);
    EXPECT_EQ(resolve_model_handle(nullptr), nullptr);
    EXPECT_EQ(used_cache_entries(), 0);
    for (const ModelSlot &s : model_slots) ASSERT_FALSE(s.used);

    // A handle whose file vanished stays unloaded, so the next frame tries again.
    const std::string path = write_model("vanishing", "m");
    ModelHandle *h = load_model(path.c_str());
    release_all_models();
    std::remove(path.c_str());
    EXPECT_EQ(resolve_model_handle(h), nullptr);
    EXPECT_FALSE(h->loaded);
    EXPECT_FALSE(model_slots[0].used);
}

TEST_F(ModelTables, FiveHundredTwelveSlotsAndOneHundredTwentyEightFiles) {
    const std::string path = write_model("many", "m");
    for (int i = 0; i < kModelSlotCount; ++i) ASSERT_NE(load_model(path.c_str()), nullptr) << i;
    EXPECT_EQ(load_model(path.c_str()), nullptr);
    release_model(300);
    ModelHandle *h = load_model(path.c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->slot, 300) << "the freed slot is taken again";
    release_all_models();

    for (int i = 0; i < kFileCacheSize; ++i)
        ASSERT_EQ(file_cache_load(write_model("file" + std::to_string(i), "m").c_str()), i);
    EXPECT_EQ(file_cache_load(write_model("one_more", "m").c_str()), -1);
    EXPECT_EQ(file_cache_load(write_model("file7", "m").c_str()), 7) << "a cached path is still found";
}

}  // namespace
