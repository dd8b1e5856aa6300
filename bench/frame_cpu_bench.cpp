// frame_cpu_bench ASSET_FOLDER [--json FILE] [--seconds S]
// The plug-in's own CPU time per frame, what a listener's real GPU leaves of a frame: Init, Render
// and Quit run natively over the fake platform with a GL that draws nothing and logs nothing but
// answers as a driver would (matrices included), on the shipped asset set. Steady frames only:
// the first frames, which load the further spheres' models, are not timed. Thread CPU time, the
// median of several rounds.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "settings/user_options.h"
#include "shell/lifecycle.h"
#include "shell/vis_module.h"
#include "tests/fakes/fake_platform.h"

namespace {

struct Case {
    const char *key;
    int32_t spheres;
    int32_t alt_sphere;
    double aim_ms;
};

const Case kCases[] = {{"1", 1, 0, 0.05}, {"16", 16, 0, 0.0}, {"256", 256, 0, 3.0}, {"256_alt", 256, 1, 6.0}};
const char *const kAssetFiles[] = {"decal.bmp", "height.bmp", "height_d.bmp", "normal.bmp",
                                   "sphere.qtl", "sphere2.qtl", "light_std.fp"};
constexpr uint32_t kFrameMs = 40;  // the deterministic clock of the llvmpipe figures
constexpr int kWarmUpFrames = 10;
constexpr int kRounds = 7;

double thread_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

bool write_options(const std::string &path, const Case &c) {
    UserOptions options = default_user_options();
    options.sphere_count = c.spheres;
    options.alt_sphere = c.alt_sphere;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(&options, sizeof options, 1, f) == 1;
    return std::fclose(f) == 0 && written;
}

// A folder holding the asset set (linked, not copied) and the case's options.
bool prepare_folder(const std::string &folder, const std::string &assets, const Case &c) {
    const std::string own = folder + "/vis_halcyonsphere_assets";
    if (mkdir(own.c_str(), 0755) != 0) return false;
    for (const char *name : kAssetFiles) {
        const std::string source = assets + "/" + name, target = own + "/" + name;
        if (access(source.c_str(), R_OK) != 0 || symlink(source.c_str(), target.c_str()) != 0) {
            std::fprintf(stderr, "frame_cpu_bench: cannot use %s\n", source.c_str());
            return false;
        }
    }
    return write_options(own + "/useropt.cfg", c);
}

// Milliseconds of CPU per steady frame, or a negative value after a message.
double frame_ms(const std::string &assets, const Case &c, double seconds) {
    char pattern[] = "/tmp/halcyon-frame-cpu-XXXXXX";
    if (!mkdtemp(pattern)) return -1;
    const std::string folder = pattern;
    double result = -1;
    if (prepare_folder(folder, assets, c) && chdir(folder.c_str()) == 0) {
        fake_reset();
        fake.module_file_name = "vis_halcyonsphere.dll";  // no folder: the assets lie beside the working folder
        fake.gl_quiet = true;
        VisModule module{};
        module.parent_window = reinterpret_cast<void *>(0x500);
        module.library_instance = reinterpret_cast<void *>(0x600);
        module.channel_count = 2;
        // The level of the llvmpipe figures' constant spectrum.
        std::memset(module.spectrum_data, 20, sizeof module.spectrum_data);
        uint32_t tick = 10000;
        if (plugin_init(&module) != 0) {
            std::fprintf(stderr, "frame_cpu_bench: Init failed: %s\n",
                         fake.boxes.empty() ? "no message" : fake.boxes[0].text.c_str());
        } else {
            auto frames = [&](int count) {
                for (int i = 0; i < count; ++i) {
                    fake.tick_count = tick;
                    tick += kFrameMs;
                    plugin_render(&module);
                }
                fake.calls.clear();  // the platform's own log, one line a frame
            };
            frames(kWarmUpFrames);
            // Enough frames per round for about seconds / kRounds each.
            const double start = thread_seconds();
            frames(kWarmUpFrames);
            const double per_frame = std::max((thread_seconds() - start) / kWarmUpFrames, 1e-7);
            const int count = std::max(3, int(seconds / kRounds / per_frame));
            std::vector<double> rounds;
            for (int r = 0; r < kRounds; ++r) {
                const double before = thread_seconds();
                frames(count);
                rounds.push_back((thread_seconds() - before) * 1000.0 / count);
            }
            std::sort(rounds.begin(), rounds.end());
            result = rounds[rounds.size() / 2];
            plugin_quit(&module);
        }
        fake_reset();
    }
    if (chdir("/") != 0) std::perror("chdir");
    const std::string command = "rm -rf '" + folder + "'";
    if (std::system(command.c_str()) != 0) std::perror("rm");
    return result;
}

}  // namespace

int main(int argc, char **argv) {
    const char *assets = nullptr, *json = nullptr;
    double seconds = 2.0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--json") && i + 1 < argc)
            json = argv[++i];
        else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (argv[i][0] != '-' && !assets)
            assets = argv[i];
        else
            assets = nullptr, i = argc;
    }
    char absolute[4096];
    if (!assets || !realpath(assets, absolute) || !(seconds > 0)) {
        std::fprintf(stderr, "usage: frame_cpu_bench ASSET_FOLDER [--json FILE] [--seconds S]\n");
        return 2;
    }
    std::printf("The plug-in's own CPU time per frame (ms, one core, a GL that draws nothing):\n");
    std::string figures;
    for (const Case &c : kCases) {
        const double ms = frame_ms(absolute, c, seconds);
        if (ms < 0) return 1;
        std::printf("  %3d sphere%s%-18s %8.4f", c.spheres, c.spheres == 1 ? " " : "s",
                    c.alt_sphere ? " (skinned sphere2)" : "", ms);
        if (c.aim_ms > 0) std::printf("   (aim: at most %g)", c.aim_ms);
        std::printf("\n");
        char entry[64];
        std::snprintf(entry, sizeof entry, "%s\"%s\": %.4f", figures.empty() ? "" : ", ", c.key, ms);
        figures += entry;
    }
    if (json) {
        FILE *f = std::fopen(json, "w");
        if (!f || std::fprintf(f, "{%s}\n", figures.c_str()) < 0 || std::fclose(f) != 0) {
            std::fprintf(stderr, "frame_cpu_bench: cannot write %s\n", json);
            return 1;
        }
    }
    return 0;
}
