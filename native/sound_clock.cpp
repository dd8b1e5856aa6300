#include "native/sound_clock.h"

#include <algorithm>

double sound_clock_heard(const SoundClockReading &reading) {
    const double stalled = reading.since - reading.buffer - kSoundStallSeconds;
    const double played = stalled > 0 ? reading.handed + stalled
                                      : reading.handed - reading.buffer + std::min(reading.since, reading.buffer);
    return std::max(0.0, played - reading.latency);
}
