#include "model/frame_number.h"

uint32_t FrameNumber = 1;
