// check-assets [DIR] [--options FILE]
// Reads an asset folder the way the plug-in's Init reads it and says, file by file, what the
// plug-in will make of it. Exit status: 0 when Init would succeed with this folder, 1 when it
// would fail (a required bitmap missing or refused, the fragment program missing or rejected),
// 2 for a usage error or when no GL context could be made to compile the program.
#include <sys/stat.h>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/bmp_reader.h"
#include "model/model_table.h"
#include "shell/file_io.h"
#include "tools/offscreen_gl.h"
#include "tools/tool_commands.h"
#include "tools/visible_text.h"

namespace {

constexpr const char kIntro[] = "Says, file by file, what the plug-in's Init makes of an asset folder.\n";
constexpr const char kInstalledFolder[] =
    "  DIR             the folder (default: the installed asset set, read with your options file,\n"
    "                  which is made with the plug-in's defaults when missing)\n";
constexpr const char kOptionsAndStatus[] =
    "  --options FILE  the options file (useropt.cfg) to read instead of the folder's own\n"
    "Exit status: 0 when Init would succeed, 1 when it would fail, 2 when the GL could not tell\n"
    "or the command line is wrong.\n";

bool init_fails = false;
bool cannot_tell = false;

void ok(const std::string &text) { std::printf("  ok    %s\n", text.c_str()); }
void note(const std::string &text) { std::printf("  note  %s\n", text.c_str()); }
void fail(const std::string &text) {
    std::printf("  FAIL  %s\n", text.c_str());
    init_fails = true;
}

std::string size_text(int width, int height) { return std::to_string(width) + "×" + std::to_string(height); }

bool exists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// A FIFO or a device under an asset's name would hold the read (and the plug-in's Init) for good:
// it is reported and left unread.
bool irregular(const std::string &path, const char *name, bool required) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return false;
    const std::string text = std::string(name) + " is not a regular file (a folder, FIFO or device); left unread";
    if (required)
        fail(text + ": Init cannot use it");
    else
        note(text);
    return true;
}

int power_of_two_above(int v) {
    if (v <= 0) return 0;
    int p = 1;
    while (p < v && p < (1 << 30)) p *= 2;
    return p;
}

struct Options {
    int32_t detailed_height = 0, alt_sphere = 0, mipmaps = 0;
};

// useropt.cfg: fourteen 32-bit fields; a short file sets only the fields it holds, the rest stay
// zero on a first start. named: a file of the user's own, else the folder's.
Options read_options(const std::string &dir, const char *named) {
    Options options;
    const std::string path = named ? named : dir + "/useropt.cfg";
    uint32_t length = 0;
    if (named)
        std::printf("useropt.cfg (the options, from %s)\n", visible_text(path).c_str());
    else
        std::printf("useropt.cfg (the options)\n");
    if (irregular(path, "useropt.cfg", false)) return options;
    uint8_t *bytes = file_read_whole(path.c_str(), &length);
    if (!bytes) {
        note(named ? "missing or unreadable: the plug-in's defaults stand in for it"
                   : "missing: harmless, Init uses the defaults and writes the file itself");
        return options;
    }
    uint8_t record[56] = {};
    std::memcpy(record, bytes, length < 56 ? length : 56);
    std::free(bytes);
    auto field = [&](int offset) {
        return int32_t(uint32_t(record[offset]) | uint32_t(record[offset + 1]) << 8 |
                       uint32_t(record[offset + 2]) << 16 | uint32_t(record[offset + 3]) << 24);
    };
    options.detailed_height = field(16);
    options.alt_sphere = field(20);
    options.mipmaps = field(24);
    if (length < 56)
        note("only " + std::to_string(length) + " of 56 bytes: the fields past the end keep their values (zero on a first start)");
    ok("detailed_height " + std::to_string(options.detailed_height) + ", alt_sphere " +
       std::to_string(options.alt_sphere) + ", mipmaps " + std::to_string(options.mipmaps));
    return options;
}

