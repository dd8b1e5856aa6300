#include "render/scene_update.h"

void scene_update() {}

void load_model_offsets() {}
