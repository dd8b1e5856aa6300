// model_info FILE [--json] [--normals] [--tangents]
// Loads a model file as the plug-in does and prints what it holds: readable text by default,
// or one JSON object whose shape other tools and checks rely on.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "model/model_table.h"
#include "model/skeletal_pose.h"
#include "model/tangent_frames.h"
#include "model/text_compare.h"

namespace {

// Model files are kilobytes to a few megabytes.
constexpr long long kLargestModelFile = 256LL << 20;

struct Options {
    const char *path = nullptr;
    bool json = false;
    bool normals = false;
    bool tangents = false;
};

bool parse_options(int argc, char **argv, Options &options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0)
            options.json = true;
        else if (std::strcmp(argv[i], "--normals") == 0)
            options.normals = true;
        else if (std::strcmp(argv[i], "--tangents") == 0)
            options.tangents = true;
        else if (argv[i][0] == '-' || options.path)
            return false;
        else
            options.path = argv[i];
    }
    return options.path != nullptr;
}

// Bytes above 127 and control characters become \u00XX, so any name gives valid JSON.
void print_json_text(const char *text, size_t length) {
    std::putchar('"');
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\')
            std::printf("\\%c", c);
        else if (c < 0x20 || c > 0x7E)
            std::printf("\\u%04x", c);
        else
            std::putchar(c);
    }
    std::putchar('"');
}

void print_float(float value) {
    if (std::isfinite(value))
        std::printf("%.9g", static_cast<double>(value));
    else
        std::printf("null");  // JSON has no NaN or infinity
}

void print_vec3(const Vec3 &v) {
    std::putchar('[');
    print_float(v.x);
    std::printf(", ");
    print_float(v.y);
    std::printf(", ");
    print_float(v.z);
    std::putchar(']');
}

int index_of(const std::vector<Mesh *> &meshes, const Mesh *mesh) {
    for (size_t i = 0; i < meshes.size(); ++i)
        if (meshes[i] == mesh) return static_cast<int>(i);
    return -1;
}

// A first light pass for the loaded pose; true when it produced frames.
bool compute_first_tangent_frames(Mesh &mesh) {
    const Vec3 origin{0, 0, 0};
    compute_tangent_space_vectors(mesh.vertex_count, mesh.posed_positions, mesh.triangle_count, mesh.triangles,
                                  mesh.tangent_frames, mesh.normals, mesh.light_vectors, mesh.eye_vectors,
                                  origin, origin, mesh_tex_coord_pairs(mesh), &mesh);
    return mesh.tangent_frames_valid != 0;
}

void print_json_bones(const Mesh &mesh) {
    std::printf("\"bones\": [");
    for (int32_t b = 0; mesh.bones && b < mesh.bone_count; ++b) {
        const Bone &bone = mesh.bones[b];
        std::printf("%s{\"index\": %d, \"name\": ", b ? ", " : "", bone.record.index);
        print_json_text(bone.record.name, bounded_text_length(bone.record.name, kBoneNameSize));
        if (bone.parent)
            std::printf(", \"parent\": %d}", static_cast<int>(bone.parent - mesh.bones));
        else
            std::printf(", \"parent\": null}");
    }
    std::printf("]");
}

void print_json(const std::vector<Mesh *> &meshes, const Options &options) {
    std::printf("{\"meshes\": [");
    for (size_t i = 0; i < meshes.size(); ++i) {
        Mesh &mesh = *meshes[i];
        std::printf("%s{\"name\": ", i ? ", " : "");
        if (mesh.name)
            print_json_text(mesh.name, std::strlen(mesh.name));
        else
            std::printf("null");
        std::printf(", \"vertex_count\": %d, \"triangle_count\": %d", mesh.vertex_count, mesh.triangle_count);
        std::printf(", \"has_positions\": %s, \"has_tex_coords\": %s, \"normals_from_file\": %s",
                    mesh.positions ? "true" : "false", mesh.tex_coords ? "true" : "false",
                    mesh.normals_from_file ? "true" : "false");
        std::printf(", \"has_node_header\": %s, \"node_id\": %d, \"parent\": ", mesh.node_header ? "true" : "false",
                    mesh.node_id);
        if (mesh.parent)
            std::printf("%d", index_of(meshes, mesh.parent));
        else
            std::printf("null");
        std::printf(", \"bone_count\": %d, \"bones_shared\": %s, ", mesh.bone_count,
                    mesh.bones_shared ? "true" : "false");
        print_json_bones(mesh);
        std::printf(", \"weight_count\": %d, \"has_weight_ranges\": %s", mesh.weight_count,
                    mesh.weight_ranges ? "true" : "false");
        if (options.normals && mesh.positions && mesh.normals) {
            std::printf(", \"normals\": [");
            for (int32_t v = 0; v < mesh.vertex_count; ++v) {
                if (v) std::printf(", ");
                print_vec3(load_vec3(mesh.normals[v]));
            }
            std::printf("]");
        }
        if (options.tangents && mesh.positions && compute_first_tangent_frames(mesh)) {
            std::printf(", \"tangent_frames\": [");
            for (int32_t v = 0; v < mesh.vertex_count; ++v) {
                const TangentFrame &frame = mesh.tangent_frames[v];
                std::printf("%s{\"count\": %d, \"tangent\": ", v ? ", " : "", frame.count);
                print_vec3(frame.tangent);
                std::printf(", \"binormal\": ");
                print_vec3(frame.binormal);
                std::printf(", \"normal\": ");
                print_vec3(frame.normal);
                std::printf("}");
            }
            std::printf("]");
        }
        std::printf("}");
    }
    std::printf("]}\n");
}

