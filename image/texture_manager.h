// GL textures: names from one running counter, and the normalization cube map.
#pragma once

// Builds the cube map that turns any vector into its normalised form; only the first call works.
void normalization_cube_map_create();
