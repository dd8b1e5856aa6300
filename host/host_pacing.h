// How the Windows host paces frames (frame_loop.h's FramePacing): by the clock, or in real time
// decided from the first frame (wall, for a plug-in that draws on its own schedule), waiting for a
// picture from a plug-in that draws on a thread of its own; a real-time frame takes the row of the
// time since the start.
#pragma once

#include "player/frame_loop.h"

extern const FramePacing kHostPacing;
