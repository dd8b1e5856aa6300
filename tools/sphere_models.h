// The two sphere models of the asset set, as model files with the 0x1337 chunk ids: a UV sphere,
// and a softly lobed sphere whose file carries a skeleton, vertex weights and weight ranges.
#pragma once

#include <cstdint>
#include <vector>

// The scene puts a sphere about 150 units in front of a camera with a 45° vertical field of view,
// which sees ±62 units there: this radius fills most of the height and leaves room to float.
constexpr float kSphereRadius = 42.0f;
constexpr int kSphereSegments = 48;  // around the axis: smooth silhouettes at any size the scene gives
constexpr int kSphereRings = 24;     // from pole to pole

std::vector<uint8_t> make_sphere_model(int texture_width, int texture_height);
std::vector<uint8_t> make_lobed_sphere_model(int texture_width, int texture_height);
