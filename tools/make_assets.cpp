// make-assets DIR [--program FILE] [--preview PNG]
// Writes the shipped asset set into DIR (created when missing): the planet's height maps, normal
// map and decal, the two sphere models and the fragment program. The same bytes on every run and
// every machine. --preview also draws what the plug-in will make of them into a PNG.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/asset_pictures.h"
#include "tools/asset_preview.h"
#include "tools/bmp_writer.h"
#include "tools/shipped_program.h"
#include "tools/sphere_models.h"
#include "tools/tool_commands.h"

namespace {

constexpr const char kUsage[] = "DIR [--program FILE] [--preview PNG]";
constexpr const char kHelp[] =
    "Writes the shipped asset set into DIR (made when missing), the same bytes on every run.\n"
    "  --program FILE  the fragment program to put into the set (default: the one built in)\n"
    "  --preview PNG   also draw the spheres as the plug-in lights them\n";

// How far the relief stands out in the normal map: a height step from 0 to 1 is this many radii.
constexpr double kReliefStrength = 0.08;

struct Options {
    const char *dir = nullptr;
    const char *program = nullptr;  // the built-in one
    const char *preview = nullptr;
};

bool parse_options(int argc, char **argv, Options &options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--program") == 0 && i + 1 < argc)
            options.program = argv[++i];
        else if (std::strcmp(argv[i], "--preview") == 0 && i + 1 < argc)
            options.preview = argv[++i];
        else if (argv[i][0] == '-' || options.dir)
            return false;
        else
            options.dir = argv[i];
    }
    return options.dir != nullptr;
}

bool read_file(const char *path, std::vector<uint8_t> &bytes) {
    FILE *f = std::fopen(path, "rb");
    if (!f) return false;
    bytes.clear();
    uint8_t block[65536];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, f)) > 0) bytes.insert(bytes.end(), block, block + got);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// mkdir -p: the build asks for a folder inside a bin/ that may not exist yet.
bool make_folders(const std::string &path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        if (mkdir(path.substr(0, slash).c_str(), 0777) != 0 && errno != EEXIST) return false;
    return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

void show_progress(double share) {
    std::printf("\r  drawing the planet: %3d%%", int(share * 100 + 0.5));
    if (share >= 1) std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

int make_assets_command(int argc, char **argv) {
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
    // Built in, so that an installed program needs no source tree.
    std::vector<uint8_t> program(kShippedProgram, kShippedProgram + kShippedProgramSize);
    if (options.program && !read_file(options.program, program)) {
        std::fprintf(stderr, "%s: cannot read the fragment program %s: %s\n", tool, options.program, std::strerror(errno));
        return 1;
    }
    if (!make_folders(options.dir)) {
        std::fprintf(stderr, "%s: cannot create %s: %s\n", tool, options.dir, std::strerror(errno));
        return 1;
    }

    std::printf("Writing the asset set into %s\n", options.dir);
    PlanetMaps maps;
    make_planet_maps(maps, kPictureWidth, kPictureHeight, show_progress);
    const int w = maps.width, h = maps.height;
    const std::vector<uint8_t> heights = height_bytes(maps.height_field);
    const std::vector<uint8_t> detailed = height_bytes(maps.detailed_field);
    const std::vector<uint8_t> normals = normal_map_from_heights(maps.height_field, w, h, kReliefStrength);
    struct File {
        const char *name;
        std::vector<uint8_t> bytes;
        const char *what;
    };
    const File files[] = {
        {"height.bmp", bmp_encode(w, h, heights.data(), 1), "height map"},
        {"height_d.bmp", bmp_encode(w, h, detailed.data(), 1), "height map with finer relief"},
        {"normal.bmp", bmp_encode(w, h, normals.data(), 3), "normal map of height.bmp"},
        {"decal.bmp", bmp_encode(w, h, maps.decal.data(), 3), "colours"},
        {"sphere.qtl", make_sphere_model(w, h), "sphere"},
        {"sphere2.qtl", make_lobed_sphere_model(w, h), "lobed sphere with a skeleton"},
        {"light_std.fp", program, "fragment program"},
    };
    for (const File &file : files) {
        const std::string path = std::string(options.dir) + "/" + file.name;
        if (!write_file(path.c_str(), file.bytes)) {
            std::fprintf(stderr, "%s: cannot write %s: %s\n", tool, path.c_str(), std::strerror(errno));
            return 1;
        }
        std::printf("  %-13s %8zu bytes  %s\n", file.name, file.bytes.size(), file.what);
    }
    if (options.preview) {
        std::string error;
        if (!render_asset_preview(options.dir, options.preview, &error)) {
            std::fprintf(stderr, "%s: preview: %s\n", tool, error.c_str());
            return 1;
        }
        std::printf("Preview: %s\n", options.preview);
    }
    return 0;
}
