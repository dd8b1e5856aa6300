#include "render/frame_clock.h"

// 0 until the first frame: bones are recomputed at every call while it stays 0.
uint32_t FrameClock = 0;
