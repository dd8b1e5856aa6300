// The one frame loop over a fake player: a module that counts its calls, a clock that moves only
// when a frame draws or the loop sleeps, and pacing, rows and an outlet that do what each case asks.
#include "player/frame_loop.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "player/event_log.h"
#include "player/player_platform.h"
#include "player/run_stop.h"

namespace {

struct FakePlayer {
    // What the case asks for.
    int init_result = 0;
    int quit_message_at = -1;  // the queue holds the plug-in's quit message once this many frames are done
    int render_ends_at = -1;   // Render returns 1 for this frame
    int stop_at = -1;          // a stop is requested during this frame's Render
    double render_seconds = 0.01;
    bool wall = false;         // the pacing's choice
    double sound_ends = 1e9;   // real time: the sound has ended from this many seconds on
    bool capture_reads = true;
    int capture_lost_at = -1;  // this frame's capture is read but cannot be written
    int video_lost_at = -1;
    int source_stops_at = -1;  // the rows' source has none for this row: it ended, or failed
    bool source_fails = false;
    // What happened.
    double now = 100;
    int inits = 0, renders = 0, quits = 0, videos = 0;
    bool quit_message_sent = false;
    std::vector<double> sleeps;
    std::vector<long long> rows;
};
FakePlayer g_fake;

int HALCYON_CDECL fake_init(VisModule *) {
    ++g_fake.inits;
    return g_fake.init_result;
}
int HALCYON_CDECL fake_render(VisModule *) {
    const int frame = g_fake.renders++;
    g_fake.now += g_fake.render_seconds;
    if (frame == g_fake.stop_at) run_stop_request(SIGTERM);
    return frame == g_fake.render_ends_at ? 1 : 0;
}
void HALCYON_CDECL fake_quit(VisModule *) { ++g_fake.quits; }

void pacing_start(const RunOptions &, bool, FrameTiming *timing) { timing->wall = g_fake.wall; }
bool pacing_after_render(const RunOptions &, int, FrameTiming *) { return false; }
bool pacing_stream_seconds(const FrameTiming &timing, double *seconds) {
    *seconds = g_fake.now - timing.started;
    return *seconds < g_fake.sound_ends;
}
const FramePacing kPacing = {pacing_start, pacing_after_render, pacing_stream_seconds, nullptr, nullptr, nullptr, nullptr};

void feed(const RunOptions &, VisModule *, long long row) { g_fake.rows.push_back(row); }
const char *source_stopped(bool *failed) {
    *failed = g_fake.source_fails;
    return !g_fake.rows.empty() && g_fake.rows.back() == g_fake.source_stops_at ? "gone" : nullptr;
}

CaptureResult capture(const char *folder, int index) {
    CaptureResult result;
    if (!g_fake.capture_reads) return result;
    result.source = "fake";
    result.path = std::string(folder) + "/" + std::to_string(index);
    result.captured = index != g_fake.capture_lost_at;
    if (!result.captured) result.error = "cannot write " + result.path + ": No space left on device";
    return result;
}
bool video_begin() { return true; }
bool video_frame(std::string *error) {
    if (g_fake.videos++ != g_fake.video_lost_at) return true;
    *error = "cannot write the video stream";
    return false;
}
const FrameOutlet kOutlet = {capture, video_begin, video_frame};

std::vector<std::string> event_names(const std::string &path) {
    std::vector<std::string> names;
    std::ifstream file(path);
    const std::string key = "{\"event\":\"";
    for (std::string line; std::getline(file, line);)
        if (line.compare(0, key.size(), key) == 0)
            names.push_back(line.substr(key.size(), line.find('"', key.size()) - key.size()));
    return names;
}

}  // namespace

// What player_platform.h asks of a player, the fake's way.
const char kProgramName[] = "frame_loop_test";
double seconds_now() { return g_fake.now; }
void sleep_seconds(double seconds) {
    if (seconds <= 0) return;
    g_fake.sleeps.push_back(seconds);
    g_fake.now += seconds;
}
bool pump_messages(int after_frames) {
    if (g_fake.quit_message_sent || g_fake.quit_message_at < 0 || after_frames < g_fake.quit_message_at) return false;
    g_fake.quit_message_sent = true;
    log_quit_message(0, after_frames);
    return true;
}
bool file_exists(const char *) { return true; }
bool registered_window_alive() { return false; }
bool registered_class_alive() { return false; }
void json_process_figures(JsonLine &) {}
intptr_t post_to_render_window(uint32_t, uintptr_t, intptr_t, bool *posted) {
    *posted = false;
    return 0;
}

