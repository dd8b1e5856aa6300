#include "audio/audio_analysis.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "audio/spectrum_analyser.h"
#include "audio/spectrum_stream.h"

namespace {

// Reads a file forward and hands out windows of its first two channels; samples before the start
// or past the end are silence. Windows must not move backwards.
struct SampleCursor {
    SNDFILE *file = nullptr;
    int file_channels = 0;
    std::vector<float> kept[2];  // samples kept_start, kept_start + 1, ...
    long long kept_start = 0;
    std::vector<float> block;
    bool ended = false;
};

bool cursor_fill(SampleCursor *cursor, long long until) {
    const int frames_per_block = 4096;
    cursor->block.resize(size_t(frames_per_block) * cursor->file_channels);
    while (!cursor->ended && cursor->kept_start + (long long)cursor->kept[0].size() < until) {
        sf_count_t got = sf_readf_float(cursor->file, cursor->block.data(), frames_per_block);
        if (got <= 0) {
            cursor->ended = true;
            return sf_error(cursor->file) == SF_ERR_NO_ERROR;
        }
        for (sf_count_t i = 0; i < got; ++i) {
            const float *frame = cursor->block.data() + i * cursor->file_channels;
            cursor->kept[0].push_back(frame[0]);
            cursor->kept[1].push_back(frame[cursor->file_channels > 1 ? 1 : 0]);
        }
    }
    return true;
}

bool cursor_window(SampleCursor *cursor, long long first, int count, float *out[2]) {
    if (!cursor_fill(cursor, first + count)) return false;
    // What lies before this window is never asked for again.
    const long long drop = std::min<long long>(first - cursor->kept_start, cursor->kept[0].size());
    if (drop > 0) {
        for (auto &samples : cursor->kept) samples.erase(samples.begin(), samples.begin() + drop);
        cursor->kept_start += drop;
    }
    const long long kept = cursor->kept[0].size();
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < count; ++i) {
            const long long at = first + i - cursor->kept_start;
            out[c][i] = at >= 0 && at < kept ? cursor->kept[c][at] : 0.0f;
        }
    }
    return true;
}

std::string describe(const char *what, const char *path, const char *why) {
    std::string text = std::string(what) + " " + path;
    if (why && *why) text += std::string(": ") + why;
    return text;
}

}  // namespace

bool analyse_audio_file(const AnalysisRequest &request, AnalysisResult *result) {
    *result = AnalysisResult();
    SF_INFO info = {};
    SNDFILE *file = sf_open(request.audio_path, SFM_READ, &info);
    if (file == nullptr) {
        result->error = describe("cannot read", request.audio_path, sf_strerror(nullptr));
        return false;
    }
    result->file_channels = info.channels;
    result->channel_count = info.channels == 1 ? 1 : 2;
    result->sample_rate = info.samplerate;
    const double rate = double(request.rate_numerator) / request.rate_denominator;
    SpectrumAnalyser analyser;
    bool ok = false;
    FILE *out = nullptr;
    std::string temporary = std::string(request.stream_path) + ".partial";
    do {
        if (info.channels < 1 || info.frames <= 0 || info.frames == SF_COUNT_MAX) {
            result->error = describe("cannot tell the length of", request.audio_path, nullptr);
            break;
        }
        if (!spectrum_analyser_init(&analyser, info.samplerate)) {
            result->error = describe("unusable sample rate in", request.audio_path, nullptr);
            break;
        }
        result->file_seconds = double(info.frames) / info.samplerate;
        const double available = result->file_seconds - request.start_seconds;
        const double seconds = request.seconds < 0 ? available : std::min(request.seconds, available);
        const double frames = std::floor(seconds * rate + 0.5);
        if (!(frames >= 1)) {
            result->error = request.start_seconds > 0
                                ? describe("the start lies at or past the end of", request.audio_path, nullptr)
                                : describe("too short for one frame:", request.audio_path, nullptr);
            break;
        }
        if (frames > 100000000) {
            result->error = describe("too long:", request.audio_path, nullptr);
            break;
        }
        result->frames = static_cast<uint32_t>(frames);

        const int size = analyser.transform_size;
        SampleCursor cursor;
        cursor.file = file;
        cursor.file_channels = info.channels;
        // Start reading just before the first window; a file that cannot seek is read from its start.
        const long long first_centre = std::llround((request.start_seconds + 0.5 / rate) * info.samplerate);
        const long long begin = std::max(0LL, first_centre - size);
        if (begin > 0 && sf_seek(file, begin, SEEK_SET) == begin) cursor.kept_start = begin;

        out = std::fopen(temporary.c_str(), "wb");
        if (out == nullptr) {
            result->error = describe("cannot write", temporary.c_str(), nullptr);
            break;
        }
        uint8_t header[kStreamHeaderSize];
        spectrum_stream_header(result->channel_count, request.rate_numerator, request.rate_denominator,
                               result->frames, header);
        bool written = std::fwrite(header, sizeof header, 1, out) == 1;
        std::vector<float> samples[2] = {std::vector<float>(size), std::vector<float>(size)};
        float *windows[2] = {samples[0].data(), samples[1].data()};
        uint8_t rows[2][kStreamBins];
        bool decoded = true;
        for (uint32_t n = 0; n < result->frames && written && decoded; ++n) {
            // The middle of the frame's time on screen.
            const long long centre =
                std::llround((request.start_seconds + (n + 0.5) / rate) * info.samplerate);
            decoded = cursor_window(&cursor, centre - size / 2, size, windows);
            spectrum_analyser_row(&analyser, windows[0], rows[0]);
            if (result->channel_count == 2)
                spectrum_analyser_row(&analyser, windows[1], rows[1]);
            else
                std::copy(rows[0], rows[0] + kStreamBins, rows[1]);
            written = std::fwrite(rows, sizeof rows, 1, out) == 1;
        }
        if (!decoded) {
            result->error = describe("cannot decode", request.audio_path, sf_strerror(file));
            break;
        }
        if (std::fclose(out) != 0 || !written) {
            out = nullptr;
            result->error = describe("cannot write", temporary.c_str(), nullptr);
            break;
        }
        out = nullptr;
        if (std::rename(temporary.c_str(), request.stream_path) != 0) {
            result->error = describe("cannot write", request.stream_path, nullptr);
            break;
        }
        ok = true;
    } while (false);
    if (out != nullptr) std::fclose(out);
    if (!ok) std::remove(temporary.c_str());
    spectrum_analyser_free(&analyser);
    sf_close(file);
    return ok;
}
