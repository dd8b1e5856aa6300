#include "render/frame_renderer.h"

void frame_render() {}
