// The render window, its GL context, the projection and the teardown.
#pragma once

constexpr const char kWindowClassName[] = "f_Halcyonsphere";
constexpr int kIconResource = 101;

// Opens the window and makes its GL context current; false after the error code was shown.
bool open_display();
void set_viewport(int width, int height);
// The perspective projection that set_viewport gives a window of that size (at least 1 × 1).
struct PerspectiveFrustum {
    double right, top, near_plane, far_plane;  // glFrustum's -right..right, -top..top at near_plane
};
PerspectiveFrustum perspective_frustum(int width, int height);
bool init_gl_state();
// A pixel-space projection with the origin at the top left, used in pairs.
void begin_overlay_2d();
void end_overlay_2d();
bool destroy_display();
