// model-info FILE [--json] [--normals] [--tangents]
// Loads a model file as the plug-in does and prints what it holds: readable text by default,
// or one JSON object whose shape other tools and checks rely on.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "model/model_table.h"
#include "model/skeletal_pose.h"
#include "model/tangent_frames.h"
#include "model/text_compare.h"
#include "tools/tool_commands.h"

namespace {

constexpr const char kUsage[] = "FILE [--json] [--normals] [--tangents]";
constexpr const char kHelp[] =
    "Loads a model file as the plug-in does and tells what it holds.\n"
    "  --json      one JSON object instead of text, for other tools\n"
    "  --normals   each vertex's normal too\n"
    "  --tangents  each vertex's tangent frame in the loaded pose, as the light pass builds it\n";

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

// Where each mesh stands in the list, and which mesh first holds each bone array. Meshes share
// arrays (one file can hand 65,536 bones to thousands of meshes), so an array is described once,
// at the mesh that holds it first, and the others name that mesh: the description stays within a
// small multiple of the file.
struct MeshList {
    std::vector<Mesh *> meshes;
    std::unordered_map<const Mesh *, int> index;
    std::unordered_map<const Bone *, int> bones_holder;

    explicit MeshList(Mesh *first) {
        for (Mesh *mesh = first; mesh; mesh = mesh->next) {
            const int i = static_cast<int>(meshes.size());
            meshes.push_back(mesh);
            index.emplace(mesh, i);
            if (mesh->bones) bones_holder.emplace(mesh->bones, i);
        }
    }
    int index_of(const Mesh *mesh) const {
        const auto found = index.find(mesh);
        return found == index.end() ? -1 : found->second;
    }
    // The earlier mesh whose bone array this mesh shares, or -1.
    int shares_bones_of(size_t i) const {
        if (!meshes[i]->bones) return -1;
        const int holder = bones_holder.at(meshes[i]->bones);
        return holder == static_cast<int>(i) ? -1 : holder;
    }
};

// The tangent frames of the loaded pose, as the first light pass builds them; false when the mesh
// lacks what they are built from.
bool compute_first_tangent_frames(const Mesh &mesh, std::vector<TangentFrame> &frames) {
    if (!mesh_can_have_frames(mesh)) return false;
    frames.assign(size_t(mesh.vertex_count), TangentFrame{});
    compute_mesh_tangent_frames(mesh, frames.data());
    return true;
}

// A slot that no bone record filled keeps the zero matrix it was made with; a record sets the identity.
bool slot_without_record(const Bone &bone) {
    for (float component : bone.local.m)
        if (component != 0.0f) return false;
    return true;
}

void print_json_bones(const Mesh &mesh, bool described_elsewhere) {
    std::printf("\"bones\": [");
    for (int32_t b = 0; mesh.bones && !described_elsewhere && b < mesh.bone_count; ++b) {
        const Bone &bone = mesh.bones[b];
        if (b) std::printf(", ");
        if (slot_without_record(bone)) {
            std::printf("null");  // position stays the slot, which parents refer to
            continue;
        }
        std::printf("{\"index\": %d, \"name\": ", bone.record.index);
        print_json_text(bone.record.name, bounded_text_length(bone.record.name, kBoneNameSize));
        if (bone.parent)
            std::printf(", \"parent\": %d}", static_cast<int>(bone.parent - mesh.bones));
        else
            std::printf(", \"parent\": null}");
    }
    std::printf("]");
}

void print_json(const MeshList &list, const Options &options) {
    const std::vector<Mesh *> &meshes = list.meshes;
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
            std::printf("%d", list.index_of(mesh.parent));
        else
            std::printf("null");
        std::printf(", \"bone_count\": %d, \"bones_shared\": %s, \"bones_of_mesh\": ", mesh.bone_count,
                    mesh.bones_shared ? "true" : "false");
        const int holder = list.shares_bones_of(i);
        if (holder >= 0)
            std::printf("%d, ", holder);
        else
            std::printf("null, ");
        print_json_bones(mesh, holder >= 0);
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
        std::vector<TangentFrame> frames;
        if (options.tangents && mesh.positions && compute_first_tangent_frames(mesh, frames)) {
            std::printf(", \"tangent_frames\": [");
            for (int32_t v = 0; v < mesh.vertex_count; ++v) {
                const TangentFrame &frame = frames[size_t(v)];
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

void print_readable(const MeshList &list, const Options &options) {
    const std::vector<Mesh *> &meshes = list.meshes;
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
            if (mesh.parent) std::printf(", parent mesh %d", list.index_of(mesh.parent));
            std::printf("\n");
        }
        const int holder = list.shares_bones_of(i);
        if (holder >= 0) {
            std::printf("  %d bones, those of mesh %d\n", mesh.bone_count, holder);
        } else if (mesh.bones) {
            std::printf("  %d bones\n", mesh.bone_count);
            for (int32_t b = 0; b < mesh.bone_count; ++b) {
                const Bone &bone = mesh.bones[b];
                if (slot_without_record(bone)) {
                    // A bone count alone makes thousands of these: one line for each run.
                    int32_t last = b;
                    while (last + 1 < mesh.bone_count && slot_without_record(mesh.bones[last + 1])) ++last;
                    if (last == b)
                        std::printf("    bone %d: no record\n", b);
                    else
                        std::printf("    bones %d to %d: no record\n", b, last);
                    b = last;
                    continue;
                }
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
        std::vector<TangentFrame> frames;
        if (options.tangents && mesh.positions && compute_first_tangent_frames(mesh, frames))
            for (int32_t v = 0; v < mesh.vertex_count; ++v) {
                const TangentFrame &f = frames[size_t(v)];
                std::printf("  frame %d: count %d, tangent %.9g %.9g %.9g, binormal %.9g %.9g %.9g, "
                            "normal %.9g %.9g %.9g\n",
                            v, f.count, f.tangent.x, f.tangent.y, f.tangent.z, f.binormal.x, f.binormal.y,
                            f.binormal.z, f.normal.x, f.normal.y, f.normal.z);
            }
    }
}

}  // namespace

int model_info_command(int argc, char **argv) {
    const char *tool = argv[0];
    if (asks_for_help(argc, argv)) {
        std::printf("usage: %s %s\n%s", tool, kUsage, kHelp);
        return 0;
    }
    Options options;
    if (!parse_options(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s %s\n", tool, kUsage);
        return 2;
    }
    if (std::strlen(options.path) >= static_cast<size_t>(kModelPathSize)) {
        std::fprintf(stderr, "%s: %s: path longer than %d characters\n", tool, options.path, kModelPathSize - 1);
        return 1;
    }
    // The plug-in reads a model whole: a FIFO would hold that read for good, a huge file fill memory.
    struct stat status;
    if (stat(options.path, &status) != 0) {
        std::fprintf(stderr, "%s: %s: %s\n", tool, options.path, std::strerror(errno));
        return 1;
    }
    if (!S_ISREG(status.st_mode)) {
        std::fprintf(stderr, "%s: %s: not a regular file\n", tool, options.path);
        return 1;
    }
    if (status.st_size > kLargestModelFile) {
        std::fprintf(stderr, "%s: %s: %lld bytes, more than the %lld this tool reads whole\n", tool, options.path,
                     static_cast<long long>(status.st_size), static_cast<long long>(kLargestModelFile));
        return 1;
    }
    ModelHandle *handle = load_model(options.path);
    ModelFile *model = resolve_model_handle(handle);
    if (!model) {
        std::fprintf(stderr, "%s: %s: cannot read the file\n", tool, options.path);
        return 1;
    }
    const MeshList list(model->meshes);
    if (options.json)
        print_json(list, options);
    else
        print_readable(list, options);
    release_all_models();
    return 0;
}