TEST(FrameLoop, EachWayOutEndsTheRunAsThePlayersDo) {
    using Names = std::vector<std::string>;
    const struct Case {
        const char *what;
        void (*set)(FakePlayer &, RunOptions &);
        const char *reason;
        int frames;
        Names events;
        std::vector<long long> rows;
        std::vector<double> sleeps;
    } cases[] = {
        {"every frame, the module's delay between them", [](FakePlayer &, RunOptions &o) { o.frames = 3; },
         "frames", 3, {"init", "frame", "frame", "frame", "quit"}, {0, 1, 2}, {0.02, 0.02}},
        {"wall pacing waits instead of the delay", [](FakePlayer &f, RunOptions &o) { o.frames = 2; f.wall = true; },
         "frames", 2, {"init", "frame", "frame", "quit"}, {0, 1}, {}},
        {"a failed Init: no Render, no Quit", [](FakePlayer &f, RunOptions &) { f.init_result = 1; },
         "init_failed", 0, {"init"}, {}, {}},
        {"the plug-in's quit message", [](FakePlayer &f, RunOptions &o) { o.frames = 5; f.quit_message_at = 2; },
         "quit_message", 2, {"init", "frame", "frame", "quit_message", "quit"}, {0, 1}, {0.02}},
        {"Render asks to end: that frame is not kept",
         [](FakePlayer &f, RunOptions &o) { o.frames = 5; o.capture = "shots"; f.render_ends_at = 1; },
         "render_ended", 1, {"init", "frame", "capture", "frame", "quit"}, {0, 1}, {0.02}},
        {"a capture that cannot be written ends the run, unwritten to the video",
         [](FakePlayer &f, RunOptions &o) { o.frames = 5; o.capture = "shots"; o.video = "v"; f.capture_lost_at = 1; },
         "capture_failed", 2, {"init", "frame", "capture", "frame", "capture", "error", "quit"}, {0, 1}, {0.02}},
        {"nothing to capture is no failure",
         [](FakePlayer &f, RunOptions &o) { o.frames = 2; o.capture = "shots"; f.capture_reads = false; },
         "frames", 2, {"init", "frame", "capture", "frame", "capture", "quit"}, {0, 1}, {0.02}},
        {"a lost video frame ends the run",
         [](FakePlayer &f, RunOptions &o) { o.frames = 5; o.video = "v"; f.video_lost_at = 0; },
         "video_failed", 1, {"init", "frame", "error", "quit"}, {0}, {}},
        {"a stop request ends the run after its frame, with Quit",
         [](FakePlayer &f, RunOptions &o) { o.frames = 5; f.stop_at = 1; },
         "interrupted", 2, {"init", "frame", "frame", "quit"}, {0, 1}, {0.02, 0.02}},
        {"a stop request before the start: no Init", [](FakePlayer &, RunOptions &) { run_stop_request(SIGINT); },
         "interrupted", 0, {}, {}, {}},
        {"real time: a slow frame skips rows, the stream's end ends the run",
         [](FakePlayer &f, RunOptions &o) { o.realtime = true; o.delay_override = 0; f.render_seconds = 0.25; },
         "stream_end", 4, {"init", "frame", "frame", "frame", "frame", "quit"}, {0, 2, 5, 7}, {}},
        {"real time: the sound's end ends the run",
         [](FakePlayer &f, RunOptions &o) {
             o.realtime = true;
             o.delay_override = 0;
             f.render_seconds = 0.25;
             f.sound_ends = 0.5;
         },
         "stream_end", 2, {"init", "frame", "frame", "quit"}, {0, 2}, {}},
        {"a source that ends (a live stream's feeder gone) ends the run before that row's Render",
         [](FakePlayer &f, RunOptions &o) { o.frames = 5; f.source_stops_at = 2; },
         "stream_end", 2, {"init", "frame", "frame", "quit"}, {0, 1, 2}, {0.02, 0.02}},
        {"a source that fails (a stream broken off) fails the run with its reason",
         [](FakePlayer &f, RunOptions &o) { o.frames = 5; f.source_stops_at = 1; f.source_fails = true; },
         "stream_failed", 1, {"init", "frame", "error", "quit"}, {0, 1}, {0.02}},
        {"Render after Quit takes the rows from where the frames ended",
         [](FakePlayer &, RunOptions &o) { o.frames = 1; o.render_after_quit = 2; },
         "frames", 1, {"init", "frame", "quit", "frame", "frame"}, {0, 1, 2}, {}},
    };
    const std::string log = testing::TempDir() + "frame_loop_events.jsonl";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        g_fake = FakePlayer();
        RunOptions options;
        options.delay_override = 20;
        c.set(g_fake, options);
        RowSource rows;
        rows.feed = feed;
        rows.rate_numerator = 10;  // rows a second
        rows.count = 10;
        rows.stopped = source_stopped;
        VisModule module = {};
        module.init = fake_init;
        module.render = fake_render;
        module.quit = fake_quit;
        RunTotals totals;
        ASSERT_TRUE(event_log_open(log.c_str()));
        const std::string reason = run_module(options, &module, 0, kPacing, rows, kOutlet, &totals);
        event_log_close();
        run_stop_request(0);

        EXPECT_EQ(reason, c.reason);
        EXPECT_EQ(totals.frames, c.frames);
        EXPECT_EQ(event_names(log), c.events);
        EXPECT_EQ(g_fake.rows, c.rows);
        EXPECT_EQ(g_fake.sleeps, c.sleeps);
        EXPECT_EQ(totals.init_failed, reason == "init_failed");
        EXPECT_EQ(totals.capture_failed, reason == "capture_failed");
        EXPECT_EQ(totals.video_failed, reason == "video_failed");
        EXPECT_EQ(totals.stream_failed, reason == "stream_failed");
        EXPECT_EQ(g_fake.quits, g_fake.inits == 1 && g_fake.init_result == 0 ? 1 : 0);
    }
}
