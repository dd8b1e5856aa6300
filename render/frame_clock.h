// The frame's millisecond tick, sampled once at the start of each scene update: what moves the
// scene. Per-frame caches count frames instead (model/frame_number.h): two frames may share a tick.
#pragma once

#include <cstdint>

extern uint32_t FrameClock;
