// bmp-info FILE [--json]
// Tells whether the plug-in's bitmap reader accepts a file, and what it decodes: its size and a
// SHA-256 of the RGBA pixels, top row first, as they go to the texture upload. Exit status 0
// whether accepted or not; 1 only when the file cannot be opened.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/bmp_reader.h"
#include "tools/json_text.h"
#include "tools/sha256.h"
#include "tools/tool_commands.h"

namespace {

constexpr const char kUsage[] = "FILE [--json]";
constexpr const char kHelp[] =
    "Tells whether the plug-in reads a bitmap and why not, and what it decodes.\n"
    "  --json  accepted, width, height and rgba_sha256 (of the decoded RGBA, top row first),\n"
    "          or accepted and reason\n";

// The header fields a person wants to see beside the verdict, read only where the file has them.
void print_header_facts(const char *path) {
    FILE *f = std::fopen(path, "rb");
    if (!f) return;
    uint8_t h[54];
    const size_t got = std::fread(h, 1, sizeof h, f);
    std::fclose(f);
    auto u16 = [&](size_t at) { return unsigned(h[at] | h[at + 1] << 8); };
    auto u32 = [&](size_t at) { return uint32_t(u16(at)) | uint32_t(u16(at + 2)) << 16; };
    if (got < 2) return;
    std::printf("  signature %s\n", h[0] == 'B' && h[1] == 'M' ? "BM" : "not BM");
    if (got < 54) {
        std::printf("  only %zu bytes: the headers need 54\n", got);
        return;
    }
    std::printf("  information header %u bytes, %u bits per pixel, compression %u, colours used %u\n", u32(14),
                u16(28), u32(30), u32(46));
    const int32_t width = int32_t(u32(18)), height = int32_t(u32(22));
    std::printf("  width %d, height %d%s\n", width, height, height < 0 ? " (rows stored top first)" : "");
}

}  // namespace

int bmp_info_command(int argc, char **argv) {
    const char *tool = argv[0];
    if (asks_for_help(argc, argv)) {
        std::printf("usage: %s %s\n%s", tool, kUsage, kHelp);
        return 0;
    }
    const char *path = nullptr;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else if (argv[i][0] == '-' || path)
            path = nullptr, i = argc;
        else
            path = argv[i];
    }
    if (!path) {
        std::fprintf(stderr, "usage: %s %s\n", tool, kUsage);
        return 2;
    }
    struct stat info;
    const char *cannot = stat(path, &info) != 0 ? std::strerror(errno)
                         : !S_ISREG(info.st_mode) ? "not a regular file"
                         : !bmp_open(path)        ? std::strerror(errno)
                                                  : nullptr;
    if (cannot) {
        std::fprintf(stderr, "%s: %s: %s\n", tool, path, cannot);
        return 1;
    }
    RgbaImage *image = bmp_read(0, 0);
    const std::string failure = image ? "" : bmp_last_failure();
    bmp_close();
    if (image) {
        const std::string hash =
            sha256_hex(image->pixels, size_t(image->width) * size_t(image->height) * 4);
        if (json)
            std::printf("{\"accepted\": true, \"width\": %d, \"height\": %d, \"rgba_sha256\": \"%s\"}\n", image->width,
                        image->height, hash.c_str());
        else
            std::printf("%s: accepted, %d×%d pixels\n  RGBA SHA-256 %s\n", path, image->width, image->height,
                        hash.c_str());
        std::free(image);
    } else if (json) {
        std::printf("{\"accepted\": false, \"reason\": %s}\n", json_text(failure).c_str());
    } else {
        std::printf("%s: refused: %s\n", path, failure.c_str());
    }
    if (!json) print_header_facts(path);
    return 0;
}