void print_readable_name(const char *text, size_t length) {
    std::putchar('"');
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c > 0x7E)
            std::printf("\\x%02x", c);
        else
            std::putchar(c);
    }
    std::putchar('"');
}

void print_readable(const std::vector<Mesh *> &meshes, const Options &options) {
    std::printf("%s: %zu mesh%s\n", options.path, meshes.size(), meshes.size() == 1 ? "" : "es");
    for (size_t i = 0; i < meshes.size(); ++i) {
        Mesh &mesh = *meshes[i];
        std::printf("mesh %zu ", i);
        if (mesh.name)
            print_readable_name(mesh.name, std::strlen(mesh.name));
        else
            std::printf("(no name)");
        std::printf(": %d vertices, %d triangles", mesh.vertex_count, mesh.triangle_count);
        if (!mesh.positions) std::printf(", no vertex list");
        if (mesh.tex_coords) std::printf(", texture coordinates");
        if (mesh.positions) std::printf(", normals %s", mesh.normals_from_file ? "from the file" : "computed");
        std::printf("\n");
        if (mesh.node_header || mesh.parent) {
            std::printf("  node id %d", mesh.node_id);
            if (mesh.parent) std::printf(", parent mesh %d", index_of(meshes, mesh.parent));
            std::printf("\n");
        }
        if (mesh.bones) {
            std::printf("  %d bones%s\n", mesh.bone_count, mesh.bones_shared ? " (shared with the mesh before)" : "");
            for (int32_t b = 0; b < mesh.bone_count; ++b) {
                const Bone &bone = mesh.bones[b];
                std::printf("    bone %d (index %d) ", b, bone.record.index);
                print_readable_name(bone.record.name, bounded_text_length(bone.record.name, kBoneNameSize));
                if (bone.parent) std::printf(", parent bone %d", static_cast<int>(bone.parent - mesh.bones));
                std::printf("\n");
            }
        }
        if (mesh.weights || mesh.weight_ranges)
            std::printf("  %d weights%s\n", mesh.weight_count, mesh.weight_ranges ? ", weight ranges" : "");
        if (options.normals && mesh.positions && mesh.normals)
            for (int32_t v = 0; v < mesh.vertex_count; ++v) {
                const PackedVec3 &n = mesh.normals[v];
                std::printf("  normal %d: %.9g %.9g %.9g\n", v, n.x, n.y, n.z);
            }
        if (options.tangents && mesh.positions && compute_first_tangent_frames(mesh))
            for (int32_t v = 0; v < mesh.vertex_count; ++v) {
                const TangentFrame &f = mesh.tangent_frames[v];
                std::printf("  frame %d: count %d, tangent %.9g %.9g %.9g, binormal %.9g %.9g %.9g, "
                            "normal %.9g %.9g %.9g\n",
                            v, f.count, f.tangent.x, f.tangent.y, f.tangent.z, f.binormal.x, f.binormal.y,
                            f.binormal.z, f.normal.x, f.normal.y, f.normal.z);
            }
    }
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    if (!parse_options(argc, argv, options)) {
        std::fprintf(stderr, "usage: model_info FILE [--json] [--normals] [--tangents]\n");
        return 2;
    }
    if (std::strlen(options.path) >= static_cast<size_t>(kModelPathSize)) {
        std::fprintf(stderr, "model_info: %s: path longer than %d characters\n", options.path, kModelPathSize - 1);
        return 1;
    }
    // The plug-in reads a model whole: a FIFO would hold that read for good, a huge file fill memory.
    struct stat status;
    if (stat(options.path, &status) != 0) {
        std::fprintf(stderr, "model_info: %s: %s\n", options.path, std::strerror(errno));
        return 1;
    }
    if (!S_ISREG(status.st_mode)) {
        std::fprintf(stderr, "model_info: %s: not a regular file\n", options.path);
        return 1;
    }
    if (status.st_size > kLargestModelFile) {
        std::fprintf(stderr, "model_info: %s: %lld bytes, more than the %lld this tool reads whole\n", options.path,
                     static_cast<long long>(status.st_size), static_cast<long long>(kLargestModelFile));
        return 1;
    }
    ModelHandle *handle = load_model(options.path);
    ModelFile *model = resolve_model_handle(handle);
    if (!model) {
        std::fprintf(stderr, "model_info: %s: cannot read the file\n", options.path);
        return 1;
    }
    std::vector<Mesh *> meshes;
    for (Mesh *mesh = model->meshes; mesh; mesh = mesh->next) meshes.push_back(mesh);
    if (options.json)
        print_json(meshes, options);
    else
        print_readable(meshes, options);
    release_all_models();
    return 0;
}
