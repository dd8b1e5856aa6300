// make_demo_music OUT.wav [--seconds S]: the demo's music (20 seconds by default) as a 16-bit
// stereo WAV file at 44.1 kHz, written through a temporary name.
#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/demo_music.h"

int main(int argc, char **argv) {
    const char *path = nullptr;
    double seconds = 20;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            char *end = nullptr;
            seconds = std::strtod(argv[++i], &end);
            if (*end != 0 || !(seconds > 0 && seconds <= 600)) path = nullptr, i = argc;
        } else if (argv[i][0] != '-' && path == nullptr) {
            path = argv[i];
        } else {
            path = nullptr;
            break;
        }
    }
    if (path == nullptr) {
        std::fputs("usage: make_demo_music OUT.wav [--seconds S (up to 600)]\n", stderr);
        return 2;
    }
    const int rate = 44100;
    std::vector<float> samples = demo_music_render(rate, seconds);
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const std::string temporary = std::string(path) + ".partial";
    SNDFILE *file = sf_open(temporary.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "cannot write %s: %s\n", temporary.c_str(), sf_strerror(nullptr));
        return 1;
    }
    const sf_count_t frames = sf_count_t(samples.size() / 2);
    const bool written = sf_writef_float(file, samples.data(), frames) == frames;
    if (sf_close(file) != 0 || !written || std::rename(temporary.c_str(), path) != 0) {
        std::remove(temporary.c_str());
        std::fprintf(stderr, "cannot write %s\n", path);
        return 1;
    }
    return 0;
}
