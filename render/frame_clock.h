// The frame's millisecond tick, sampled once at the start of each scene update.
// Per-frame caches store it as a stamp; equal stamps mean "already done this frame".
#pragma once

#include <cstdint>

extern uint32_t FrameClock;
