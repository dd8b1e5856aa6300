// The number of the frame being drawn: 1 until the first frame, then one more per frame (the
// renderer advances it), and never 0. Every per-frame cache stamps what it computed with it, so a
// fresh record's stamp of 0 is never current and needs no flag beside it.
#pragma once

#include <cstdint>

extern uint32_t FrameNumber;

// The next frame; after 2^32 - 1 frames the count starts again at 1.
inline void advance_frame_number() {
    if (++FrameNumber == 0) FrameNumber = 1;
}
