// The per-frame scene: the clock, the audio measure, the spheres and their lights.
#pragma once

void scene_update();
// Reads the optional position and angle offsets added to every sphere.
void load_model_offsets();
