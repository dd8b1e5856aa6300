// A Matroska stream written as it goes, for an encoder's input: one track of raw BGRA frames and
// one of interleaved float PCM, every block stamped with its own time in milliseconds. That is
// what a live recording needs: frames come at whatever pace they were drawn, and the sound beside
// them keeps its own clock; ffmpeg reads the times as they are (variable frame rate). The segment
// and its clusters have unknown sizes, as in a live stream, so nothing is written twice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int kMatroskaVideoTrack = 1;
constexpr int kMatroskaAudioTrack = 2;

struct MatroskaStream {
    int64_t cluster_ms = 0;
    bool cluster_open = false;
};

// The EBML header, the segment's start, its info and its two tracks.
void matroska_begin(int width, int height, int sample_rate, int channels, std::vector<uint8_t> *out);
// The bytes before a block's payload_bytes of data for track at time ms (from 0), a new cluster
// first where the block's offset from the open one would not fit.
void matroska_block_head(MatroskaStream *stream, int track, int64_t ms, size_t payload_bytes,
                         std::vector<uint8_t> *out);
