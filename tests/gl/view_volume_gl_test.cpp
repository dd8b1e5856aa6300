// The view test against GL itself: wherever it calls a sphere outside, GL draws not one pixel of
// the sphere through the plug-in's camera and projection; and most spheres GL leaves out, it finds.
#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>

#include "render/frame_renderer.h"
#include "render/view_transforms.h"
#include "render/view_volume.h"
#include "shell/display.h"
#include "shell/lifecycle.h"
#include "tests/gl/gl_fixture.h"

namespace {

using ViewVolume = GlPluginTest;

TEST_F(ViewVolume, OutsideMeansGlDrawsNothing) {
    write_asset("sphere.qtl", uv_sphere_model(40, 16, 8));
    ASSERT_EQ(plugin_init(&module), 0);
    GLUquadric *quadric = gluNewQuadric();
    glDisable(GL_TEXTURE_2D);
    // GL's own answer: the lit pixels of a sphere whose corners lie on it and faces inside it.
    auto drawn_pixels = [&](const Vec3 &centre, float radius) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        apply_camera_transform();
        glTranslatef(centre.x, centre.y, centre.z);
        gluSphere(quadric, radius, 24, 12);
        const Frame f = read_frame();
        int lit = 0;
        for (size_t i = 0; i < f.rgba.size(); i += 4) lit += f.rgba[i] != 0;
        return lit;
    };
    const double half_height_per_depth = std::tan(3.14159265358979323846 / 8);
    int unseen = 0, found = 0;
    for (const auto &size : {std::pair<int, int>{160, 120}, {192, 108}, {90, 160}}) {
        set_viewport(size.first, size.second);
        const double half_width_per_depth = half_height_per_depth * size.first / size.second;
        for (float radius : {5.0f, 40.0f}) {
            // World x is the depth; y runs to the left, z up.
            for (float depth : {-2 * radius, radius / 2, 30.0f, 150.0f, 1500.0f, 8192 - radius / 2, 8192 + 2 * radius}) {
                const double reach_y = std::fabs(depth) * half_width_per_depth + 2 * radius;
                const double reach_z = std::fabs(depth) * half_height_per_depth + 2 * radius;
                for (int step = -12; step <= 12; ++step) {
                    const float t = float(step) / 8;  // the view's edges lie within -1..1
                    for (const Vec3 &centre : {Vec3{depth, float(t * reach_y), 0}, Vec3{depth, 0, float(t * reach_z)},
                                               Vec3{depth, float(t * reach_y), float(t * reach_z)}}) {
                        const bool outside = sphere_outside_view(centre, radius);
                        const int lit = drawn_pixels(centre, radius);
                        ASSERT_FALSE(outside && lit > 0)
                            << size.first << "x" << size.second << ": a sphere of radius " << radius << " at ("
                            << centre.x << ", " << centre.y << ", " << centre.z << ") shows " << lit << " pixels";
                        unseen += lit == 0;
                        found += outside;
                    }
                }
            }
        }
    }
    gluDeleteQuadric(quadric);
    glEnable(GL_TEXTURE_2D);
    plugin_quit(&module);
    // Not all of them: tiny far spheres fall between pixel centres, and the test leaves a margin.
    EXPECT_GT(found, unseen * 7 / 10) << "of " << unseen << " spheres GL draws nothing of, " << found << " are found";
}

}  // namespace
