// The analyser: audio files written here through libsndfile, analysed, and their spectrum
// streams read back through the parser the host uses.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "audio/audio_analysis.h"
#include "audio/spectrum_stream.h"

namespace {

using Signal = std::function<float(double t, int channel)>;

std::string temp_path(const std::string &name) { return testing::TempDir() + "halcyon_audio_" + name; }

void write_audio(const std::string &path, int rate, int channels, double seconds, const Signal &signal,
                 int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) {
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const long frames = std::lround(seconds * rate);
    std::vector<float> samples(size_t(frames) * channels);
    for (long i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) samples[size_t(i) * channels + c] = signal(double(i) / rate, c);
    sf_writef_float(file, samples.data(), frames);
    sf_close(file);
}

struct Analysed {
    AnalysisResult result;
    std::vector<uint8_t> bytes;
    SpectrumStream stream;
    const uint8_t *row(uint32_t frame, int channel) const {
        return spectrum_stream_rows(stream, frame) + channel * kStreamBins;
    }
    // The waveform row's samples, signed.
    std::vector<int> wave(uint32_t frame, int channel) const {
        const uint8_t *bytes = spectrum_stream_waveform(stream, frame) + channel * kStreamBins;
        const int8_t *samples = reinterpret_cast<const int8_t *>(bytes);
        return std::vector<int>(samples, samples + kStreamBins);
    }
};

int wave_peak(const std::vector<int> &wave) {
    int peak = 0;
    for (int v : wave) peak = std::max(peak, std::abs(v));
    return peak;
}

Analysed analyse(const std::string &audio, AnalysisRequest request = AnalysisRequest()) {
    Analysed out;
    const std::string stream_path = audio + ".hsps";
    std::remove(stream_path.c_str());
    request.audio_path = audio.c_str();
    request.stream_path = stream_path.c_str();
    if (!analyse_audio_file(request, &out.result)) return out;
    std::FILE *f = std::fopen(stream_path.c_str(), "rb");
    int c;
    while ((c = std::fgetc(f)) != EOF) out.bytes.push_back(uint8_t(c));
    std::fclose(f);
    const char *error = nullptr;
    EXPECT_TRUE(spectrum_stream_parse(out.bytes.data(), out.bytes.size(), &out.stream, &error)) << error;
    return out;
}

int peak_bin(const uint8_t *row) {
    int best = 0;
    for (int k = 1; k < kStreamBins; ++k)
        if (row[k] > row[best]) best = k;
    return best;
}

int row_sum(const uint8_t *row) {
    int sum = 0;
    for (int k = 0; k < kStreamBins; ++k) sum += row[k];
    return sum;
}

constexpr double kBinHz = 22050.0 / 576;

TEST(Analyser, ToneLandsInItsBinOnItsChannelAtAnySampleRate) {
    struct Case {
        int rate, channels, sounding;  // sounding: the channel with the tone, -1 both
        int bin;
        float amplitude;
    } cases[] = {
        {44100, 2, 0, 10, 0.1f}, {44100, 2, 1, 100, 0.1f}, {48000, 2, 0, 52, 0.05f},
        {22050, 2, -1, 287, 0.1f}, {96000, 2, 1, 400, 0.1f}, {44100, 1, 0, 30, 0.1f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, bin " << c.bin << ", channel " << c.sounding);
        const std::string path = temp_path("tone.wav");
        const double hz = c.bin * kBinHz;
        write_audio(path, c.rate, c.channels, 1.0, [&](double t, int channel) {
            return c.sounding < 0 || channel == c.sounding ? c.amplitude * float(std::sin(2 * M_PI * hz * t)) : 0.0f;
        });
        Analysed a = analyse(path);
        ASSERT_EQ(a.result.error, "");
        EXPECT_EQ(a.stream.channel_count, uint32_t(c.channels));
        EXPECT_EQ(a.stream.frame_count, 30u);
        const int silent = c.channels == 1 || c.sounding < 0 ? -1 : 1 - c.sounding;
        for (int channel = 0; channel < 2; ++channel) {
            const uint8_t *row = a.row(15, channel);
            if (channel == silent) {
                EXPECT_EQ(row_sum(row), 0);
                EXPECT_EQ(wave_peak(a.wave(15, channel)), 0);
                continue;
            }
            // The waveform holds the samples themselves: amplitude x 128, signed.
            EXPECT_NEAR(wave_peak(a.wave(15, channel)), c.amplitude * 128, 1.0);
            EXPECT_EQ(peak_bin(row), c.bin);
            // Linear scaling: amplitude x 1024, less what the Hann window's main lobe spreads.
            EXPECT_NEAR(row[c.bin], c.amplitude * 1024, c.amplitude * 1024 * 0.02);
            // A mono file's second row repeats the first, for plug-ins that ignore the count.
            if (c.channels == 1) {
                EXPECT_EQ(std::vector<uint8_t>(row, row + kStreamBins),
                          std::vector<uint8_t>(a.row(15, 0), a.row(15, 0) + kStreamBins));
                EXPECT_EQ(a.wave(15, channel), a.wave(15, 0));
            }
        }
        // Nothing above the file's Nyquist frequency.
        for (int k = int(c.rate / 2 / kBinHz) + 2; k < kStreamBins; ++k) ASSERT_EQ(a.row(15, 0)[k], 0) << k;
    }
}

TEST(Analyser, SilenceSaturationAndTiming) {
    // Silence for half a second, then a full-scale square wave at 200 Hz (no wrap-around above 255).
    const std::string path = temp_path("square.wav");
    write_audio(path, 44100, 2, 1.0, [](double t, int) {
        return t < 0.5 ? 0.0f : std::sin(2 * M_PI * 200 * t) >= 0 ? 1.0f : -1.0f;
    }, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    Analysed a = analyse(path);
    ASSERT_EQ(a.result.error, "");
    // Frame n stands for the time (n + 0.5) / 30 s; its window reaches 13 ms either side.
    for (uint32_t n = 0; n < 15; ++n) {
        EXPECT_EQ(row_sum(a.row(n, 0)) + row_sum(a.row(n, 1)), 0) << n;
        EXPECT_EQ(wave_peak(a.wave(n, 0)) + wave_peak(a.wave(n, 1)), 0) << n;
    }
    EXPECT_GT(row_sum(a.row(15, 0)), 0);
    // Full scale clamps to the ends of the signed byte instead of wrapping around.
    const std::vector<int> square = a.wave(20, 1);
    EXPECT_EQ(*std::min_element(square.begin(), square.end()), -128);
    EXPECT_EQ(*std::max_element(square.begin(), square.end()), 127);
    EXPECT_EQ((std::vector<uint32_t>{a.stream.start_ms, a.stream.length_ms}), (std::vector<uint32_t>{0, 1000}));
    const uint8_t *loud = a.row(20, 0);
    const int fundamental = int(std::lround(200 / kBinHz));
    EXPECT_EQ(loud[fundamental], 255);
    EXPECT_EQ(loud[3 * fundamental], 255);  // the third harmonic, a third as loud, still saturates
    EXPECT_GT(row_sum(loud), 255 * 20);

    // --start and --seconds pick the loud part only; a start past the end fails cleanly.
    AnalysisRequest request;
    request.start_seconds = 0.6;
    request.seconds = 0.2;
    Analysed part = analyse(path, request);
    ASSERT_EQ(part.stream.frame_count, 6u);
    EXPECT_EQ((std::vector<uint32_t>{part.stream.start_ms, part.stream.length_ms}), (std::vector<uint32_t>{600, 1000}));
    for (uint32_t n = 0; n < 6; ++n) EXPECT_EQ(part.row(n, 0)[fundamental], 255);
    request.start_seconds = 1.0;
    request.seconds = -1;
    EXPECT_FALSE(analyse(path, request).result.error.empty());
    EXPECT_EQ(std::fopen((path + ".hsps").c_str(), "rb"), nullptr);
}

std::vector<char> file_bytes(const std::string &path) {
    std::vector<char> bytes;
    std::FILE *f = std::fopen(path.c_str(), "rb");
    for (int c; f && (c = std::fgetc(f)) != EOF;) bytes.push_back(char(c));
    if (f) std::fclose(f);
    return bytes;
}

void write_bytes(const std::string &path, const std::vector<char> &bytes, size_t count) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, count, f);
    std::fclose(f);
}

// A file cut short (a broken download) renders what it holds, in every format: the frames and the
// track's length are those of its sound, not of its header, the result says so, and the rows are
// those of the same sound uncut. libsndfile hides the cut differently in each: WAV and AIFF report
// the length held (the header's only in its log), FLAC and MP3 the header's, Ogg none at all.
TEST(Analyser, CutShortFilesGiveWhatTheyHoldInEveryFormat) {
    struct Format {
        const char *name;
        int format, rate;
        double loss;           // sound lost beyond the cut's share of the bytes: blocks, pages, bit rate
        bool header_tells;     // the header has a length (Ogg has none)
    } formats[] = {
        {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 0.05, true},
        {"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100, 0.05, true},
        {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 0.5, true},
        {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 0.8, true},
        {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 1.5, false},
        {"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 1.5, false},
    };
    const double seconds = 15;
    const double cuts[] = {0.1, 0.5, 0.99, -1};  // -1: half, plus 3 bytes (inside a sample or block)
    for (const Format &format : formats) {
        SCOPED_TRACE(format.name);
        const std::string whole_path = temp_path(std::string("whole.") + format.name);
        uint32_t noise = 1;
        write_audio(whole_path, format.rate, 2, seconds, [&](double t, int channel) {
            noise = noise * 1664525u + 1013904223u;
            return float(0.3 * std::sin(2 * M_PI * (220 + 110 * channel) * t) + 0.05 * ((noise >> 8) / double(1 << 24) - 0.5));
        }, format.format);
        Analysed whole = analyse(whole_path);
        ASSERT_EQ(whole.result.error, "");
        EXPECT_FALSE(whole.result.cut_short);
        EXPECT_EQ(whole.result.frames, 450u);
        EXPECT_NEAR(whole.result.header_seconds, seconds, 1e-6);
        const std::vector<char> bytes = file_bytes(whole_path);
        const std::string cut_path = temp_path(std::string("cut.") + format.name);
        for (double share : cuts) {
            SCOPED_TRACE(share);
            const size_t size = share > 0 ? size_t(bytes.size() * share) : bytes.size() / 2 + 3;
            write_bytes(cut_path, bytes, size);
            Analysed cut = analyse(cut_path);
            ASSERT_EQ(cut.result.error, "");
            const AnalysisResult &r = cut.result;
            const double expected = seconds * double(size) / bytes.size();
            EXPECT_TRUE(r.cut_short);
            EXPECT_FALSE(r.cut_reason.empty());
            EXPECT_LE(r.file_seconds, expected + 0.05);
            EXPECT_GE(r.file_seconds, expected - format.loss);
            EXPECT_NEAR(r.header_seconds, format.header_tells ? seconds : r.file_seconds, 1e-6);
            EXPECT_EQ(r.frames, uint32_t(std::floor(r.file_seconds * 30 + 0.5)));
            EXPECT_EQ(cut.stream.frame_count, r.frames);
            EXPECT_EQ(cut.stream.length_ms, uint32_t(std::lround(r.file_seconds * 1000)));
            // Every frame whose window lies inside the sound held is the uncut file's frame.
            const uint32_t inside = uint32_t((r.file_seconds - 0.05) * 30);
            for (uint32_t n = 0; n < inside; ++n)
                ASSERT_EQ(std::memcmp(spectrum_stream_rows(cut.stream, n), spectrum_stream_rows(whole.stream, n),
                                      kStreamRecordSize), 0) << "frame " << n;
        }
        // A cut inside the header: refused in one line, nothing written.
        write_bytes(cut_path, bytes, 30);
        Analysed header_cut = analyse(cut_path);
        EXPECT_NE(header_cut.result.error, "");
        EXPECT_EQ(std::fopen((cut_path + ".hsps").c_str(), "rb"), nullptr);
    }
    // A start past the sound held, inside the header's length.
    const std::string half = temp_path("half.wav");
    const std::vector<char> bytes = file_bytes(temp_path("whole.wav"));
    write_bytes(half, bytes, bytes.size() / 2);
    AnalysisRequest past;
    past.start_seconds = 10;
    EXPECT_NE(analyse(half, past).result.error.find("past the end"), std::string::npos);
}

TEST(Analyser, UnreadableFilesFailWithoutOutput) {
    const std::string garbage = temp_path("garbage.wav");
    std::FILE *f = std::fopen(garbage.c_str(), "wb");
    std::fputs("RIFF not really", f);
    std::fclose(f);
    for (const std::string &path : {temp_path("missing.wav"), garbage}) {
        Analysed a = analyse(path);
        EXPECT_NE(a.result.error.find("cannot read"), std::string::npos) << a.result.error;
        EXPECT_EQ(std::fopen((path + ".hsps").c_str(), "rb"), nullptr);
        EXPECT_EQ(std::fopen((path + ".hsps.partial").c_str(), "rb"), nullptr);
    }
}

TEST(SpectrumStream, HeaderAndSizeAreChecked) {
    std::vector<uint8_t> good(kStreamHeaderSize + 3 * kStreamRecordSize, 7);
    SpectrumStream fields;
    fields.channel_count = 2;
    fields.rate_numerator = 30000;
    fields.rate_denominator = 1001;
    fields.frame_count = 3;
    fields.start_ms = 61000;
    fields.length_ms = 185000;
    spectrum_stream_header(fields, good.data());
    SpectrumStream stream;
    const char *error = nullptr;
    ASSERT_TRUE(spectrum_stream_parse(good.data(), good.size(), &stream, &error));
    EXPECT_EQ(stream.frame_count, 3u);
    EXPECT_EQ((std::vector<uint32_t>{stream.start_ms, stream.length_ms}), (std::vector<uint32_t>{61000, 185000}));
    EXPECT_EQ(spectrum_stream_rows(stream, 2), good.data() + kStreamHeaderSize + 2 * kStreamRecordSize);
    EXPECT_EQ(spectrum_stream_waveform(stream, 2), spectrum_stream_rows(stream, 2) + 2 * kStreamBins);

    struct Damage {
        size_t offset;
        uint32_t value;  // written little-endian at offset
        const char *why;
    } damages[] = {
        {0, 0x53505349, "magic"}, {4, 1, "the old version without waveforms"}, {8, 0, "no channels"}, {8, 3, "three channels"},
        {12, 512, "bins"}, {16, 0, "rate"}, {20, 0, "rate denominator"}, {24, 4, "count above the records"},
        {24, 0xFFFFFFFF, "huge count"},
    };
    for (const Damage &d : damages) {
        std::vector<uint8_t> bad = good;
        for (int i = 0; i < 4; ++i) bad[d.offset + i] = uint8_t(d.value >> (8 * i));
        EXPECT_FALSE(spectrum_stream_parse(bad.data(), bad.size(), &stream, &error)) << d.why;
    }
    for (size_t size : {size_t(0), kStreamHeaderSize - 1, good.size() - 1})
        EXPECT_FALSE(spectrum_stream_parse(good.data(), size, &stream, &error)) << size;
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_FALSE(spectrum_stream_parse(longer.data(), longer.size(), &stream, &error));
}

}  // namespace
