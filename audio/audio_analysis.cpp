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

// Signed 8-bit samples, as a player hands them: -128..127 stored in unsigned bytes; a NaN from a
// damaged float file reads as silence.
void waveform_row(const float *samples, uint8_t row[kStreamBins]) {
    for (int i = 0; i < kStreamBins; ++i) {
        const float scaled = samples[i] * 128.0f;
        long value = 0;
        if (scaled >= 127.0f) value = 127;
        else if (scaled <= -128.0f) value = -128;
        else if (scaled == scaled) value = std::lround(scaled);
        row[i] = static_cast<uint8_t>(static_cast<int8_t>(value));
    }
}

uint32_t milliseconds(double seconds) {
    return static_cast<uint32_t>(std::min(std::llround(seconds * 1000), 0xFFFFFFFFLL));
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
        // One read serves both: the transform's samples and the 576 waveform samples, each centred
        // on the frame's time (at low sample rates the waveform reaches wider than the transform).
        const int span = std::max(size, kStreamBins);
        const int spectrum_offset = span / 2 - size / 2;
        const int waveform_offset = span / 2 - kStreamBins / 2;
        SampleCursor cursor;
        cursor.file = file;
        cursor.file_channels = info.channels;
        // Start reading just before the first window; a file that cannot seek is read from its start.
        const long long first_centre = std::llround((request.start_seconds + 0.5 / rate) * info.samplerate);
        const long long begin = std::max(0LL, first_centre - span);
        if (begin > 0 && sf_seek(file, begin, SEEK_SET) == begin) cursor.kept_start = begin;

        out = std::fopen(temporary.c_str(), "wb");
        if (out == nullptr) {
            result->error = describe("cannot write", temporary.c_str(), nullptr);
            break;
        }
        SpectrumStream fields;
        fields.channel_count = uint32_t(result->channel_count);
        fields.rate_numerator = request.rate_numerator;
        fields.rate_denominator = request.rate_denominator;
        fields.frame_count = result->frames;
        fields.start_ms = milliseconds(request.start_seconds);
        fields.length_ms = milliseconds(result->file_seconds);
        uint8_t header[kStreamHeaderSize];
        spectrum_stream_header(fields, header);
        bool written = std::fwrite(header, sizeof header, 1, out) == 1;
        std::vector<float> samples[2] = {std::vector<float>(span), std::vector<float>(span)};
        float *windows[2] = {samples[0].data(), samples[1].data()};
        uint8_t record[4][kStreamBins];  // spectrum rows, then waveform rows
        bool decoded = true;
        for (uint32_t n = 0; n < result->frames && written && decoded; ++n) {
            // The middle of the frame's time on screen.
            const long long centre =
                std::llround((request.start_seconds + (n + 0.5) / rate) * info.samplerate);
            decoded = cursor_window(&cursor, centre - span / 2, span, windows);
            for (int c = 0; c < 2; ++c) {
                const int from = result->channel_count == 2 ? c : 0;  // mono: the second row repeats the first
                spectrum_analyser_row(&analyser, windows[from] + spectrum_offset, record[c]);
                waveform_row(windows[from] + waveform_offset, record[2 + c]);
            }
            written = std::fwrite(record, sizeof record, 1, out) == 1;
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
