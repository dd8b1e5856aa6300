#include "audio/audio_analysis.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

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

// The sample at the middle of frame n's time on screen.
long long frame_centre(const AudioAnalysis &analysis, double n) {
    return std::llround((analysis.start_seconds + (n + 0.5) / analysis.rate) * analysis.audio.sample_rate);
}

// One read serves both: the transform's samples and the 576 waveform samples, each centred on the
// frame's time (at low sample rates the waveform reaches wider than the transform).
int window_span(const AudioAnalysis &analysis) { return std::max(analysis.analyser.transform_size, kStreamBins); }

// Why no frame can be made, in one line.
std::string no_frames(const AnalysisRequest &request, const AnalysisResult &result, const std::string &decoder_note) {
    const char *path = request.audio_path;
    if (result.cut_short) {
        char why[200];
        std::snprintf(why, sizeof why, "its sound ends at %.1f s, though its header says %.1f s%s%s",
                      result.file_seconds, result.header_seconds, decoder_note.empty() ? "" : "; ",
                      decoder_note.c_str());
        return describe(request.start_seconds > 0 ? "the start lies past the end of the sound in" : "cannot decode",
                        path, why);
    }
    if (result.file_seconds == 0) return describe("cannot decode", path, "no sound decodes from it");
    return request.start_seconds > 0 ? describe("the start lies at or past the end of", path, nullptr)
                                     : describe("too short for one frame:", path, nullptr);
}

}  // namespace

bool audio_analysis_open(const AnalysisRequest &request, AudioAnalysis *analysis) {
    AnalysisResult &result = analysis->result;
    result = AnalysisResult();
    AudioFile &audio = analysis->audio;
    if (!audio_file_open(request.audio_path, &audio, &result.error)) return false;
    result.file_channels = audio.channels;
    result.channel_count = audio.channels == 1 ? 1 : 2;
    result.sample_rate = audio.sample_rate;
    if (!spectrum_analyser_init(&analysis->analyser, audio.sample_rate)) {
        result.error = describe("unusable sample rate in", request.audio_path, nullptr);
        audio_analysis_close(analysis);
        return false;
    }
    result.file_seconds = double(audio.sound_frames) / audio.sample_rate;
    result.header_seconds = double(audio.header_frames) / audio.sample_rate;
    result.cut_short = audio.cut_short;
    result.cut_reason = audio.cut_reason;
    analysis->rate = double(request.rate_numerator) / request.rate_denominator;
    analysis->start_seconds = request.start_seconds;
    const double available = result.file_seconds - request.start_seconds;
    const double seconds = request.seconds < 0 ? available : std::min(request.seconds, available);
    const double frames = frames_within(seconds, analysis->rate);
    if (!(frames >= 1) || frames > 100000000) {
        result.error = frames > 100000000 ? describe("too long:", request.audio_path, nullptr)
                                          : no_frames(request, result, audio.cut_reason);
        audio_analysis_close(analysis);
        result.frames = 0;
        return false;
    }
    result.frames = static_cast<uint32_t>(frames);

    SampleCursor &cursor = analysis->cursor;
    cursor.file = audio.file;
    cursor.file_channels = audio.channels;
    // Start reading just before the first window; a file that cannot seek is read from its start.
    const long long begin = std::max(0LL, frame_centre(*analysis, 0) - window_span(*analysis));
    if (begin > 0 && sf_seek(audio.file, begin, SEEK_SET) == begin) cursor.kept_start = begin;
    for (auto &samples : analysis->samples) samples.assign(size_t(window_span(*analysis)), 0.0f);

    SpectrumStream &fields = analysis->fields;
    fields.channel_count = uint32_t(result.channel_count);
    fields.rate_numerator = request.rate_numerator;
    fields.rate_denominator = request.rate_denominator;
    fields.frame_count = result.frames;
    fields.start_ms = milliseconds(request.start_seconds);
    fields.length_ms = milliseconds(result.file_seconds);
    analysis->next_frame = 0;
    analysis->sound_ended_early = false;
    return true;
}

bool audio_analysis_next(AudioAnalysis *analysis, uint8_t record[kStreamRecordSize]) {
    if (analysis->next_frame >= analysis->result.frames) return false;
    const int span = window_span(*analysis);
    const int size = analysis->analyser.transform_size;
    const int spectrum_offset = span / 2 - size / 2;
    const int waveform_offset = span / 2 - kStreamBins / 2;
    float *windows[2] = {analysis->samples[0].data(), analysis->samples[1].data()};
    const long long centre = frame_centre(*analysis, analysis->next_frame);
    sample_cursor_window(&analysis->cursor, centre - span / 2, span, windows);
    SampleCursor &cursor = analysis->cursor;
    if (cursor.ended && sample_cursor_end(cursor) < analysis->audio.sound_frames) analysis->sound_ended_early = true;
    for (int c = 0; c < 2; ++c) {
        const int from = analysis->result.channel_count == 2 ? c : 0;  // mono: the second row repeats the first
        spectrum_analyser_row(&analysis->analyser, windows[from] + spectrum_offset, record + c * kStreamBins);
        waveform_row(windows[from] + waveform_offset, record + kStreamRowsSize + c * kStreamBins);
    }
    ++analysis->next_frame;
    return true;
}

void audio_analysis_close(AudioAnalysis *analysis) {
    spectrum_analyser_free(&analysis->analyser);
    audio_file_close(&analysis->audio);
    analysis->cursor = SampleCursor();
}

int audio_analysis_write(AudioAnalysis *analysis, FILE *out, bool flush_each) {
    const auto failed = [] { return errno != 0 ? errno : EIO; };
    uint8_t header[kStreamHeaderSize];
    spectrum_stream_header(analysis->fields, header);
    errno = 0;
    if (std::fwrite(header, sizeof header, 1, out) != 1 || (flush_each && std::fflush(out) != 0)) return failed();
    uint8_t record[kStreamRecordSize];
    while (audio_analysis_next(analysis, record)) {
        errno = 0;
        if (std::fwrite(record, sizeof record, 1, out) != 1 || (flush_each && std::fflush(out) != 0)) return failed();
    }
    errno = 0;
    return std::fflush(out) == 0 ? 0 : failed();
}

bool audio_analysis_write_file(AudioAnalysis *analysis, const char *path, AnalysisResult *result) {
    // The rename would put a regular file in place of a device or a FIFO (/dev/null, as root).
    struct stat status;
    if (stat(path, &status) == 0 && !S_ISREG(status.st_mode)) {
        result->error = describe("cannot write", path, "not a regular file");
        return false;
    }
    const std::string temporary = std::string(path) + ".partial";
    FILE *out = std::fopen(temporary.c_str(), "wb");
    if (out == nullptr) {
        result->error = describe("cannot write", temporary.c_str(), std::strerror(errno));
        return false;
    }
    const int failure = audio_analysis_write(analysis, out, false);
    if (std::fclose(out) != 0 || failure != 0) {
        result->error = describe("cannot write", temporary.c_str(), std::strerror(failure ? failure : errno));
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path) != 0) {
        result->error = describe("cannot write", path, std::strerror(errno));
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool analyse_audio_file(const AnalysisRequest &request, AnalysisResult *result) {
    AudioAnalysis analysis;
    if (!audio_analysis_open(request, &analysis)) {
        *result = analysis.result;
        return false;
    }
    *result = analysis.result;
    const bool ok = audio_analysis_write_file(&analysis, request.stream_path, result);
    audio_analysis_close(&analysis);
    return ok;
}
