// Live capture against a real PulseAudio server the test starts itself, with null sinks for
// outputs: what is played must come back in the rows of the moment it is heard, on the right
// channel, and keep doing so when the default output changes and when the server dies and returns.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/capture_rows.h"
#include "audio/live_capture.h"
#include "audio/output_latency.h"
#include "audio/pulse_playback.h"
#include "audio/sound_sources.h"
#include "tests/audio/sound_server.h"

namespace {

constexpr double kTick = 1.0 / 60;

struct Part {
    double seconds;
    int channel;  // 0 left, 1 right, -1 silence
};

// 1 kHz at a fifth of full scale (its bin unclamped) on one channel per part, exact zeros on the other.
std::vector<float> tone_parts(const std::vector<Part> &parts) {
    std::vector<float> sound;
    for (const Part &part : parts) {
        const int frames = int(part.seconds * kLiveCaptureRate);
        for (int i = 0; i < frames; ++i) {
            const float value = float(0.2 * std::sin(2 * M_PI * 1000.0 * i / kLiveCaptureRate));
            sound.push_back(part.channel == 0 ? value : 0.0f);
            sound.push_back(part.channel == 1 ? value : 0.0f);
        }
    }
    return sound;
}

// The rows of the tone alone, centred inside it.
std::vector<uint8_t> full_record() {
    CaptureRows rows;
    capture_rows_init(&rows, kLiveCaptureRate);
    const std::vector<float> tone = tone_parts({{1.0, 0}});
    std::vector<float> left(size_t(rows.span));
    for (int i = 0; i < rows.span; ++i) left[size_t(i)] = tone[size_t(i) * 2];
    std::vector<uint8_t> record(kStreamRecordSize);
    capture_rows_make(&rows, left.data(), left.data(), record.data());
    capture_rows_free(&rows);
    return record;
}

int peak_bin(const uint8_t *record, int channel) {
    return *std::max_element(record + channel * kStreamBins, record + (channel + 1) * kStreamBins);
}

struct Tick {
    double at;
    int loudness[2];
};

// The rows of "now" at 60 Hz, as a frame loop takes them, until the clock reads `until`.
std::vector<Tick> watch(LiveCapture *capture, double until) {
    std::vector<Tick> ticks;
    uint8_t record[kStreamRecordSize];
    for (double at = live_capture_clock(); at < until; at += kTick) {
        std::this_thread::sleep_for(std::chrono::duration<double>(std::max(0.0, at - live_capture_clock())));
        live_capture_rows(capture, at, record);
        ticks.push_back({at, {capture_rows_loudness(record, 0), capture_rows_loudness(record, 1)}});
    }
    return ticks;
}

// Waits for a notice containing text; every notice seen goes into *seen.
bool await_notice(LiveCapture *capture, const std::string &text, double seconds, std::vector<std::string> *seen) {
    const double until = live_capture_clock() + seconds;
    for (;;) {
        std::string line;
        while (live_capture_notice(capture, &line)) {
            seen->push_back(line);
            if (line.find(text) != std::string::npos) return true;
        }
        if (live_capture_clock() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void drain_notices(LiveCapture *capture, std::vector<std::string> *seen) {
    std::string line;
    while (live_capture_notice(capture, &line)) seen->push_back(line);
}

int count_containing(const std::vector<std::string> &lines, const std::string &text) {
    int count = 0;
    for (const std::string &line : lines) count += line.find(text) != std::string::npos;
    return count;
}

// A sound played into a sink (null: the default output) and when the server said it is heard.
struct Played {
    PulsePlayback *playback = nullptr;
    double heard_at = 0;  // its first frame
    double heard_until = 0;
};

// Queues the sound and waits until it has been written (generously: a null sink that mixed far
// ahead while nobody listened takes a second or more to take a new stream's first sound). The
// player keeps a second ahead: one that runs dry on a starved machine pauses, and the timing it
// was given no longer holds for the rest of the sound.
bool start_playing(const char *sink, const std::vector<float> &sound, Played *played) {
    std::string error;
    played->playback = pulse_playback_open(sink, 1.0, &error);
    EXPECT_TRUE(played->playback) << error;
    if (!played->playback) return false;
    const int piece = pulse_playback_queue(played->playback, sound.data(), sound.size() / 2);
    double written_at = 0;
    for (int i = 0; i < 1000; ++i) {
        if (pulse_playback_piece_times(played->playback, piece, &written_at, &played->heard_at)) {
            played->heard_until = played->heard_at + double(sound.size() / 2) / kLiveCaptureRate;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "the sound was not written within 10 s";
    return false;
}

void finish_playing(Played *played) {
    if (!played->playback) return;
    for (int i = 0; i < 1000 && !pulse_playback_done(played->playback); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    pulse_playback_close(played->playback);
    played->playback = nullptr;
}

// Plays left bursts, then right ones, silence between, and says what the capture got wrong
// (empty: nothing): the rows of "now" at 60 Hz while they play, then each edge looked back at in
// 1 ms steps. With output, also asks the server for this process's output latency meanwhile.
std::string play_bursts(LiveCapture *capture, OutputLatency *output) {
    const std::vector<Part> parts = {{0.3, -1}, {0.3, 0}, {0.3, -1}, {0.3, 1}, {0.3, -1},
                                     {0.3, 0},  {0.3, -1}, {0.3, 1}, {0.3, -1}};
    const int full = capture_rows_loudness(full_record().data(), 0);
    const int quiet = full / 20;
    std::ostringstream problems;
    Played bursts;
    if (!start_playing(nullptr, tone_parts(parts), &bursts)) return "could not play";
    const std::vector<Tick> ticks = watch(capture, bursts.heard_until + 0.1);
    std::string error;
    if (output && !output_latency_query(getpid(), nullptr, 3, output, &error)) problems << error << "; ";
    finish_playing(&bursts);

    int inside = 0, hits = 0, wrong = 0;
    for (const Tick &tick : ticks) {
        double start = bursts.heard_at;
        for (const Part &part : parts) {
            const double phase = tick.at - start;
            start += part.seconds;
            if (phase < 0.04 || phase > part.seconds - 0.04) continue;  // near an edge: either way
            const double at = tick.at - bursts.heard_at;
            if (part.channel < 0 && (tick.loudness[0] > quiet || tick.loudness[1] > quiet)) {
                if (wrong++ < 3) problems << "loud in a silence at " << at << " s; ";
            } else if (part.channel >= 0) {
                inside += 1;
                hits += tick.loudness[part.channel] >= full / 2;
                if (tick.loudness[1 - part.channel] > quiet && wrong++ < 3)
                    problems << "the other channel loud at " << at << " s; ";
            }
        }
    }
    // A capture thread held up on a loaded machine leaves a few ticks dark; most must show the burst.
    if (inside < 50 || hits < inside * 3 / 4)
        problems << hits << " of " << inside << " ticks inside bursts showed them; ";

    // Each edge lies where it is heard: rows centred on an edge hold half the tone, and the tone's
    // bin (linear in amplitude) is half its height inside.
    const int peak = peak_bin(full_record().data(), 0);
    double edge = bursts.heard_at;
    uint8_t record[kStreamRecordSize];
    for (size_t p = 0; p + 1 < parts.size(); ++p) {
        edge += parts[p].seconds;
        const int channel = parts[p].channel >= 0 ? parts[p].channel : parts[p + 1].channel;
        const bool rising = parts[p].channel < 0;
        double crossing = NAN;
        for (double at = edge - 0.1; at < edge + 0.1 && std::isnan(crossing); at += 0.001) {
            live_capture_rows(capture, at, record);
            if ((peak_bin(record, channel) >= peak / 2) == rising) crossing = at;
        }
        if (!(std::fabs(crossing - edge) <= 0.005))
            problems << "edge " << p << " found " << (crossing - edge) * 1000 << " ms off its heard time; ";
    }
    return problems.str();
}

class LiveCaptureTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!sound_server_installed()) GTEST_SKIP() << "pulseaudio and pactl are not installed (Debian: pulseaudio pulseaudio-utils)";
        std::string error;
        ASSERT_TRUE(sound_server_prepare(&server, &error)) << error;
    }
    void TearDown() override { sound_server_stop(&server); }
    SoundServer server;
};

TEST_F(LiveCaptureTest, FollowsWhatIsHeardThroughOutputChangesAndServerRestarts) {
    std::string error;
    ASSERT_TRUE(sound_server_start(&server, &error)) << error;
    const int full = capture_rows_loudness(full_record().data(), 0);
    const int quiet = full / 20;

    // The listing: both outputs' monitors, the default output's marked.
    SoundSourceList list;
    ASSERT_TRUE(sound_sources_list(&list, &error)) << error;
    ASSERT_EQ(list.sources.size(), 2u);
    EXPECT_EQ(list.default_output, "out");
    EXPECT_EQ(list.sources[0].name, "out.monitor");
    EXPECT_TRUE(list.sources[0].output_monitor && list.sources[0].default_capture);
    EXPECT_EQ(list.sources[1].name, "hp.monitor");
    EXPECT_TRUE(list.sources[1].output_monitor && !list.sources[1].default_capture);
    const std::string text = sound_sources_text(list);
    EXPECT_NE(text.find("output out.monitor  (default)"), std::string::npos) << text;
    EXPECT_NE(text.find("Monitor of Headphones"), std::string::npos) << text;

    LiveCaptureOptions options;
    options.ring_seconds = 10;  // room to look back over everything played below
    LiveCapture *capture = live_capture_open(options, &error);
    ASSERT_TRUE(capture) << error;
    LiveCaptureStatus status = live_capture_status(capture);
    EXPECT_TRUE(status.connected);
    EXPECT_EQ(status.source, "out.monitor");
    EXPECT_TRUE(status.following_default);
    std::vector<std::string> notices;

    // Left bursts, then right ones, silence between. On a machine whose cores are all taken, the
    // reference player runs dry now and then and its own timing jumps: a fault of the capture
    // shows on every try, such a jump seldom on three.
    OutputLatency output;
    std::vector<std::string> tries;
    for (int attempt = 0; attempt < 3 && (tries.empty() || !tries.back().empty()); ++attempt)
        tries.push_back(play_bursts(capture, attempt == 0 ? &output : nullptr));
    for (size_t i = 0; i < tries.size(); ++i)
        if (!tries[i].empty()) std::printf("try %zu: %s\n", i + 1, tries[i].c_str());
    EXPECT_TRUE(tries.back().empty()) << "the capture missed the bursts on every try";
    // What the server said of this process's playback meanwhile, for play's correction.
    EXPECT_GT(output.seconds, 0.0);
    EXPECT_LT(output.seconds, 1.5);  // the player's second ahead and the sink's own latency
    EXPECT_EQ(output.sink, "out");
    EXPECT_FALSE(output_latency_query(server.pid, "Halcyonsphere test sound", 1, &output, &error));
    EXPECT_NE(error.find("no playback stream of process"), std::string::npos) << error;
    uint8_t record[kStreamRecordSize];

    // The user switches the default output to the headphones: the capture follows, and hears them
    // only, not what still plays into the other output.
    ASSERT_TRUE(sound_server_pactl(server, "set-default-sink hp"));
    EXPECT_TRUE(await_notice(capture, "now capturing hp.monitor (Monitor of Headphones)", 10, &notices));
    EXPECT_EQ(live_capture_status(capture).source, "hp.monitor");
    Played left_on_hp, right_on_out;
    ASSERT_TRUE(start_playing("hp", tone_parts({{0.6, 0}}), &left_on_hp));
    ASSERT_TRUE(start_playing("out", tone_parts({{0.6, 1}}), &right_on_out));
    finish_playing(&left_on_hp);
    finish_playing(&right_on_out);
    // Looking back (the other output's stream can take a second to start): the headphones' tone
    // (most of it: a loaded machine moves the players' own timing), none of the other output's.
    int left_loud = 0, left_inside = 0;
    for (double at = std::min(left_on_hp.heard_at, right_on_out.heard_at);
         at < std::max(left_on_hp.heard_until, right_on_out.heard_until); at += 0.01) {
        live_capture_rows(capture, at, record);
        if (at > left_on_hp.heard_at + 0.02 && at < left_on_hp.heard_until - 0.02) {
            left_inside += 1;
            left_loud += capture_rows_loudness(record, 0) >= full / 2;
        }
        EXPECT_LE(capture_rows_loudness(record, 1), quiet) << "heard the output that is no longer the default";
    }
    EXPECT_GT(left_inside, 50);
    EXPECT_GE(left_loud, left_inside * 7 / 10) << left_loud << " of " << left_inside << " moments of the tone showed it";

    // The server dies: said once however long it stays away, and the rows fall silent.
    sound_server_pactl(server, "set-default-sink out");
    sound_server_kill(&server);
    EXPECT_TRUE(await_notice(capture, "the sound server went away", 10, &notices));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // several tries to reconnect
    drain_notices(capture, &notices);
    EXPECT_EQ(count_containing(notices, "went away"), 1);
    EXPECT_FALSE(live_capture_status(capture).connected);
    live_capture_rows(capture, live_capture_clock(), record);
    EXPECT_EQ(capture_rows_loudness(record, 0) + capture_rows_loudness(record, 1), 0);

    // It comes back: said once, and the capture follows the sound again.
    ASSERT_TRUE(sound_server_start(&server, &error)) << error;
    EXPECT_TRUE(await_notice(capture, "the sound server is back: capturing out.monitor", 20, &notices));
    status = live_capture_status(capture);
    EXPECT_TRUE(status.connected);
    EXPECT_EQ(status.server_losses, 1);
    Played right_again;
    ASSERT_TRUE(start_playing(nullptr, tone_parts({{0.6, 1}}), &right_again));
    const std::vector<Tick> ticks = watch(capture, right_again.heard_until + 0.1);
    finish_playing(&right_again);
    int right_loud = 0;
    for (const Tick &tick : ticks) {
        right_loud += tick.loudness[1] >= full / 2;
        EXPECT_LE(tick.loudness[0], quiet);
    }
    EXPECT_GT(right_loud, 10);
    EXPECT_EQ(count_containing(notices, "went away"), 1);
    live_capture_close(capture);
}

TEST_F(LiveCaptureTest, NamesWhatIsMissing) {
    // No server: one line naming where libpulse looked, and none is started in its place.
    std::string error;
    EXPECT_FALSE(live_capture_open(LiveCaptureOptions(), &error));
    EXPECT_EQ(error.rfind("no sound server: tried PulseAudio", 0), 0u) << error;
    EXPECT_NE(error.find(server.folder + "/pulse/native"), std::string::npos) << error;
    EXPECT_NE(error.find("PULSE_SERVER unset"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    SoundSourceList list;
    std::string list_error;
    EXPECT_FALSE(sound_sources_list(&list, &list_error));
    EXPECT_EQ(list_error, error);
    EXPECT_NE(access((server.folder + "/pulse/native").c_str(), F_OK), 0) << "a server was started";

    // A server without the source asked for; then one it has, kept when the default moves.
    ASSERT_TRUE(sound_server_start(&server, &error)) << error;
    LiveCaptureOptions options;
    options.source = "nope.monitor";
    EXPECT_FALSE(live_capture_open(options, &error));
    EXPECT_EQ(error.rfind("no source named nope.monitor on the sound server", 0), 0u) << error;
    options.source = "hp.monitor";
    LiveCapture *capture = live_capture_open(options, &error);
    ASSERT_TRUE(capture) << error;
    LiveCaptureStatus status = live_capture_status(capture);
    EXPECT_EQ(status.source, "hp.monitor");
    EXPECT_FALSE(status.following_default);
    ASSERT_TRUE(sound_server_pactl(server, "set-default-sink hp"));
    ASSERT_TRUE(sound_server_pactl(server, "set-default-sink out"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(live_capture_status(capture).source, "hp.monitor");
    std::string line;
    EXPECT_FALSE(live_capture_notice(capture, &line)) << line;
    live_capture_close(capture);
}

}  // namespace
