// The spectrum stream of an audio file (libsndfile: WAV, FLAC, Ogg Vorbis, MP3, ...), made one
// frame at a time: for every video frame, per channel one spectrum row from the samples around the
// middle of the frame's time and the 576 samples there as the waveform row. Files with more than
// two channels use their first two; a mono file gives channel count 1 (its second rows repeat the
// first). Opening learns everything the stream's header and a caller's summary need (see
// audio/audio_file.h for how the length of a file cut short is found); each record then costs
// one window of decoding and two transforms, and memory stays the same for any length of file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/audio_file.h"
#include "audio/sample_cursor.h"
#include "audio/spectrum_analyser.h"
#include "audio/spectrum_stream.h"

struct AnalysisRequest {
    const char *audio_path = nullptr;
    const char *stream_path = nullptr;  // analyse_audio_file: written through a temporary name, then renamed
    uint32_t rate_numerator = 30;       // frames a second = numerator / denominator
    uint32_t rate_denominator = 1;
    double start_seconds = 0;
    double seconds = -1;                // below 0: to the end of the file
};

struct AnalysisResult {
    int file_channels = 0;
    int channel_count = 0;  // in the stream: 1 or 2
    int sample_rate = 0;
    double file_seconds = 0;     // the sound the file holds
    double header_seconds = 0;   // what its header says (more when the file was cut short); the
                                 // sound's length where the header tells none (Ogg)
    bool cut_short = false;      // the sound ends noticeably before the header's length, or the
                                 // stream stops without its end mark
    std::string cut_reason;      // how that was found, in words
    uint32_t frames = 0;
    std::string error;  // set when the analysis failed; nothing is left at stream_path then
};

// An analysis under way. Written by audio_analysis_open and audio_analysis_next only.
struct AudioAnalysis {
    AnalysisResult result;   // all known once open succeeded
    SpectrumStream fields;   // the stream header's fields (records unused)
    uint32_t next_frame = 0;
    bool sound_ended_early = false;  // decoding stopped before the sound that opening found; the
                                     // remaining records are silence, so the count still holds
    AudioFile audio;
    SampleCursor cursor;
    SpectrumAnalyser analyser;
    std::vector<float> samples[2];  // one frame's window per channel
    double rate = 0;
    double start_seconds = 0;
};

// Opens the file and learns its channels, rate, lengths and frame count. False with
// result.error set (and nothing to close) when it cannot be analysed.
bool audio_analysis_open(const AnalysisRequest &request, AudioAnalysis *analysis);
// The next frame's record (spectrum rows, then waveform rows); false after the last frame.
bool audio_analysis_next(AudioAnalysis *analysis, uint8_t record[kStreamRecordSize]);
void audio_analysis_close(AudioAnalysis *analysis);

// The header, then every remaining record, each flushed as it is made when flush_each is set (a
// pipe then holds what is ahead). 0, or the errno of the write that failed (EIO when unknown).
int audio_analysis_write(AudioAnalysis *analysis, FILE *out, bool flush_each);

// Writes the stream to path through a temporary name beside it. False with result->error set
// and nothing left at path.
bool audio_analysis_write_file(AudioAnalysis *analysis, const char *path, AnalysisResult *result);

// The whole analysis of request into request.stream_path.
bool analyse_audio_file(const AnalysisRequest &request, AnalysisResult *result);
