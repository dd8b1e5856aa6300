// How the native program paces frames (frame_loop.h's FramePacing): by the clock, by the wall
// clock's step, or in real time following the sound it plays; with its GL logged and its sound
// opened after Init.
#pragma once

#include "player/frame_loop.h"

extern const FramePacing kNativePacing;

// The audio to play with the frames (null: none), before the first cycle.
void native_pacing_play(const char *sound);
