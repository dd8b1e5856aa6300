// The clock of the sound heard: where a frame of play takes its rows from.
#include "native/sound_clock.h"

#include <gtest/gtest.h>

namespace {

TEST(SoundClock, TheSoundHeardIsWhatPlayedLessTheLatencyAndAStallFallsBackToTheWallClock) {
    const double buffer = 0.02;
    const struct {
        const char *what;
        double handed, since, latency, heard;
    } cases[] = {
        {"before the first request", 0, 0.01, 0, 0},
        {"the first buffer playing", 0.02, 0.005, 0, 0.005},
        {"a buffer played to its end", 1.0, 0.02, 0, 1.0},
        {"a late request holds the clock at what was handed", 1.0, 0.3, 0, 1.0},
        {"the server's latency and the user's", 1.0, 0.01, 0.15, 0.84},
        {"a latency longer than what played", 0.1, 0.01, 0.25, 0},
        {"a stalled device: the wall clock", 1.0, buffer + kSoundStallSeconds + 0.4, 0, 1.4},
        {"a stalled device, with the latency", 1.0, buffer + kSoundStallSeconds + 0.4, 0.1, 1.3},
        {"a device that never started", 0, buffer + kSoundStallSeconds + 2, 0, 2},
    };
    for (const auto &c : cases) {
        SoundClockReading reading;
        reading.handed = c.handed;
        reading.buffer = buffer;
        reading.since = c.since;
        reading.latency = c.latency;
        EXPECT_NEAR(sound_clock_heard(reading), c.heard, 1e-9) << c.what;
    }
}

TEST(SoundClock, MovesOnWithoutAJumpIntoAStall) {
    SoundClockReading reading;
    reading.buffer = 0.02;
    reading.handed = 1.0;
    double last = 1.0 - reading.buffer;
    for (double since = 0; since < 2; since += 0.001) {
        reading.since = since;
        const double heard = sound_clock_heard(reading);
        EXPECT_GE(heard, last) << since;
        EXPECT_LE(heard - last, 0.0011) << since;
        last = heard;
    }
}

}  // namespace