// The program text as the plug-in hands it to the GL: the file without its last byte, cut at the
// first zero byte.
void check_program(const std::string &dir) {
    const std::string path = dir + "/light_std.fp";
    std::printf("light_std.fp (the fragment program, required)\n");
    if (irregular(path, "light_std.fp", true)) return;
    uint32_t length = 0;
    uint8_t *bytes = file_read_whole(path.c_str(), &length);
    if (!bytes) {
        fail("missing or unreadable: Init stops with \"Unable to locate fragment program at '...light_std.fp'.\"");
        return;
    }
    std::string text(reinterpret_cast<char *>(bytes), length ? length - 1 : 0);
    if (length && bytes[length - 1] != '\n' && bytes[length - 1] != '\r')
        note("the file does not end with a line break, and the plug-in drops its last byte ('" +
             visible_text(std::string(1, char(bytes[length - 1]))) + "')");
    std::free(bytes);
    const size_t zero = text.find('\0');
    if (zero != std::string::npos) {
        note("a zero byte at offset " + std::to_string(zero) + " ends the program text there");
        text.resize(zero);
    }

    OffscreenGl gl;
    std::string error;
    if (!offscreen_gl_create(&gl, 16, 16, &error)) {
        std::printf("  ????  cannot tell whether the GL accepts it: %s\n", error.c_str());
        cannot_tell = true;
        return;
    }
    auto gen = reinterpret_cast<PFNGLGENPROGRAMSARBPROC>(offscreen_gl_proc_address("glGenProgramsARB"));
    auto bind = reinterpret_cast<PFNGLBINDPROGRAMARBPROC>(offscreen_gl_proc_address("glBindProgramARB"));
    auto upload = reinterpret_cast<PFNGLPROGRAMSTRINGARBPROC>(offscreen_gl_proc_address("glProgramStringARB"));
    if (!gen || !bind || !upload) {
        std::printf("  ????  cannot tell: this GL has no ARB fragment programs\n");
        cannot_tell = true;
        offscreen_gl_destroy(&gl);
        return;
    }
    GLuint id = 0;
    gen(1, &id);
    bind(GL_FRAGMENT_PROGRAM_ARB, id);
    upload(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB, GLsizei(text.size()), text.data());
    GLint position = 0;
    glGetIntegerv(GL_PROGRAM_ERROR_POSITION_ARB, &position);
    const char *driver_text = reinterpret_cast<const char *>(glGetString(GL_PROGRAM_ERROR_STRING_ARB));
    const std::string renderer = reinterpret_cast<const char *>(glGetString(GL_RENDERER));
    std::string message = driver_text ? driver_text : "";
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) message.pop_back();
    offscreen_gl_destroy(&gl);
    if (position == -1) {
        ok("compiled by " + renderer + " (" + std::to_string(text.size()) + " bytes of program text)");
        if (!message.empty()) note("the driver says: " + visible_text(message));
        return;
    }
    std::string where = "at byte " + std::to_string(position);
    if (position >= 0 && size_t(position) <= text.size()) {
        const size_t line_start = text.rfind('\n', position ? size_t(position) - 1 : 0);
        const size_t begin = line_start == std::string::npos || position == 0 ? 0 : line_start + 1;
        const size_t end = text.find('\n', begin);
        int line = 1;
        for (size_t i = 0; i < begin; ++i) line += text[i] == '\n';
        where += ", line " + std::to_string(line) + ": \"" +
                 visible_text(text.substr(begin, end == std::string::npos ? end : end - begin)) + "\"";
    }
    fail("rejected by " + renderer + " " + where + "; Init stops with \"Fragment program error: " +
         visible_text(message) + "\"");
}

struct Bitmap {
    bool accepted = false;
    int width = 0, height = 0;
};

