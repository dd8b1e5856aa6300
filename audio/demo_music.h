// The demo's music, made here so that the demo needs no download: 120 beats a minute in A minor
// (Am F C G), a quiet intro of pads and hi-hats on the left, a groove with kick, snare and bass, a
// break where an arpeggio on the right takes over, and a loud drop where everything plays and the
// lead sweeps from side to side. The channels differ on purpose: the plug-in colours the light
// from the left channel (red, blue) and the right one (green).
#pragma once

#include <vector>

// Interleaved stereo samples in -1 .. 1; the same every time.
std::vector<float> demo_music_render(int sample_rate, double seconds);
