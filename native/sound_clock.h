// Where in the sound the listener is: the arithmetic behind sound_out.h's clock, apart from the
// device so that it can be checked by itself.
#pragma once

struct SoundClockReading {
    double handed = 0;   // seconds of sound the device has taken so far
    double buffer = 0;   // seconds one of its requests takes
    double since = 0;    // seconds since its last request (or since the start, before the first)
    double latency = 0;  // seconds from the device taking a sample to its being heard
};

// A device that asks for nothing this long past its buffer has stalled; the clock then goes on by
// the wall clock, so that a real-time run still ends.
constexpr double kSoundStallSeconds = 0.5;

// Seconds of the sound heard: the buffer last taken plays from the moment it was asked for, is
// heard `latency` later, and never before the start.
double sound_clock_heard(const SoundClockReading &reading);