// One bitmap read as asset loading reads it; required bitmaps fail Init when they fail here.
Bitmap check_bitmap(const std::string &dir, const char *name, bool read_now, const char *why_not) {
    const std::string path = dir + "/" + name;
    Bitmap result;
    auto report_failure = [&](const std::string &text) {
        if (read_now)
            fail(std::string(name) + " " + text + ": Init stops with \"Image load failed.\"");
        else
            note(std::string(name) + " " + text + ", which does not matter now (" + why_not + ")");
    };
    if (!exists(path)) {
        report_failure("is missing");
        return result;
    }
    if (irregular(path, name, read_now)) return result;
    if (!bmp_open(path.c_str())) {
        report_failure("cannot be opened");
        return result;
    }
    RgbaImage *image = bmp_read(0, 0);
    const std::string failure = image ? "" : bmp_last_failure();
    bmp_close();
    if (!image) {
        report_failure("is refused by the reader: " + failure);
        return result;
    }
    result = {true, image->width, image->height};
    std::free(image);
    std::string text = std::string(name) + " is accepted, " + size_text(result.width, result.height);
    if (!read_now) text += std::string(" (not read now: ") + why_not + ")";
    ok(text);
    if (result.width == 0 || result.height == 0) {
        note(std::string(name) + " has no pixels: its texture is empty");
    } else {
        const int w = power_of_two_above(result.width), h = power_of_two_above(result.height);
        if (w != result.width || h != result.height)
            note(std::string(name) + " is not a power of two on each side: it is padded to " + size_text(w, h) +
                 " with transparent black, so the picture covers only " + std::to_string(100 * result.width / w) +
                 "% across and " + std::to_string(100 * result.height / h) + "% down the sphere, and gets no mipmaps");
    }
    return result;
}

void check_images(const std::string &dir, const Options &options) {
    std::printf("Bitmaps (height, decal and normal map, required)\n");
    const bool detailed = options.detailed_height != 0;
    const char *height_name = detailed ? "height_d.bmp" : "height.bmp";
    const char *other_name = detailed ? "height.bmp" : "height_d.bmp";
    const char *other_reason = detailed ? "detailed_height is on" : "detailed_height is off";
    const Bitmap height = check_bitmap(dir, height_name, true, "");
    const Bitmap decal = check_bitmap(dir, "decal.bmp", true, "");
    const Bitmap normal = check_bitmap(dir, "normal.bmp", true, "");
    const Bitmap other = check_bitmap(dir, other_name, false, other_reason);
    if (height.accepted && normal.accepted) {
        if (height.width == normal.width && height.height == normal.height && height.width * height.height > 0)
            ok(std::string("normal.bmp takes ") + height_name + "'s red channel as its alpha (the height for the parallax)");
        else
            note(std::string(height_name) + " is " + size_text(height.width, height.height) + " but normal.bmp is " +
                 size_text(normal.width, normal.height) + ": the normal map keeps alpha 255");
    }
    if (other.accepted && normal.accepted &&
        (other.width != normal.width || other.height != normal.height || other.width * other.height <= 0))
        note(std::string(other_name) + " is " + size_text(other.width, other.height) + " but normal.bmp is " +
              size_text(normal.width, normal.height) + ": with " + (detailed ? "detailed_height off" : "detailed_height on") +
              " the normal map would keep alpha 255");
    if (decal.accepted && normal.accepted && (decal.width != normal.width || decal.height != normal.height))
        note("decal.bmp and normal.bmp differ in size; each still covers the whole sphere");
}

// A model as Init loads it: through the file cache, then parsed; missing is harmless.
void check_model(const std::string &dir, const char *name, bool read_now, const char *why_not) {
    const std::string path = dir + "/" + name;
    const std::string when = read_now ? "" : std::string(" (not read now: ") + why_not + ")";
    if (irregular(path, name, false)) return;
    ModelFile *model = nullptr;
    if (path.size() < size_t(kModelPathSize)) model = resolve_model_handle(load_model(path.c_str()));
    if (!model) {
        note(std::string(name) + " is missing or unreadable" + when +
             ": harmless, the sphere is then drawn as a flat textured square");
        return;
    }
    int meshes = 0, drawable = 0;
    std::string details;
    for (const Mesh *m = model->meshes; m; m = m->next) {
        ++meshes;
        const bool draws = m->positions && m->triangle_count > 0 && m->tex_coords;
        drawable += draws;
        details += std::string("\n          mesh \"") + visible_text(m->name ? m->name : "") + "\": " +
                   std::to_string(m->vertex_count) +
                   " vertices, " + std::to_string(m->triangle_count) + " triangles" +
                   (m->tex_coords ? ", texture coordinates" : ", no texture coordinates") +
                   (m->bones ? ", " + std::to_string(m->bone_count) + " bones" : "") +
                   (m->weight_ranges ? ", vertex weights" : "") + (draws ? ": drawn" : ": not drawn");
    }
    const std::string summary = std::string(name) + when + ": " + std::to_string(meshes) + (meshes == 1 ? " mesh" : " meshes");
    if (drawable > 0)
        ok(summary + ", " + std::to_string(drawable) + " drawable" + details);
    else
        note(summary + ", none drawable (each needs positions, triangles and texture coordinates): the sphere "
                       "shows nothing, though Init succeeds" + details);
}

