// halcyonsphere demo: the demo's music made in memory (no download, the same every time) and
// rendered with the plug-in, as render does: demo.mp4 in the current folder, or --out.
#include <sndfile.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "audio/demo_music.h"
#include "native/command_line.h"
#include "native/native_commands.h"
#include "native/render_checks.h"

namespace {

const char kDemoUsage[] =
    "usage: halcyonsphere demo [options]\n"
    "A music video made with the plug-in from music it synthesizes: an intro of pads and hi-hats on\n"
    "the left, a groove, a break on the right and a drop where the lead sweeps from side to side.\n"
    "  --out FILE|DIR/  where it goes (default demo.mp4 in the current folder)\n"
    "  --seconds S      the music's length, up to 600 (default 20)\n"
    "  --size WxH       default 640x360, at 30 frames a second\n"
    "and every other option of 'halcyonsphere render'.\n";

int fail(const std::string &text, int status) {
    std::fprintf(stderr, "halcyonsphere demo: %s\n", text.c_str());
    return status;
}

}  // namespace

int demo_command(int argc, char **argv) {
    double seconds = 20;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            std::fputs(kDemoUsage, stdout);
            return 0;
        }
        if (word == "--") break;
        std::string value;
        if (word == "--seconds" && i + 1 < argc) value = argv[i + 1];
        else if (word.compare(0, 10, "--seconds=") == 0) value = word.substr(10);
        else continue;
        std::string error;
        if (!parse_seconds_value(value, "length", false, &seconds, &error) || seconds > 600)
            return fail(error.empty() ? "bad length '" + value + "': the demo's music lasts up to 600 seconds" : error, 2);
    }
    // The music in an unnamed file in memory, which ffmpeg reads for the sound through this
    // process's file table: nothing to remove however the run ends.
    const int music = memfd_create("demo-music.wav", 0);
    if (music < 0) return fail("cannot make room for the music in memory", 1);
    const int rate = 44100;
    const std::vector<float> samples = demo_music_render(rate, seconds);
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open_fd(music, SFM_WRITE, &info, 0);
    const sf_count_t frames = sf_count_t(samples.size() / 2);
    const bool written = file && sf_writef_float(file, samples.data(), frames) == frames;
    if (file) sf_close(file);
    if (!written) return fail("cannot write the music in memory", 1);
    const std::string path = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(music);
    std::vector<std::string> words = {argv[0], path, "--size", "640x360", "--fps", "30", "--out", "demo.mp4"};
    for (int i = 1; i < argc; ++i) words.push_back(argv[i]);
    std::vector<char *> render_argv;
    for (std::string &word : words) render_argv.push_back(&word[0]);
    render_argv.push_back(nullptr);
    return render_command_labelled(int(words.size()), render_argv.data(), "the demo's music");
}
