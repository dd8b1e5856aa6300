// The capture's ring and rows without a server: which samples a moment's window takes, that the
// rows come out byte for byte as the file analysis makes them, and play's latency option.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/audio_analysis.h"
#include "audio/capture_ring.h"
#include "audio/capture_rows.h"
#include "audio/output_latency.h"
#include "audio/spectrum_stream.h"

namespace {

// Appends frames first .. first + count - 1, each left sample its number + 1, right its negative.
void append_numbered(CaptureRing *ring, int64_t first, int64_t count) {
    std::vector<float> frames;
    for (int64_t f = first; f < first + count; ++f) {
        frames.push_back(float(f + 1));
        frames.push_back(-float(f + 1));
    }
    capture_ring_append(ring, frames.data(), count);
}

TEST(CaptureRingTest, WindowsTakeTheFramesHeardAroundTheirMoment) {
    // At 1000 frames a second, with a ring of 1000 frames; frame f is heard at 9.5 + f / 1000 once
    // the stream is timed; frames after a later report that moved the clock, at 9.6 + f / 1000.
    struct Case {
        const char *what;
        int64_t appended;   // numbered frames of the first stream
        int64_t hole;       // then silence of this many frames
        int64_t restarted;  // then a new stream of this many numbered frames (0: none)
        bool timed;
        int64_t later;      // then frames timed by a report 0.1 s later
        double shift;       // 0, or 0.1 to ask on the later report's clock
        int64_t centre;     // the frame whose moment is asked for
        int64_t first;      // the window's first frame expected
        int64_t kept_from;  // frames before this are zero
    };
    const Case cases[] = {
        {"inside", 500, 0, 0, true, 0, 0, 200, 195, 0},
        {"past the newest: moved back by at most the shift", 500, 0, 0, true, 0, 0, 498, 490, 0},
        {"far past the newest: silence", 500, 0, 0, true, 0, 0, 600, 590, 0},
        {"before the first frame", 500, 0, 0, true, 0, 0, 2, -3, 0},
        {"overwritten by newer frames", 1500, 0, 0, true, 0, 0, 502, 497, 500},
        {"a hole is silence", 400, 100, 0, true, 0, 0, 402, 397, 0},
        {"not timed yet", 500, 0, 0, false, 0, 0, 200, 195, 1 << 20},
        {"a new stream forgets the old one", 500, 0, 100, true, 0, 0, 502, 497, 500},
        {"a later report leaves the older frames their time", 500, 0, 0, true, 400, 0, 200, 195, 0},
        {"a later report times the frames it came with", 500, 0, 0, true, 400, 0.1, 700, 695, 0},
    };
    for (const Case &c : cases) {
        CaptureRing ring;
        ASSERT_TRUE(capture_ring_init(&ring, 1000, 1.0));
        capture_ring_begin_stream(&ring);
        append_numbered(&ring, 0, c.appended);
        capture_ring_append(&ring, nullptr, c.hole);
        if (c.restarted) {
            capture_ring_set_heard(&ring, 1.0);  // the old stream's clock, which must not count
            capture_ring_begin_stream(&ring);
            append_numbered(&ring, ring.written, c.restarted);
        }
        if (c.timed) capture_ring_set_heard(&ring, 9.5 + double(ring.written) / 1000);
        if (c.later) {
            append_numbered(&ring, ring.written, c.later);
            capture_ring_set_heard(&ring, 9.6 + double(ring.written) / 1000);
        }
        float left[10], right[10];
        capture_ring_window(ring, 9.5 + c.shift + double(c.centre) / 1000, 10, 5, left, right);
        for (int k = 0; k < 10; ++k) {
            const int64_t frame = c.first + k;
            const bool held = frame >= c.kept_from && frame >= 0 && frame < ring.written &&
                              !(frame >= c.appended && frame < c.appended + c.hole);
            const float expected = held ? float(frame + 1) : 0.0f;
            EXPECT_EQ(left[k], expected) << c.what << ", sample " << k;
            EXPECT_EQ(right[k], -expected) << c.what << ", sample " << k;
        }
        // The same frames as a recording takes them, from the first one's moment on: only those
        // appended count, so that what is still to come is not taken as silence.
        float heard[20];
        const int64_t got = capture_ring_heard(ring, 9.5 + c.shift + double(c.first) / 1000, 10, heard);
        EXPECT_EQ(got, c.timed ? std::clamp<int64_t>(ring.written - c.first, 0, 10) : 0) << c.what;
        for (int k = 0; k < 10; ++k) {
            EXPECT_EQ(heard[2 * k], left[k]) << c.what << ", heard sample " << k;
            EXPECT_EQ(heard[2 * k + 1], right[k]) << c.what << ", heard sample " << k;
        }
    }
    CaptureRing ring;
    EXPECT_FALSE(capture_ring_init(&ring, 44100, 0));
    EXPECT_FALSE(capture_ring_init(&ring, 44100, 1e6));
}

TEST(CaptureRowsTest, RowsAreThoseOfTheFileAnalysis) {
    // Two seconds of distinct, loud and quiet sound on each channel, beyond full scale at times.
    const int rate = 44100, frames = 2 * rate;
    std::vector<float> sound(size_t(frames) * 2);
    uint32_t noise = 12345;
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        noise = noise * 1664525u + 1013904223u;
        sound[size_t(i) * 2] = float(1.2 * std::sin(2 * M_PI * (200 + 2000 * t) * t) * std::sin(M_PI * t));
        sound[size_t(i) * 2 + 1] = float((double(noise >> 8) / (1 << 24) - 0.5) * (i % 22050 < 11025 ? 0.8 : 0.05));
    }
    char folder[] = "/tmp/halcyon-rows-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    const std::string wav = std::string(folder) + "/sound.wav", stream_path = std::string(folder) + "/sound.hsps";
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *file = sf_open(wav.c_str(), SFM_WRITE, &info);
    ASSERT_TRUE(file);
    sf_writef_float(file, sound.data(), frames);
    sf_close(file);
    AnalysisRequest request;
    request.audio_path = wav.c_str();
    request.stream_path = stream_path.c_str();
    AnalysisResult result;
    ASSERT_TRUE(analyse_audio_file(request, &result)) << result.error;
    std::ifstream in(stream_path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(wav.c_str());
    std::remove(stream_path.c_str());
    rmdir(folder);
    SpectrumStream stream;
    const char *why = nullptr;
    ASSERT_TRUE(spectrum_stream_parse(bytes.data(), bytes.size(), &stream, &why)) << why;

    // The same sound captured: frame i heard at i / rate.
    CaptureRing ring;
    ASSERT_TRUE(capture_ring_init(&ring, rate, 3));
    capture_ring_begin_stream(&ring);
    capture_ring_append(&ring, sound.data(), frames);
    capture_ring_set_heard(&ring, double(frames) / rate);
    CaptureRows rows;
    ASSERT_TRUE(capture_rows_init(&rows, rate));
    std::vector<float> left(size_t(rows.span)), right(size_t(rows.span));
    uint8_t record[kStreamRecordSize];
    // Every frame but the last, whose window reaches past the sound (the file pads it with
    // silence, "now" takes the newest whole window instead).
    ASSERT_EQ(stream.frame_count, 60u);
    for (uint32_t n = 0; n + 1 < stream.frame_count; ++n) {
        const long long centre = std::llround((n + 0.5) / 30 * rate);
        capture_ring_window(ring, double(centre) / rate, rows.span, rows.span / 2, left.data(), right.data());
        capture_rows_make(&rows, left.data(), right.data(), record);
        ASSERT_EQ(0, std::memcmp(record, spectrum_stream_rows(stream, n), kStreamRecordSize)) << "frame " << n;
    }
    EXPECT_GT(capture_rows_loudness(record, 0), 0);
    capture_rows_free(&rows);
}

TEST(OutputLatencyTest, SoundLatencyOption) {
    const struct {
        const char *text;
        bool ok;
        double ms;
    } cases[] = {{"0", true, 0},       {"180", true, 180},    {"12.5", true, 12.5}, {"10000", true, 10000},
                 {"10001", false, 0},  {"-1", false, 0},      {"", false, 0},       {"80ms", false, 0},
                 {"nan", false, 0},    {"inf", false, 0},     {"1e400", false, 0}};
    for (const auto &c : cases) {
        double ms = -1;
        std::string error;
        EXPECT_EQ(parse_sound_latency_ms(c.text, &ms, &error), c.ok) << '"' << c.text << '"';
        if (c.ok) EXPECT_EQ(ms, c.ms) << c.text;
        else EXPECT_NE(error.find("--sound-latency"), std::string::npos) << c.text;
    }
    OutputLatency latency;
    latency.seconds = 0.040;
    EXPECT_DOUBLE_EQ(output_delay_seconds(latency, 180), 0.220);
}

}  // namespace
