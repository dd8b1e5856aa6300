#include "player/run_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/dialog_answers.h"

namespace {

// The arguments through the shared functions as both players' parsers take them; the error, or "".
std::string parse(std::vector<const char *> args, RunOptions *options) {
    for (size_t i = 0; i < args.size(); ++i) {
        const char *value = i + 1 < args.size() ? args[i + 1] : nullptr;
        bool ok = true;
        if (run_option_flag(args[i], options)) continue;
        if (!value || !run_option_value(args[i], value, options, &ok)) return std::string("unknown ") + args[i];
        if (!ok) return std::string("bad ") + args[i];
        ++i;
    }
    std::string error;
    return run_options_check(*options, &error) ? "" : error;
}

TEST(RunOptions, EachOptionSetsItsField) {
    RunOptions o;
    ASSERT_EQ(parse({"--frames", "7", "--delay", "0x10", "--probe-answer", "-1", "--sample-rate", "22050",
                     "--channels", "64", "--spectrum", "tone:3", "--answer", "yes,close,default,ignore",
                     "--escape-at", "4", "--close-at", "5", "--render-after-quit", "1000", "--capture", "shots",
                     "--capture-every", "3", "--cycles", "2", "--video", "-", "--track", "a.flac", "--pacing", "auto",
                     "--wait-for", "go", "--clock-ms", "1000/30", "--clock-start", "0xFFFFFFFF", "--log", "e.jsonl",
                     "--no-embed", "--quit-after-failed-init"},
                    &o),
              "");
    EXPECT_TRUE(o.frames_given && o.channels_given);
    EXPECT_EQ(o.frames, 7);
    EXPECT_EQ(o.delay_override, 16);
    EXPECT_EQ(o.probe_answer, -1);
    EXPECT_EQ(o.sample_rate, 22050);
    EXPECT_EQ(o.channels, 64);
    EXPECT_EQ(o.spectrum.kind, SpectrumKind::tone);
    EXPECT_EQ(o.answers, (std::vector<int>{6, kAnswerCloseBox, kAnswerDefault, 5}));
    EXPECT_EQ(o.escape_at, 4);
    EXPECT_EQ(o.close_at, 5);
    EXPECT_EQ(o.render_after_quit, 1000);
    EXPECT_STREQ(o.capture, "shots");
    EXPECT_EQ(o.capture_every, 3);
    EXPECT_EQ(o.cycles, 2);
    EXPECT_STREQ(o.video, "-");
    EXPECT_STREQ(o.track, "a.flac");
    EXPECT_EQ(o.pacing, Pacing::automatic);
    EXPECT_STREQ(o.wait_for, "go");
    EXPECT_TRUE(o.clock.enabled);
    EXPECT_DOUBLE_EQ(o.clock.step_ms, 1000.0 / 30);
    EXPECT_EQ(o.clock.start, 0xFFFFFFFFu);
    EXPECT_STREQ(o.log, "e.jsonl");
    EXPECT_FALSE(o.embed);
    EXPECT_TRUE(o.quit_after_failed_init);

    RunOptions defaults;
    ASSERT_EQ(parse({}, &defaults), "");
    EXPECT_EQ(defaults.frames, 50);
    EXPECT_EQ(defaults.probe_answer, 0x5066);
    EXPECT_EQ(defaults.clock.start, 10000u);
    EXPECT_TRUE(defaults.embed);
}

TEST(RunOptions, BadValuesAndMissingCompanionsAreRefused) {
    const struct {
        std::vector<const char *> args;
        const char *error;
    } cases[] = {
        {{"--frames", "-1"}, "bad --frames"},
        {{"--frames", "100000001"}, "bad --frames"},
        {{"--delay", "10001"}, "bad --delay"},
        {{"--channels", "65"}, "bad --channels"},
        {{"--probe-answer", "0x100000000"}, "bad --probe-answer"},
        {{"--capture-every", "0"}, "bad --capture-every"},
        {{"--cycles", "1001"}, "bad --cycles"},
        {{"--render-after-quit", "1001"}, "bad --render-after-quit"},
        {{"--answer", "ok,maybe"}, "bad --answer"},
        {{"--answer", "ok,"}, "bad --answer"},
        {{"--pacing", "fast"}, "bad --pacing"},
        {{"--clock-ms", "0"}, "bad --clock-ms"},
        {{"--clock-start", "-1"}, "bad --clock-start"},
        {{"--spectrum", "noise"}, "bad --spectrum"},
        {{"--frames"}, "unknown --frames"},
        {{"--dll", "x.dll"}, "unknown --dll"},
        {{"--realtime", "--spectrum", "silence"}, "--realtime needs --spectrum stream:FILE"},
        {{"--pacing", "wall"}, "--pacing wall or auto needs --clock-ms (the step) and goes without --realtime"},
        {{"--pacing", "auto", "--clock-ms", "40", "--realtime", "--spectrum", "stream:x"},
         "--pacing wall or auto needs --clock-ms (the step) and goes without --realtime"},
        {{"--clock-start", "5"}, "--clock-start needs --clock-ms"},
    };
    for (const auto &c : cases) {
        RunOptions options;
        EXPECT_EQ(parse(c.args, &options), c.error) << c.args[0];
    }
}

}  // namespace
