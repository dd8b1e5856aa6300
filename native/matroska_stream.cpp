#include "native/matroska_stream.h"

#include <cstring>

namespace {

// Element IDs, written with their marker bits as they appear in the file.
constexpr uint32_t kEbml = 0x1A45DFA3, kEbmlVersion = 0x4286, kEbmlReadVersion = 0x42F7, kEbmlMaxIdLength = 0x42F2,
                   kEbmlMaxSizeLength = 0x42F3, kDocType = 0x4282, kDocTypeVersion = 0x4287,
                   kDocTypeReadVersion = 0x4285;
constexpr uint32_t kSegment = 0x18538067, kInfo = 0x1549A966, kTimestampScale = 0x2AD7B1, kMuxingApp = 0x4D80,
                   kWritingApp = 0x5741;
constexpr uint32_t kTracks = 0x1654AE6B, kTrackEntry = 0xAE, kTrackNumber = 0xD7, kTrackUid = 0x73C5,
                   kTrackType = 0x83, kFlagLacing = 0x9C, kCodecId = 0x86, kVideo = 0xE0, kPixelWidth = 0xB0,
                   kPixelHeight = 0xBA, kColourSpace = 0x2EB524, kAudio = 0xE1, kSamplingFrequency = 0xB5,
                   kChannels = 0x9F, kBitDepth = 0x6264;
constexpr uint32_t kCluster = 0x1F43B675, kTimestamp = 0xE7, kSimpleBlock = 0xA3;

// A block's time is a signed 16-bit offset from its cluster's.
constexpr int64_t kClusterSpanMs = 30000;

void put_id(uint32_t id, std::vector<uint8_t> *out) {
    int bytes = id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1;
    while (bytes-- > 0) out->push_back(uint8_t(id >> (8 * bytes)));
}

// Sizes always in eight bytes: no element needs its size known before its content is.
void put_size(uint64_t size, std::vector<uint8_t> *out) {
    out->push_back(0x01);
    for (int shift = 48; shift >= 0; shift -= 8) out->push_back(uint8_t(size >> shift));
}

void put_unknown_size(std::vector<uint8_t> *out) {
    const uint8_t unknown[8] = {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    out->insert(out->end(), unknown, unknown + 8);
}

void put_uint(uint32_t id, uint64_t value, std::vector<uint8_t> *out) {
    put_id(id, out);
    put_size(8, out);
    for (int shift = 56; shift >= 0; shift -= 8) out->push_back(uint8_t(value >> shift));
}

void put_bytes(uint32_t id, const void *bytes, size_t size, std::vector<uint8_t> *out) {
    put_id(id, out);
    put_size(size, out);
    const uint8_t *at = static_cast<const uint8_t *>(bytes);
    out->insert(out->end(), at, at + size);
}

void put_text(uint32_t id, const char *text, std::vector<uint8_t> *out) { put_bytes(id, text, std::strlen(text), out); }

void put_float(uint32_t id, double value, std::vector<uint8_t> *out) {
    uint64_t bits = 0;
    static_assert(sizeof bits == sizeof value, "a double is 64 bits");
    std::memcpy(&bits, &value, sizeof bits);
    put_uint(id, bits, out);  // the same eight big-endian bytes
}

// A master element of known content: its children are built first, then sized.
void put_master(uint32_t id, const std::vector<uint8_t> &children, std::vector<uint8_t> *out) {
    put_bytes(id, children.data(), children.size(), out);
}

}  // namespace

void matroska_begin(int width, int height, int sample_rate, int channels, std::vector<uint8_t> *out) {
    std::vector<uint8_t> header;
    put_uint(kEbmlVersion, 1, &header);
    put_uint(kEbmlReadVersion, 1, &header);
    put_uint(kEbmlMaxIdLength, 4, &header);
    put_uint(kEbmlMaxSizeLength, 8, &header);
    put_text(kDocType, "matroska", &header);
    put_uint(kDocTypeVersion, 4, &header);
    put_uint(kDocTypeReadVersion, 2, &header);
    put_master(kEbml, header, out);

    put_id(kSegment, out);
    put_unknown_size(out);
    std::vector<uint8_t> info;
    put_uint(kTimestampScale, 1000000, &info);  // nanoseconds a tick: ticks of a millisecond
    put_text(kMuxingApp, "halcyonsphere", &info);
    put_text(kWritingApp, "halcyonsphere listen", &info);
    put_master(kInfo, info, out);

    std::vector<uint8_t> video, picture;
    put_uint(kTrackNumber, kMatroskaVideoTrack, &video);
    put_uint(kTrackUid, kMatroskaVideoTrack, &video);
    put_uint(kTrackType, 1, &video);
    put_uint(kFlagLacing, 0, &video);
    put_text(kCodecId, "V_UNCOMPRESSED", &video);
    put_uint(kPixelWidth, uint64_t(width), &picture);
    put_uint(kPixelHeight, uint64_t(height), &picture);
    put_bytes(kColourSpace, "BGRA", 4, &picture);
    put_master(kVideo, picture, &video);

    std::vector<uint8_t> audio, sound;
    put_uint(kTrackNumber, kMatroskaAudioTrack, &audio);
    put_uint(kTrackUid, kMatroskaAudioTrack, &audio);
    put_uint(kTrackType, 2, &audio);
    put_uint(kFlagLacing, 0, &audio);
    put_text(kCodecId, "A_PCM/FLOAT/IEEE", &audio);
    put_float(kSamplingFrequency, double(sample_rate), &sound);
    put_uint(kChannels, uint64_t(channels), &sound);
    put_uint(kBitDepth, 32, &sound);
    put_master(kAudio, sound, &audio);

    std::vector<uint8_t> tracks;
    put_master(kTrackEntry, video, &tracks);
    put_master(kTrackEntry, audio, &tracks);
    put_master(kTracks, tracks, out);
}

void matroska_block_head(MatroskaStream *stream, int track, int64_t ms, size_t payload_bytes,
                         std::vector<uint8_t> *out) {
    if (!stream->cluster_open || ms - stream->cluster_ms >= kClusterSpanMs || ms - stream->cluster_ms < -kClusterSpanMs) {
        put_id(kCluster, out);
        put_unknown_size(out);
        put_uint(kTimestamp, uint64_t(ms < 0 ? 0 : ms), out);
        stream->cluster_ms = ms < 0 ? 0 : ms;
        stream->cluster_open = true;
    }
    const int16_t offset = int16_t(ms - stream->cluster_ms);
    put_id(kSimpleBlock, out);
    put_size(4 + payload_bytes, out);
    out->push_back(uint8_t(0x80 | track));  // the track number, one byte
    out->push_back(uint8_t(uint16_t(offset) >> 8));
    out->push_back(uint8_t(uint16_t(offset) & 0xFF));
    out->push_back(0x80);  // a keyframe: every raw frame and PCM block stands alone
}
