#include "tests/gl/gl_fixture.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "settings/user_options.h"
#include "shell/lifecycle.h"
#include "shell/plugin_state.h"
#include "tests/model/model_image.h"

// The fake platform's WGL hands out the real GL's entry points here.
void *platform_wgl_get_proc_address(const char *name) { return offscreen_gl_proc_address(name); }

double Frame::brightness(int x0, int y0, int x1, int y1) const {
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) sum += at(x, y)[0] + at(x, y)[1] + at(x, y)[2];
    const double count = double(x1 - x0) * double(y1 - y0) * 3;
    return count > 0 ? sum / count : 0;
}

int Frame::largest_difference(const Frame &other) const {
    int largest = 0;
    for (size_t i = 0; i < rgba.size() && i < other.rgba.size(); ++i)
        if (i % 4 != 3) largest = std::max(largest, std::abs(int(rgba[i]) - int(other.rgba[i])));
    return largest;
}

bool Frame::write_png(const std::string &path) const {
    return stbi_write_png(path.c_str(), width, height, 4, rgba.data(), width * 4) != 0;
}

void GlPluginTest::SetUp() {
    PluginTest::SetUp();
    std::string error;
    ASSERT_TRUE(offscreen_gl_create(&gl, kFramebufferWidth, kFramebufferHeight, &error)) << error;
}

void GlPluginTest::TearDown() {
    offscreen_gl_destroy(&gl);
    PluginTest::TearDown();
}

void GlPluginTest::write_options(int32_t width, int32_t height, int32_t sphere_count, int32_t radial_brightness) {
    UserOptions options = default_user_options();
    options.width = width;
    options.height = height;
    options.sphere_count = sphere_count;
    options.radial_brightness = radial_brightness;
    const uint8_t *bytes = reinterpret_cast<const uint8_t *>(&options);
    write_asset("useropt.cfg", std::vector<uint8_t>(bytes, bytes + sizeof options));
}

void GlPluginTest::set_spectrum(uint8_t first_channel, uint8_t second_channel) {
    std::memset(module.spectrum_data[0], first_channel, sizeof module.spectrum_data[0]);
    std::memset(module.spectrum_data[1], second_channel, sizeof module.spectrum_data[1]);
}

Frame GlPluginTest::render_at(uint32_t tick) {
    fake.tick_count = tick;
    plugin_render(&module);
    return read_frame();
}

Frame GlPluginTest::read_frame() {
    // No more than the offscreen framebuffer holds, whatever size the options ask for.
    Frame frame{std::min(plugin_state.viewport_width, kFramebufferWidth), std::min(plugin_state.viewport_height, kFramebufferHeight), {}};
    frame.rgba.resize(size_t(frame.width) * size_t(frame.height) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, frame.width, frame.height, GL_RGBA, GL_UNSIGNED_BYTE, frame.rgba.data());
    // GL's rows start at the bottom.
    const size_t row = size_t(frame.width) * 4;
    for (int y = 0; y < frame.height / 2; ++y)
        std::swap_ranges(frame.rgba.begin() + long(size_t(y) * row), frame.rgba.begin() + long(size_t(y + 1) * row),
                         frame.rgba.begin() + long(size_t(frame.height - 1 - y) * row));
    return frame;
}

std::string shipped_light_program() {
    std::ifstream in(HALCYON_SOURCE_DIR "/assets/light_std.fp", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> uv_sphere_model(float radius, int longitudes, int latitudes) {
    std::vector<Vec3> positions;
    std::vector<std::pair<float, float>> uv;
    std::vector<std::vector<uint16_t>> triangles;
    const double pi = 3.14159265358979323846;
    for (int j = 0; j <= latitudes; ++j) {
        const double theta = pi * j / latitudes;
        for (int i = 0; i <= longitudes; ++i) {
            const double phi = 2 * pi * i / longitudes;
            positions.push_back({float(radius * std::sin(theta) * std::cos(phi)),
                                 float(radius * std::sin(theta) * std::sin(phi)), float(radius * std::cos(theta))});
            uv.push_back({float(i) / float(longitudes), float(j) / float(latitudes)});
        }
    }
    for (int j = 0; j < latitudes; ++j)
        for (int i = 0; i < longitudes; ++i) {
            const uint16_t a = uint16_t(j * (longitudes + 1) + i), b = uint16_t(a + 1),
                           c = uint16_t(a + longitudes + 1), d = uint16_t(c + 1);
            if (j > 0) triangles.push_back({a, c, b});
            if (j < latitudes - 1) triangles.push_back({b, c, d});
        }
    ModelImage image;
    image.magic();
    image.mesh_start("sphere").vertices(positions).triangles(triangles).tex_coords(uv);
    return image.bytes;
}
