#include "render/frame_clock.h"

uint32_t FrameClock = 0;  // until the first frame
