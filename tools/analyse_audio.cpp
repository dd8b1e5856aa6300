// analyse_audio AUDIO STREAM|- [--fps N[/D]] [--start S] [--seconds S] [--summary FILE]
// Writes the spectrum stream of an audio file (one record of spectrum and waveform rows per video
// frame) and one JSON object of what the file holds: channels, sample rate, the file's length (and
// whether it was cut short of its header's, and how that was found), the frames.
//
// STREAM a path: the stream is written through STREAM.partial and renamed when whole; the JSON
// object is printed on stdout at the end.
// STREAM "-": the stream goes to stdout record by record as it is made, so a pipe's size bounds
// what is made ahead of the reader; memory is the same for a song of any length. A reader that
// goes away ends the tool quietly with status 1 (the summary stays: it still tells the truth).
// The JSON object then goes only to --summary. A terminal is refused.
// --summary FILE: the JSON object is written whole (through FILE.partial) before the stream's
// first byte, so a caller that has read the stream's header can read FILE and tell the frames to
// come before any is drawn.
// Exit status: 0 done, 1 the audio cannot be analysed or the stream not written (one line on
// stderr; nothing left under the names given), 2 a bad command line.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/audio_analysis.h"
#include "tools/json_text.h"

namespace {

const char kUsage[] =
    "usage: analyse_audio AUDIO STREAM|- [--fps N[/D]] [--start S] [--seconds S] [--summary FILE]\n"
    "  STREAM: the spectrum stream, written whole under that name; - sends it to stdout as it is made\n"
    "  --summary FILE: what the audio holds (JSON), written whole before the stream's first byte\n"
    "  (with a STREAM name, the JSON is also printed on stdout at the end)\n";

bool parse_seconds(const char *text, double *value) {
    char *end = nullptr;
    double v = std::strtod(text, &end);
    if (end == text || *end != 0 || !(v >= 0) || v > 1e7) return false;
    *value = v;
    return true;
}

bool parse_rate(const char *text, uint32_t *numerator, uint32_t *denominator) {
    char *end = nullptr;
    unsigned long n = std::strtoul(text, &end, 10), d = 1;
    if (end == text) return false;
    if (*end == '/') {
        const char *rest = end + 1;
        d = std::strtoul(rest, &end, 10);
        if (end == rest) return false;
    }
    if (*end != 0 || n == 0 || d == 0 || n > 1000000 || d > 1000000 || double(n) / d > 1000) return false;
    *numerator = uint32_t(n);
    *denominator = uint32_t(d);
    return true;
}

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

std::string summary_json(const AnalysisRequest &request, const AnalysisResult &result) {
    char head[400];
    std::snprintf(head, sizeof head,
                  "{\"file_channels\": %d, \"channel_count\": %d, \"sample_rate\": %d, "
                  "\"file_seconds\": %.6f, \"header_seconds\": %.6f, \"cut_short\": %s, \"cut_reason\": ",
                  result.file_channels, result.channel_count, result.sample_rate, result.file_seconds,
                  result.header_seconds, result.cut_short ? "true" : "false");
    char tail[100];
    std::snprintf(tail, sizeof tail, ", \"frames\": %u, \"fps\": \"%u/%u\"}\n", result.frames,
                  request.rate_numerator, request.rate_denominator);
    return head + json_text(result.cut_reason) + tail;
}

// A name the stream or summary can be renamed to: missing, or a regular file. Renaming over a
// device would replace it (/dev/null, as root).
bool renamable(const char *path) {
    struct stat status;
    if (stat(path, &status) != 0 || S_ISREG(status.st_mode)) return true;
    std::fprintf(stderr, "cannot write %s: not a regular file%s\n", path,
                 S_ISDIR(status.st_mode) ? "" : " (give - to send the stream to stdout)");
    return false;
}

// The whole summary under path, or nothing there.
bool write_summary(const char *path, const std::string &json) {
    const std::string temporary = std::string(path) + ".partial";
    FILE *out = std::fopen(temporary.c_str(), "wb");
    bool ok = out != nullptr && std::fwrite(json.data(), 1, json.size(), out) == json.size();
    if (out != nullptr && std::fclose(out) != 0) ok = false;
    if (ok && std::rename(temporary.c_str(), path) == 0) return true;
    std::fprintf(stderr, "cannot write %s: %s\n", path, std::strerror(errno));
    std::remove(temporary.c_str());
    return false;
}

}  // namespace

int main(int argc, char **argv) {
    AnalysisRequest request;
    const char *summary_path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = true;
        if (std::strcmp(arg, "--fps") == 0 && value) {
            ok = parse_rate(value, &request.rate_numerator, &request.rate_denominator);
        } else if (std::strcmp(arg, "--start") == 0 && value) {
            ok = parse_seconds(value, &request.start_seconds);
        } else if (std::strcmp(arg, "--seconds") == 0 && value) {
            ok = parse_seconds(value, &request.seconds) && request.seconds > 0;
        } else if (std::strcmp(arg, "--summary") == 0 && value) {
            summary_path = value;
        } else if (arg[0] == '-' && arg[1] != 0) {
            return usage();
        } else {
            if (!request.audio_path) request.audio_path = arg;
            else if (!request.stream_path) request.stream_path = arg;
            else return usage();
            continue;
        }
        if (!ok) {
            std::fprintf(stderr, "analyse_audio: bad value for %s: %s\n", arg, value);
            return 2;
        }
        ++i;
    }
    if (!request.audio_path || !request.stream_path) return usage();
    const bool to_stdout = std::strcmp(request.stream_path, "-") == 0;
    if (to_stdout && isatty(STDOUT_FILENO)) {
        std::fputs("analyse_audio: the stream is binary: send it to a pipe or a file, not a terminal\n", stderr);
        return 2;
    }
    if (summary_path && std::strcmp(summary_path, "-") == 0) {
        std::fputs("analyse_audio: --summary takes a file name\n", stderr);
        return 2;
    }

    if ((!to_stdout && !renamable(request.stream_path)) || (summary_path && !renamable(summary_path))) return 1;

    AudioAnalysis analysis;
    if (!audio_analysis_open(request, &analysis)) {
        std::fprintf(stderr, "%s\n", analysis.result.error.c_str());
        return 1;
    }
    AnalysisResult result = analysis.result;
    const std::string json = summary_json(request, result);
    if (summary_path && !write_summary(summary_path, json)) {
        audio_analysis_close(&analysis);
        return 1;
    }
    bool ok = true;
    bool reader_gone = false;
    if (to_stdout) {
        // A reader that goes away is an answer, not a fault: EPIPE, not a signal.
        std::signal(SIGPIPE, SIG_IGN);
        const int failure = audio_analysis_write(&analysis, stdout, true);
        reader_gone = failure == EPIPE;
        if (failure != 0 && !reader_gone)
            std::fprintf(stderr, "cannot write the stream to stdout: %s\n", std::strerror(failure));
        ok = failure == 0;
    } else {
        ok = audio_analysis_write_file(&analysis, request.stream_path, &result);
        if (!ok) std::fprintf(stderr, "%s\n", result.error.c_str());
    }
    if (ok && analysis.sound_ended_early)
        std::fprintf(stderr, "analyse_audio: %s: decoding stopped before the %.1f s it was found to hold; "
                             "the last frames are silence\n", request.audio_path, result.file_seconds);
    audio_analysis_close(&analysis);
    if (!ok) {
        if (summary_path && !reader_gone) std::remove(summary_path);  // still true when the reader left
        return 1;
    }
    if (!to_stdout) std::fputs(json.c_str(), stdout);
    return 0;
}
