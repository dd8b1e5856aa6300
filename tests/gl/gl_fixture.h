// The plug-in over the fake platform with a real GL context (Mesa's llvmpipe, no window): Init,
// Render and the drawing run for real, and the frame is read back from the GL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/fakes/plugin_fixture.h"
#include "tools/offscreen_gl.h"

struct Frame {
    int width, height;
    std::vector<uint8_t> rgba;  // top row first

    const uint8_t *at(int x, int y) const { return &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4]; }
    // Mean of R, G and B over a rectangle, 0..255.
    double brightness(int x0, int y0, int x1, int y1) const;
    double brightness() const { return brightness(0, 0, width, height); }
    // Largest difference of any colour component between two frames of the same size.
    int largest_difference(const Frame &other) const;
    bool write_png(const std::string &path) const;
};

// Big enough for every test's window; the viewport picks the part in use.
constexpr int kFramebufferWidth = 1024, kFramebufferHeight = 768;

class GlPluginTest : public PluginTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Options as useropt.cfg holds them; fields left out keep their defaults.
    void write_options(int32_t width, int32_t height, int32_t sphere_count = 1, int32_t radial_brightness = 384);
    void set_spectrum(uint8_t first_channel, uint8_t second_channel);
    // Render at tick t, then the frame as the window shows it.
    Frame render_at(uint32_t tick);
    Frame read_frame();

    OffscreenGl gl{};
};

// The shipped fragment program's text.
std::string shipped_light_program();
// A sphere model of the given radius with texture coordinates, counter-clockwise from outside.
std::vector<uint8_t> uv_sphere_model(float radius, int longitudes, int latitudes);
