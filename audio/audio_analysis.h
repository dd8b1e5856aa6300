// Decodes an audio file (libsndfile: WAV, FLAC, Ogg Vorbis, MP3, ...) and writes its spectrum
// stream: for every video frame, per channel one spectrum row from the samples around the middle
// of the frame's time and the 576 samples there as the waveform row. Files with more than two
// channels use their first two; a mono file gives channel count 1 (its second rows repeat the first).
#pragma once

#include <cstdint>
#include <string>

struct AnalysisRequest {
    const char *audio_path = nullptr;
    const char *stream_path = nullptr;  // written through a temporary name, then renamed
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
    double header_seconds = 0;   // what its header says; more when the file was cut short
    bool cut_short = false;      // the sound ended noticeably before the header's length
    std::string cut_reason;      // the decoder's complaint where it stopped, if any
    uint32_t frames = 0;
    std::string error;  // set when the analysis failed; nothing is left at stream_path then
};

bool analyse_audio_file(const AnalysisRequest &request, AnalysisResult *result);
