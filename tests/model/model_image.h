// Builds model file images byte by byte for the tests, and parses them from a block of exactly
// the image's size, so that ASan reports any read past the end.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "model/model_parse.h"
#include "model/model_table.h"

namespace model_ids {
// Ids after the magic.
constexpr uint16_t Main = 0x1000, Editor = 0x0001, MeshStart = 0x2000, TriMesh = 0x2100,
                   Vertices = 0x2110, Triangles = 0x2120, TexCoords = 0x2140, Normals = 0x2170,
                   Weights = 0x2180, Ranges = 0x2185, BoneCount = 0x2189, Bone = 0x2190,
                   Keyframer = 0x3000, ObjectNode = 0x3002, NodeHeader = 0x3010, NodeId = 0x3030;
}  // namespace model_ids

struct ModelImage {
    std::vector<uint8_t> bytes;

    ModelImage &u16(uint16_t v) { return raw(&v, 2); }
    ModelImage &u32(uint32_t v) { return raw(&v, 4); }
    ModelImage &i32(int32_t v) { return raw(&v, 4); }
    ModelImage &f32(float v) { return raw(&v, 4); }
    ModelImage &vec(float x, float y, float z) { return f32(x).f32(y).f32(z); }
    ModelImage &text(const std::string &s) { return raw(s.c_str(), s.size() + 1); }
    ModelImage &raw(const void *p, size_t n) {
        const uint8_t *b = static_cast<const uint8_t *>(p);
        bytes.insert(bytes.end(), b, b + n);
        return *this;
    }
    ModelImage &magic() { return u16(0x1337); }
    // A chunk header whose size is filled in by end().
    size_t begin(uint16_t id) {
        const size_t at = bytes.size();
        u16(id).u32(0);
        return at;
    }
    ModelImage &end(size_t at) {
        const uint32_t size = static_cast<uint32_t>(bytes.size() - at);
        std::memcpy(&bytes[at + 2], &size, 4);
        return *this;
    }
    // A chunk header with a given size and nothing else.
    ModelImage &header(uint16_t id, uint32_t size) { return u16(id).u32(size); }

    ModelImage &mesh_start(const std::string &name) { return end(begin_text(model_ids::MeshStart, name)); }
    size_t begin_text(uint16_t id, const std::string &name) {
        const size_t at = begin(id);
        text(name);
        return at;
    }
    ModelImage &vertices(const std::vector<Vec3> &positions) {
        const size_t at = begin(model_ids::Vertices);
        u16(static_cast<uint16_t>(positions.size()));
        for (const Vec3 &p : positions) vec(p.x, p.y, p.z);
        return end(at);
    }
    ModelImage &triangles(const std::vector<std::vector<uint16_t>> &tris) {
        const size_t at = begin(model_ids::Triangles);
        u16(static_cast<uint16_t>(tris.size()));
        for (const auto &t : tris) u16(t[0]).u16(t[1]).u16(t[2]).u16(0);
        return end(at);
    }
    ModelImage &tex_coords(const std::vector<std::pair<float, float>> &pairs) {
        const size_t at = begin(model_ids::TexCoords);
        u16(static_cast<uint16_t>(pairs.size()));
        for (const auto &p : pairs) f32(p.first).f32(p.second);
        return end(at);
    }
    ModelImage &normals(const std::vector<Vec3> &normals) {
        const size_t at = begin(model_ids::Normals);
        for (const Vec3 &n : normals) vec(n.x, n.y, n.z);
        return end(at);
    }
    // weights: (bone, weight) per record
    ModelImage &weights(const std::vector<std::pair<int32_t, float>> &records) {
        const size_t at = begin(model_ids::Weights);
        i32(static_cast<int32_t>(records.size()));
        for (const auto &r : records) {
            u32(0xDEADBEEF).i32(r.first).f32(r.second);
            for (int i = 0; i < 3; ++i) u32(0xDEADBEEF);
        }
        return end(at);
    }
    ModelImage &ranges(const std::vector<std::pair<int32_t, int32_t>> &first_count) {
        const size_t at = begin(model_ids::Ranges);
        for (const auto &r : first_count) i32(r.first).i32(r.second);
        return end(at);
    }
    ModelImage &bone_count(int32_t count) {
        const size_t at = begin(model_ids::BoneCount);
        i32(count);
        return end(at);
    }
    ModelImage &bone(int32_t index, const std::string &name, const std::string &parent) {
        const size_t at = begin(model_ids::Bone);
        i32(index);
        char name_area[80] = {}, parent_area[32] = {};
        std::memcpy(name_area, name.data(), name.size() < 80 ? name.size() : 80);
        std::memcpy(parent_area, parent.data(), parent.size() < 32 ? parent.size() : 32);
        raw(name_area, 80).raw(parent_area, 32);
        return end(at);
    }
    ModelImage &node_id(uint16_t id) {
        const size_t at = begin(model_ids::NodeId);
        u16(id);
        return end(at);
    }
    ModelImage &node_header(const std::string &name, uint16_t parent_id) {
        const size_t at = begin_text(model_ids::NodeHeader, name);
        u16(0).u16(0).u16(parent_id);
        return end(at);
    }

};

// Parses a copy of the image held in a block of exactly its size; frees everything after.
struct ParsedModel {
    uint8_t *data = nullptr;
    ModelFile model{};

    explicit ParsedModel(const std::vector<uint8_t> &bytes) {
        data = static_cast<uint8_t *>(std::malloc(bytes.empty() ? 1 : bytes.size()));
        if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
        model.data = data;
        model.size = static_cast<int32_t>(bytes.size());
        parse_model(model);
    }
    explicit ParsedModel(const ModelImage &image) : ParsedModel(image.bytes) {}
    ~ParsedModel() {
        free_model_meshes(model);
        std::free(data);
    }
    ParsedModel(const ParsedModel &) = delete;
    ParsedModel &operator=(const ParsedModel &) = delete;

    std::vector<Mesh *> meshes() const {
        std::vector<Mesh *> list;
        for (Mesh *m = model.meshes; m; m = m->next) list.push_back(m);
        return list;
    }
};