void check_models(const std::string &dir, const Options &options) {
    std::printf("Sphere models (optional)\n");
    const bool alt = options.alt_sphere != 0;
    check_model(dir, alt ? "sphere2.qtl" : "sphere.qtl", true, "");
    check_model(dir, alt ? "sphere.qtl" : "sphere2.qtl", false, alt ? "alt_sphere is on" : "alt_sphere is off");
    release_all_models();
}

void check_offsets(const std::string &dir) {
    std::printf("modeloffsets.txt (optional)\n");
    if (irregular(dir + "/modeloffsets.txt", "modeloffsets.txt", false)) return;
    uint32_t length = 0;
    uint8_t *bytes = file_read_whole((dir + "/modeloffsets.txt").c_str(), &length);
    if (!bytes) {
        note("missing: harmless, the spheres are neither shifted nor turned");
        return;
    }
    const std::string text(reinterpret_cast<char *>(bytes), length);
    std::free(bytes);
    float v[6] = {0, 0, 0, 0, 0, 0};
    const int read = std::sscanf(text.c_str(), "(%f %f %f) (%f %f %f)", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    char line[200];
    std::snprintf(line, sizeof line, "shifts every sphere by (%g, %g, %g) and turns it by (%g, %g, %g) degrees", v[0], v[1],
                  v[2], v[3], v[4], v[5]);
    if (read == 6)
        ok(line);
    else
        note(std::string("only ") + std::to_string(read < 0 ? 0 : read) +
             " of the six numbers match \"(x y z) (a b c)\"; the others keep their values (zero on a first "
                                  "start): " + line);
}

}  // namespace

int check_assets_command(int argc, char **argv, const InstalledAssets *installed) {
    const char *tool = argv[0];
    const char *usage = installed ? "[DIR] [--options FILE]" : "DIR [--options FILE]";
    if (asks_for_help(argc, argv)) {
        std::printf("usage: %s %s\n%s%s%s", tool, usage, kIntro, installed ? kInstalledFolder : "", kOptionsAndStatus);
        return 0;
    }
    const char *named_dir = nullptr, *options_file = nullptr;
    bool usage_error = false;
    for (int i = 1; i < argc && !usage_error; ++i) {
        if (std::strcmp(argv[i], "--options") == 0 && i + 1 < argc && !options_file)
            options_file = argv[++i];
        else if (argv[i][0] == '-' || named_dir)
            usage_error = true;
        else
            named_dir = argv[i];
    }
    if (usage_error || (!named_dir && !installed)) {
        std::fprintf(stderr, "usage: %s %s\n", tool, usage);
        return 2;
    }
    std::string dir = named_dir ? named_dir : "", error, user_options;
    if (!named_dir) {
        // The installed set holds no options: the user's own file stands in for them.
        if (!installed->asset_folder(&dir, &error)) {
            std::fprintf(stderr, "%s: %s\n", tool, error.c_str());
            return 1;  // Init would find nothing either
        }
        if (!options_file && !installed->options_file(&user_options, &error)) {
            std::fprintf(stderr, "%s: %s\n", tool, error.c_str());
            return 2;
        }
        if (!options_file) options_file = user_options.c_str();
    }
    struct stat info;
    if (stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        std::printf("%s is not a folder: Init would fail at the fragment program\n", visible_text(dir).c_str());
        return 1;
    }
    std::printf("What the plug-in's Init makes of %s:\n", visible_text(dir).c_str());
    const Options options = read_options(dir, options_file);
    check_offsets(dir);
    check_program(dir);
    check_images(dir, options);
    check_models(dir, options);
    if (init_fails)
        std::printf("Init would fail with this folder.\n");
    else if (cannot_tell)
        std::printf("The bitmaps and models would do; whether the GL accepts the program could not be checked.\n");
    else
        std::printf("Init would succeed with this folder.\n");
    return init_fails ? 1 : cannot_tell ? 2 : 0;
}
