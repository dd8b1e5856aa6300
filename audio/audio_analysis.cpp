#include "audio/audio_analysis.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/spectrum_analyser.h"
#include "audio/spectrum_stream.h"

namespace {

// Reads a file forward and hands out windows of its first two channels; samples before the start
// or past the end are silence. Windows must not move backwards. The end is where the decoder stops
// giving samples, which for a cut-short file lies before the end its header tells.
struct SampleCursor {
    SNDFILE *file = nullptr;
    int file_channels = 0;
    std::vector<float> kept[2];  // samples kept_start, kept_start + 1, ...
    long long kept_start = 0;
    std::vector<float> block;
    bool ended = false;
    std::string decode_error;  // why the decoder stopped, when it stopped with an error
    long long end() const { return kept_start + static_cast<long long>(kept[0].size()); }
};

void cursor_fill(SampleCursor *cursor, long long until) {
    const int frames_per_block = 4096;
    cursor->block.resize(size_t(frames_per_block) * cursor->file_channels);
    while (!cursor->ended && cursor->end() < until) {
        sf_count_t got = sf_readf_float(cursor->file, cursor->block.data(), frames_per_block);
        if (got <= 0) {
            cursor->ended = true;
            if (sf_error(cursor->file) != SF_ERR_NO_ERROR) cursor->decode_error = sf_strerror(cursor->file);
            return;
        }
        for (sf_count_t i = 0; i < got; ++i) {
            const float *frame = cursor->block.data() + i * cursor->file_channels;
            cursor->kept[0].push_back(frame[0]);
            cursor->kept[1].push_back(frame[cursor->file_channels > 1 ? 1 : 0]);
        }
    }
}

void cursor_window(SampleCursor *cursor, long long first, int count, float *out[2]) {
    cursor_fill(cursor, first + count);
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

// Frames whose middle lies within seconds of sound from the start.
double frames_within(double seconds, double rate) { return std::floor(seconds * rate + 0.5); }

std::string describe(const char *what, const char *path, const char *why) {
    std::string text = std::string(what) + " " + path;
    if (why && *why) text += std::string(": ") + why;
    return text;
}

}  // namespace

bool analyse_audio_file(const AnalysisRequest &request, AnalysisResult *result) {
    *result = AnalysisResult();
    struct stat status;
    if (stat(request.audio_path, &status) != 0) {
        result->error = describe("cannot read", request.audio_path, std::strerror(errno));
        return false;
    }
    if (!S_ISREG(status.st_mode)) {  // a FIFO would block the decoder, a folder is no sound
        result->error = describe("cannot read", request.audio_path, "not a regular file");
        return false;
    }
    SF_INFO info = {};
    SNDFILE *file = sf_open(request.audio_path, SFM_READ, &info);
    if (file == nullptr) {
        const int code = sf_error(nullptr);
        std::string why = sf_strerror(nullptr);
        if (FILE *readable = std::fopen(request.audio_path, "rb")) {
            std::fclose(readable);
            // A readable regular file it cannot make out: libsndfile would call it "not a regular file".
            if (code != SF_ERR_MALFORMED_FILE && code != SF_ERR_UNSUPPORTED_ENCODING)
                why = "not an audio file libsndfile can read (WAV, FLAC, Ogg Vorbis, MP3, ...)";
        } else {
            why = std::strerror(errno);
        }
        result->error = describe("cannot read", request.audio_path, why.c_str());
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
        result->file_seconds = result->header_seconds = double(info.frames) / info.samplerate;
        const double available = result->file_seconds - request.start_seconds;
        const double seconds = request.seconds < 0 ? available : std::min(request.seconds, available);
        const double frames = frames_within(seconds, rate);
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
        bool end_found = false;  // the sound ended before the header's length
        for (uint32_t n = 0; n < result->frames && written; ++n) {
            // The middle of the frame's time on screen.
            const long long centre =
                std::llround((request.start_seconds + (n + 0.5) / rate) * info.samplerate);
            cursor_window(&cursor, centre - span / 2, span, windows);
            if (cursor.ended && cursor.end() < info.frames && !end_found) {
                end_found = true;
                // The sound ends before its header says: the frames are those of what it holds.
                const double held = frames_within(double(cursor.end()) / info.samplerate - request.start_seconds, rate);
                result->cut_short = cursor.end() < info.frames - info.samplerate / 10;
                result->cut_reason = cursor.decode_error;
                result->file_seconds = double(cursor.end()) / info.samplerate;
                result->frames = static_cast<uint32_t>(std::max<double>(n, std::min<double>(result->frames, held)));
                if (n >= result->frames) break;
            }
            for (int c = 0; c < 2; ++c) {
                const int from = result->channel_count == 2 ? c : 0;  // mono: the second row repeats the first
                spectrum_analyser_row(&analyser, windows[from] + spectrum_offset, record[c]);
                waveform_row(windows[from] + waveform_offset, record[2 + c]);
            }
            written = std::fwrite(record, sizeof record, 1, out) == 1;
        }
        if (result->frames == 0) {
            // Past a seek that found nothing, the sound ends somewhere before the seek's target.
            const bool nothing_read = cursor.kept[0].empty();
            char why[160];
            std::snprintf(why, sizeof why, "its sound ends %s %.1f s, though its header says %.1f s%s%s",
                          nothing_read ? "before" : "at", double(cursor.end()) / info.samplerate,
                          result->header_seconds,
                          cursor.decode_error.empty() ? "" : "; ", cursor.decode_error.c_str());
            result->error = describe(request.start_seconds > 0 ? "the start lies past the end of the sound in"
                                                               : "cannot decode",
                                     request.audio_path, why);
            break;
        }
        if (result->frames != fields.frame_count) {  // the header as it came out
            fields.frame_count = result->frames;
            fields.length_ms = milliseconds(result->file_seconds);
            spectrum_stream_header(fields, header);
            written = written && std::fseek(out, 0, SEEK_SET) == 0 && std::fwrite(header, sizeof header, 1, out) == 1;
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
