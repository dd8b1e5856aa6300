// What the camera can see: the perspective projection's six planes, seen from the fixed camera.
#pragma once

#include "math/vec3.h"

// True when a sphere (centre in world space) lies wholly outside the view volume, so that nothing
// of it reaches a pixel. Leans towards false: a sphere that merely grazes a plane is kept, and
// one with a coordinate that is not a number is never outside.
bool sphere_outside_view(const Vec3 &centre, float radius);
