// Model costs per vertex: parsing and preparing a 65,535-vertex mesh, and per frame the pose of
// a skinned mesh plus one light pass (light and eye vectors in tangent space). Then the hostile
// seed files of the fuzzer, which must each parse and prepare in well under half a second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "model/frame_number.h"
#include "model/model_parse.h"
#include "model/model_table.h"
#include "model/skeletal_pose.h"
#include "model/tangent_frames.h"
#include "render/mesh_draw_cache.h"

namespace {

constexpr int kColumns = 255, kRows = 257;  // 65,535 vertices
constexpr int kTriangles = 65535;

struct Writer {
    std::vector<uint8_t> bytes;
    template <typename T>
    void put(T v) {
        const uint8_t *p = reinterpret_cast<const uint8_t *>(&v);
        bytes.insert(bytes.end(), p, p + sizeof v);
    }
    size_t begin(uint16_t id) {
        const size_t at = bytes.size();
        put(id);
        put(uint32_t{0});
        return at;
    }
    void end(size_t at) {
        const uint32_t size = static_cast<uint32_t>(bytes.size() - at);
        std::memcpy(&bytes[at + 2], &size, 4);
    }
};

// A wavy grid with texture coordinates; skinned over two bones when asked.
std::vector<uint8_t> grid_file(bool skinned) {
    Writer w;
    w.put(uint16_t{0x1337});
    size_t at = w.begin(0x2000);
    w.bytes.push_back('g');
    w.bytes.push_back(0);
    w.end(at);
    at = w.begin(0x2110);
    w.put(uint16_t{kColumns * kRows});
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c) {
            w.put(float(c));
            w.put(float(r));
            w.put(float((c * 7 + r * 3) % 5) * 0.1f);
        }
    w.end(at);
    at = w.begin(0x2120);
    w.put(uint16_t{kTriangles});
    int written = 0;
    for (int r = 0; r + 1 < kRows && written < kTriangles; ++r)
        for (int c = 0; c + 1 < kColumns && written < kTriangles; ++c) {
            const uint16_t a = uint16_t(r * kColumns + c), b = uint16_t(a + 1), d = uint16_t(a + kColumns);
            for (uint16_t i : {a, b, d, uint16_t(0)}) w.put(i);
            if (++written < kTriangles) {
                for (uint16_t i : {b, uint16_t(d + 1), d, uint16_t(0)}) w.put(i);
                ++written;
            }
        }
    w.end(at);
    at = w.begin(0x2140);
    w.put(uint16_t{kColumns * kRows});
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c) {
            w.put(float(c) / kColumns);
            w.put(float(r) / kRows);
        }
    w.end(at);
    if (skinned) {
        at = w.begin(0x2189);
        w.put(int32_t{2});
        w.end(at);
        for (int32_t b = 0; b < 2; ++b) {
            at = w.begin(0x2190);
            w.put(b);
            char name[80] = {}, parent[32] = {};
            name[0] = char('a' + b);
            if (b == 1) parent[0] = 'A';
            w.bytes.insert(w.bytes.end(), name, name + 80);
            w.bytes.insert(w.bytes.end(), parent, parent + 32);
            w.end(at);
        }
        at = w.begin(0x2180);  // two weights per vertex
        w.put(int32_t{2 * kColumns * kRows});
        for (int v = 0; v < kColumns * kRows; ++v)
            for (int32_t b = 0; b < 2; ++b) {
                w.put(uint32_t{0});
                w.put(b);
                w.put(0.5f);
                for (int k = 0; k < 3; ++k) w.put(uint32_t{0});
            }
        w.end(at);
        at = w.begin(0x2185);
        for (int32_t v = 0; v < kColumns * kRows; ++v) {
            w.put(2 * v);
            w.put(int32_t{2});
        }
        w.end(at);
    }
    return w.bytes;
}

