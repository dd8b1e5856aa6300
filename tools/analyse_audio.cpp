// analyse_audio AUDIO STREAM [--fps N[/D]] [--start S] [--seconds S]
// Writes the spectrum stream of an audio file (one pair of spectrum rows per video frame) and
// prints one JSON object: channels, sample rate, the file's length (and whether it was cut short
// of its header's), the frames written.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/audio_analysis.h"
#include "tools/json_text.h"

namespace {

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
    std::fputs("usage: analyse_audio AUDIO STREAM [--fps N[/D]] [--start S] [--seconds S]\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    AnalysisRequest request;
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
        } else if (arg[0] == '-') {
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
    AnalysisResult result;
    if (!analyse_audio_file(request, &result)) {
        std::fprintf(stderr, "%s\n", result.error.c_str());
        return 1;
    }
    std::printf("{\"file_channels\": %d, \"channel_count\": %d, \"sample_rate\": %d, "
                "\"file_seconds\": %.6f, \"header_seconds\": %.6f, \"cut_short\": %s, \"cut_reason\": ",
                result.file_channels, result.channel_count, result.sample_rate, result.file_seconds,
                result.header_seconds, result.cut_short ? "true" : "false");
    std::fputs(json_text(result.cut_reason).c_str(), stdout);
    std::printf(", \"frames\": %u, \"fps\": \"%u/%u\"}\n", result.frames, request.rate_numerator,
                request.rate_denominator);
    return 0;
}
