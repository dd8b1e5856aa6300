// The passes of one frame: feedback background, the spheres, the radial blur.
#pragma once

void frame_render();
