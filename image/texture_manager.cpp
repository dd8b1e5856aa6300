#include "image/texture_manager.h"

void normalization_cube_map_create() {}
