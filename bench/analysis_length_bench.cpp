// analysis_length_bench ANALYSE_AUDIO: what the analysis of a 3-minute and of a 6-hour song costs,
// streamed to a pipe as the players read it: the time to its first record, the whole run, and the
// tool's peak memory (which should not grow with the song). The songs are WAV files of silence
// with holes for their samples, so that 6 hours take no disk; decoding and transforms cost the same.
#include <sndfile.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/spectrum_stream.h"

extern char **environ;

namespace {

bool write_sparse_wav(const std::string &path, double seconds) {
    SF_INFO info = {};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    const sf_count_t last = sf_count_t(seconds * info.samplerate) - 1;
    const short frame[2] = {0, 0};
    const bool ok = sf_seek(file, last, SEEK_SET) == last && sf_writef_short(file, frame, 1) == 1;
    sf_close(file);
    return ok;
}

bool measure(const char *tool, const std::string &audio, const char *label) {
    int ends[2];
    if (pipe(ends) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, ends[0]);
    std::vector<std::string> args = {tool, audio, "-"};
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    const int spawned = posix_spawn(&pid, tool, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    if (spawned != 0) {
        close(ends[0]);
        return false;
    }
    std::FILE *out = fdopen(ends[0], "rb");
    SpectrumStreamReader reader;
    double first = -1;
    uint32_t rows = 0;
    if (spectrum_stream_open_file(out, &reader)) {
        for (uint32_t row = 0; spectrum_stream_record(&reader, row) && row < reader.rows_read; ++row) {
            if (row == 0) first = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            rows = row + 1;
        }
    }
    std::fclose(out);
    int status = 0;
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    const double whole = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || reader.end != StreamEnd::complete) {
        std::fprintf(stderr, "analysis_length_bench: %s failed on %s\n", tool, audio.c_str());
        return false;
    }
    std::printf("  %-6s first record after %.3f s, %u frames in %.1f s, peak memory %.1f MB\n", label, first, rows,
                whole, usage.ru_maxrss / 1024.0);
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fputs("usage: analysis_length_bench ANALYSE_AUDIO\n", stderr);
        return 2;
    }
    const char *tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/halcyon-analysis-bench-XXXXXX";
    if (mkdtemp(&folder[0]) == nullptr) {
        std::perror("analysis_length_bench: mkdtemp");
        return 1;
    }
    const struct {
        const char *label;
        double seconds;
    } songs[] = {{"3 min:", 180}, {"6 h:", 6 * 3600}};
    std::puts("The analysis over a song's length (analyse_audio AUDIO -, read from a pipe as it comes; no disk):");
    bool ok = true;
    for (const auto &song : songs) {
        const std::string audio = folder + "/song.wav";
        ok = ok && write_sparse_wav(audio, song.seconds) && measure(argv[1], audio, song.label);
        std::remove(audio.c_str());
    }
    rmdir(folder.c_str());
    return ok ? 0 : 1;
}
