#include "render/view_volume.h"

#include <cmath>

#include "render/view_transforms.h"
#include "shell/display.h"
#include "shell/plugin_state.h"

namespace {

// v turned by the angle about the axis, as glRotatef turns it (Rodrigues' formula).
void turn_point(double v[3], const CameraTurn &turn) {
    const double radians = double(turn.degrees) * (3.14159265358979323846 / 180.0);
    const double c = std::cos(radians), s = std::sin(radians);
    const double length = std::sqrt(double(vec3_dot(turn.axis, turn.axis)));
    if (length == 0) return;  // GL leaves the matrix alone too
    const double k[3] = {turn.axis.x / length, turn.axis.y / length, turn.axis.z / length};
    const double along = k[0] * v[0] + k[1] * v[1] + k[2] * v[2];
    const double cross[3] = {k[1] * v[2] - k[2] * v[1], k[2] * v[0] - k[0] * v[2], k[0] * v[1] - k[1] * v[0]};
    for (int i = 0; i < 3; ++i) v[i] = v[i] * c + cross[i] * s + k[i] * along * (1 - c);
}

}  // namespace

bool sphere_outside_view(const Vec3 &centre, float radius) {
    const int32_t width = plugin_state.viewport_width, height = plugin_state.viewport_height;
    if (width <= 0 || height <= 0 || !(radius >= 0)) return false;
    // Into the camera's space, where it looks along -z: the translation first, then the turns
    // from the last to the first, as the modelview matrix applies them to a vertex.
    double v[3] = {double(centre.x) - camera_position.x, double(centre.y) - camera_position.y,
                   double(centre.z) - camera_position.z};
    CameraTurn turns[kCameraTurns];
    camera_turns(turns);
    for (int t = kCameraTurns - 1; t >= 0; --t) turn_point(v, turns[t]);
    const double x = v[0], y = v[1], depth = -v[2];

    // A margin far beyond GL's float rounding of the same vertices.
    const double r = 1.01 * double(radius) + 1e-3 * (std::fabs(x) + std::fabs(y) + std::fabs(depth));
    const PerspectiveFrustum f = perspective_frustum(width, height);
    const double side = std::sqrt(f.near_plane * f.near_plane + f.right * f.right);
    const double top = std::sqrt(f.near_plane * f.near_plane + f.top * f.top);
    // Each plane's distance from the centre, positive outside.
    const double outside[6] = {
        f.near_plane - depth,                            // near
        depth - f.far_plane,                             // far
        (f.near_plane * x - f.right * depth) / side,     // right
        (-f.near_plane * x - f.right * depth) / side,    // left
        (f.near_plane * y - f.top * depth) / top,        // top
        (-f.near_plane * y - f.top * depth) / top,       // bottom
    };
    for (double distance : outside)
        if (distance > r) return true;
    return false;
}