void per_vertex(benchmark::State &state, int64_t vertices) {
    state.counters["per_vertex"] = benchmark::Counter(
        static_cast<double>(vertices), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void ParseAndPrepareLargeMesh(benchmark::State &state) {
    const std::vector<uint8_t> file = grid_file(state.range(0) != 0);
    for (auto _ : state) {
        ModelFile model{};
        model.data = file.data();
        model.size = static_cast<int32_t>(file.size());
        parse_model(model);
        benchmark::DoNotOptimize(model.meshes->normals);
        free_model_meshes(model);
    }
    per_vertex(state, kColumns * kRows);
}
BENCHMARK(ParseAndPrepareLargeMesh)->Arg(0)->Arg(1)->ArgName("skinned")->Unit(benchmark::kMillisecond);

// One frame of a skinned mesh: forced pose (bones, two weights per vertex, posed normals),
// tangent frames rebuilt for the new pose, and one light pass.
void PoseAndLightPass(benchmark::State &state) {
    const std::vector<uint8_t> file = grid_file(true);
    ModelFile model{};
    model.data = file.data();
    model.size = static_cast<int32_t>(file.size());
    parse_model(model);
    Mesh &mesh = *model.meshes;
    MeshDrawCache *cache = mesh_draw_cache(mesh);
    if (!cache) {
        state.SkipWithError("out of memory");
        free_model_meshes(model);
        return;
    }
    const Vec3 eye{0, 0, 10}, light{3, 4, 5};
    for (auto _ : state) {
        advance_frame_number();
        update_mesh_transform(mesh, 1.0f);
        update_mesh_vertices(mesh, 1.0f, true);
        update_light_and_eye_vectors(mesh, *cache, light, eye);
        benchmark::DoNotOptimize(cache->light_vectors);
    }
    per_vertex(state, mesh.vertex_count);
    free_model_meshes(model);
}
BENCHMARK(PoseAndLightPass)->Unit(benchmark::kMillisecond);

// The light pass alone, as every further light of a frame costs it (frames already valid).
void LightPassOnly(benchmark::State &state) {
    const std::vector<uint8_t> file = grid_file(false);
    ModelFile model{};
    model.data = file.data();
    model.size = static_cast<int32_t>(file.size());
    parse_model(model);
    Mesh &mesh = *model.meshes;
    const Vec3 eye{0, 0, 10}, light{3, 4, 5};
    std::vector<TangentFrame> frames(size_t(mesh.vertex_count));
    std::vector<Vec3> light_vectors(frames.size()), eye_vectors(frames.size());
    compute_mesh_tangent_frames(mesh, frames.data());
    for (auto _ : state) {
        compute_mesh_tangent_space_vectors(mesh, frames.data(), light, eye, light_vectors.data(), eye_vectors.data());
        benchmark::DoNotOptimize(light_vectors.data());
    }
    per_vertex(state, mesh.vertex_count);
    free_model_meshes(model);
}
BENCHMARK(LightPassOnly)->Unit(benchmark::kMillisecond);

std::vector<uint8_t> seed_file(const char *name) {
    std::ifstream in(std::string(HALCYON_MODEL_SEEDS_DIR) + "/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char *const kHostileSeeds[] = {"hostile_node_chain", "hostile_wide_weights", "hostile_shared_bones",
                                     "hostile_bone_chain", "hostile_many_skinned_meshes"};

void ParseHostileFile(benchmark::State &state) {
    const char *name = kHostileSeeds[state.range(0)];
    const std::vector<uint8_t> file = seed_file(name);
    if (file.empty()) {
        state.SkipWithError("seed file missing");
        return;
    }
    state.SetLabel(name);
    for (auto _ : state) {
        ModelFile model{};
        model.data = file.data();
        model.size = static_cast<int32_t>(file.size());
        parse_model(model);
        benchmark::DoNotOptimize(model.meshes);
        state.PauseTiming();
        free_model_meshes(model);
        state.ResumeTiming();
    }
}
BENCHMARK(ParseHostileFile)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// One forced pose of every mesh of a hostile file in a new frame.
void PoseHostileFile(benchmark::State &state) {
    const char *name = kHostileSeeds[state.range(0)];
    const std::vector<uint8_t> file = seed_file(name);
    if (file.empty()) {
        state.SkipWithError("seed file missing");
        return;
    }
    state.SetLabel(name);
    ModelFile model{};
    model.data = file.data();
    model.size = static_cast<int32_t>(file.size());
    parse_model(model);
    for (auto _ : state) {
        advance_frame_number();
        for (Mesh *mesh = model.meshes; mesh; mesh = mesh->next) update_mesh_vertices(*mesh, 1.0f, true);
    }
    free_model_meshes(model);
}
BENCHMARK(PoseHostileFile)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
