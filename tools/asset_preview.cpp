#include "tools/asset_preview.h"

#include <stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "image/bmp_reader.h"
#include "model/model_table.h"
#include "model/skeletal_pose.h"
#include "model/tangent_frames.h"

namespace {

constexpr int kPanelWidth = 384, kPanelHeight = 288;  // the default window, three quarters
constexpr int kSupersample = 2;
constexpr int kPanelsPerRow = 4;

struct Texture {
    int width = 0, height = 0;
    std::vector<float> rgba;  // 0..1
};

struct Rgba {
    float r, g, b, a;
};

bool load_texture(const std::string &path, Texture &out, std::string *error) {
    if (!bmp_open(path.c_str())) {
        *error = path + ": cannot be opened";
        return false;
    }
    RgbaImage *image = bmp_read(0, 0);
    if (!image) *error = path + ": " + bmp_last_failure();
    bmp_close();
    if (!image) return false;
    out.width = image->width;
    out.height = image->height;
    out.rgba.resize(size_t(image->width) * size_t(image->height) * 4);
    for (size_t i = 0; i < out.rgba.size(); ++i) out.rgba[i] = image->pixels[i] / 255.0f;
    std::free(image);
    return true;
}

// Bilinear filtering with GL_CLAMP: coordinates clamp to 0..1 and the texels beyond the edge are
// the border colour, transparent black, as the plug-in's image textures are set up.
Rgba sample(const Texture &t, float s, float u) {
    s = std::clamp(s, 0.0f, 1.0f);
    u = std::clamp(u, 0.0f, 1.0f);
    const float x = s * t.width - 0.5f, y = u * t.height - 0.5f;
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    const float fx = x - x0, fy = y - y0;
    float out[4] = {0, 0, 0, 0};
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
            const int xi = x0 + dx, yi = y0 + dy;
            if (xi < 0 || yi < 0 || xi >= t.width || yi >= t.height) continue;
            const float w = (dx ? fx : 1 - fx) * (dy ? fy : 1 - fy);
            const float *texel = &t.rgba[(size_t(yi) * size_t(t.width) + size_t(xi)) * 4];
            for (int c = 0; c < 4; ++c) out[c] += w * texel[c];
        }
    return {out[0], out[1], out[2], out[3]};
}

struct V3 {
    float x, y, z;
};
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator*(V3 a, float f) { return {a.x * f, a.y * f, a.z * f}; }
float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 normalized(V3 v) {
    const float l = std::sqrt(dot(v, v));
    return l > 0 ? v * (1 / l) : v;
}
float saturate(float v) { return std::clamp(v, 0.0f, 1.0f); }

// The lighting of one fragment, after the fragment program: parallax shift by the height, the
// normal from the map, diffuse and specular terms, a horizon fade.
V3 shade(const Texture &normal_map, const Texture &decal, float s, float t, V3 eye, V3 light, V3 colour, float level) {
    eye = normalized(eye);
    light = normalized(light);
    const float shift = sample(normal_map, s, t).a * 0.035f - 0.0175f;
    const float ps = s + eye.x * shift, pt = t + eye.y * shift;
    const Rgba n = sample(normal_map, ps, pt);
    const V3 normal = normalized({2 * n.r - 1, 2 * n.g - 1, 2 * n.b - 1});
    const Rgba d = sample(decal, ps, pt);
    const float diffuse = saturate(dot(normal, light));
    const float specular = std::pow(saturate(dot(normal, normalized(light + eye))), 32.0f) * (level * 0.65f + 0.35f);
    const float horizon = saturate(light.z * 4);
    return V3{d.r * diffuse * colour.x + 0.06f + colour.x * specular, d.g * diffuse * colour.y + 0.06f + colour.y * specular,
              d.b * diffuse * colour.z + 0.07f + colour.z * specular} *
           horizon;
}

struct View {
    const char *model;
    bool detailed;      // the normal map's alpha from height_d.bmp
    float angles[3];    // the entity's, degrees
    V3 light_colour;
};

// Rows of the entity transform: translate, then rotate a1 about z, a2 about y, -a0 about x.
void entity_rotation(const float angles[3], double r[3][3]) {
    auto rot = [](int axis, double degrees, double m[3][3]) {
        const double a = degrees * 3.14159265358979323846 / 180, c = std::cos(a), s = std::sin(a);
        const int i = (axis + 1) % 3, j = (axis + 2) % 3;
        for (int p = 0; p < 3; ++p)
            for (int q = 0; q < 3; ++q) m[p][q] = p == q;
        m[i][i] = c, m[i][j] = -s, m[j][i] = s, m[j][j] = c;
    };
    auto multiply = [](const double a[3][3], const double b[3][3], double out[3][3]) {
        for (int p = 0; p < 3; ++p)
            for (int q = 0; q < 3; ++q) out[p][q] = a[p][0] * b[0][q] + a[p][1] * b[1][q] + a[p][2] * b[2][q];
    };
    double z[3][3], y[3][3], x[3][3], zy[3][3];
    rot(2, angles[1], z);
    rot(1, angles[2], y);
    rot(0, -angles[0], x);
    multiply(z, y, zy);
    multiply(zy, x, r);
}

struct Panel {
    int width, height;
    std::vector<V3> colour;
    std::vector<float> depth;  // 1/w of the nearest surface so far
};

void draw_view(const View &view, Mesh &mesh, const Texture &normal_map, const Texture &decal, Panel &panel) {
    const V3 position{150, 0, 0};
    double r[3][3];
    entity_rotation(view.angles, r);
    // World to object: the transposed rotation of the offset from the entity.
    auto to_object = [&](V3 w) {
        const double d[3] = {w.x - position.x, w.y - position.y, w.z - position.z};
        return Vec3{float(r[0][0] * d[0] + r[1][0] * d[1] + r[2][0] * d[2]), float(r[0][1] * d[0] + r[1][1] * d[1] + r[2][1] * d[2]),
                    float(r[0][2] * d[0] + r[1][2] * d[1] + r[2][2] * d[2])};
    };
    const Vec3 eye = to_object({0, 0, 0});
    const Vec3 light = to_object({position.x - 2000, position.y, position.z + 300});
    const size_t count = size_t(mesh.vertex_count);
    std::vector<TangentFrame> frames(count);
    std::vector<Vec3> light_vectors(count), eye_vectors(count);
    compute_mesh_tangent_frames(mesh, frames.data());
    compute_mesh_tangent_space_vectors(mesh, frames.data(), light, eye, light_vectors.data(), eye_vectors.data());
    const TexCoordPair *uv = mesh_tex_coord_pairs(mesh);
    // Screen position and 1/w of every vertex: world x into the screen, y to the left, z up; 45°.
    const float focal = 1.0f / std::tan(3.14159265f / 8);
    const float aspect = float(panel.width) / float(panel.height);
    struct Projected {
        float x, y, inv_w;
    };
    std::vector<Projected> screen(size_t(mesh.vertex_count));
    for (int32_t v = 0; v < mesh.vertex_count; ++v) {
        const Vec3 &p = mesh.posed_positions[v];
        const double w[3] = {r[0][0] * p.x + r[0][1] * p.y + r[0][2] * p.z + position.x,
                             r[1][0] * p.x + r[1][1] * p.y + r[1][2] * p.z + position.y,
                             r[2][0] * p.x + r[2][1] * p.y + r[2][2] * p.z + position.z};
        const float inv_w = float(1 / w[0]);
        screen[size_t(v)] = {float((1 + -w[1] * inv_w * focal / aspect) / 2 * panel.width),
                             float((1 - w[2] * inv_w * focal) / 2 * panel.height), inv_w};
    }
    for (int32_t t = 0; t < mesh.triangle_count; ++t) {
        const uint32_t *ix = &mesh.indices[3 * t];
        const Projected &a = screen[ix[0]], &b = screen[ix[1]], &c = screen[ix[2]];
        const float area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
        if (area == 0) continue;
        const int x0 = std::max(0, int(std::floor(std::min({a.x, b.x, c.x}))));
        const int x1 = std::min(panel.width - 1, int(std::ceil(std::max({a.x, b.x, c.x}))));
        const int y0 = std::max(0, int(std::floor(std::min({a.y, b.y, c.y}))));
        const int y1 = std::min(panel.height - 1, int(std::ceil(std::max({a.y, b.y, c.y}))));
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const float px = x + 0.5f, py = y + 0.5f;
                const float wa = ((b.x - px) * (c.y - py) - (b.y - py) * (c.x - px)) / area;
                const float wb = ((c.x - px) * (a.y - py) - (c.y - py) * (a.x - px)) / area;
                const float wc = 1 - wa - wb;
                if (wa < 0 || wb < 0 || wc < 0) continue;
                const float inv_w = wa * a.inv_w + wb * b.inv_w + wc * c.inv_w;
                float &depth = panel.depth[size_t(y) * size_t(panel.width) + size_t(x)];
                if (inv_w <= depth) continue;
                depth = inv_w;
                // Perspective-correct weights, as GL interpolates texture coordinates.
                const float pa = wa * a.inv_w / inv_w, pb = wb * b.inv_w / inv_w, pc = wc * c.inv_w / inv_w;
                auto lerp3 = [&](const Vec3 *array) {
                    const Vec3 &va = array[ix[0]], &vb = array[ix[1]], &vc = array[ix[2]];
                    return V3{pa * va.x + pb * vb.x + pc * vc.x, pa * va.y + pb * vb.y + pc * vc.y,
                              pa * va.z + pb * vb.z + pc * vc.z};
                };
                const float s = pa * uv[ix[0]].s + pb * uv[ix[1]].s + pc * uv[ix[2]].s;
                const float tt = pa * uv[ix[0]].t + pb * uv[ix[1]].t + pc * uv[ix[2]].t;
                panel.colour[size_t(y) * size_t(panel.width) + size_t(x)] =
                    shade(normal_map, decal, s, tt, lerp3(eye_vectors.data()), lerp3(light_vectors.data()),
                          view.light_colour, 0.5f);
            }
    }
}

Mesh *first_drawable_mesh(ModelFile *model) {
    for (Mesh *m = model ? model->meshes : nullptr; m; m = m->next)
        if (m->positions && m->triangle_count > 0 && m->tex_coords) return m;
    return nullptr;
}

// The normal map with a height map's red channel in its alpha, as asset loading merges them.
Texture merged(const Texture &normal, const Texture &height) {
    Texture out = normal;
    if (height.width == normal.width && height.height == normal.height)
        for (size_t k = 0; k < out.rgba.size() / 4; ++k) out.rgba[4 * k + 3] = height.rgba[4 * k];
    return out;
}

void put_pixel(std::vector<uint8_t> &image, int image_width, int x, int y, V3 c) {
    uint8_t *p = &image[(size_t(y) * size_t(image_width) + size_t(x)) * 4];
    p[0] = uint8_t(std::lround(saturate(c.x) * 255));
    p[1] = uint8_t(std::lround(saturate(c.y) * 255));
    p[2] = uint8_t(std::lround(saturate(c.z) * 255));
    p[3] = 255;
}

// A flat map scaled to width × height at (left, top), nearest texel, alpha ignored.
void put_map(std::vector<uint8_t> &image, int image_width, const Texture &t, int left, int top, int width, int height) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int tx = x * t.width / width, ty = y * t.height / height;
            const float *texel = &t.rgba[(size_t(ty) * size_t(t.width) + size_t(tx)) * 4];
            put_pixel(image, image_width, left + x, top + y, {texel[0], texel[1], texel[2]});
        }
}

}  // namespace

bool render_asset_preview(const char *folder, const char *png_path, std::string *error) {
    const std::string dir = std::string(folder) + "/";
    Texture decal, normal, height, detailed;
    if (!load_texture(dir + "decal.bmp", decal, error) || !load_texture(dir + "normal.bmp", normal, error) ||
        !load_texture(dir + "height.bmp", height, error) || !load_texture(dir + "height_d.bmp", detailed, error))
        return false;
    const Texture normal_plain = merged(normal, height), normal_detailed = merged(normal, detailed);

    const V3 white{1, 1, 1}, purple{1, 0.4f, 1}, green{0.35f, 1, 0.35f}, dim{0.45f, 0.3f, 0.45f};
    const View views[] = {
        {"sphere.qtl", false, {0, 90, 180}, white},     {"sphere.qtl", false, {0, 90, 180}, purple},
        {"sphere.qtl", false, {0, 90, 180}, green},     {"sphere.qtl", false, {0, 90, 180}, dim},
        {"sphere.qtl", false, {0, 180, 180}, white},    {"sphere.qtl", true, {-25, 270, 180}, purple},
        {"sphere2.qtl", false, {0, 90, 180}, white},    {"sphere2.qtl", false, {30, 0, 120}, green},
    };
    const int view_count = int(sizeof views / sizeof views[0]);
    const int rows = (view_count + kPanelsPerRow - 1) / kPanelsPerRow;
    const int map_height = kPanelWidth * kPanelsPerRow / 6;  // three 2:1 maps side by side
    const int image_width = kPanelWidth * kPanelsPerRow, image_height = kPanelHeight * rows + map_height;
    std::vector<uint8_t> image(size_t(image_width) * size_t(image_height) * 4, 0);

    for (int v = 0; v < view_count; ++v) {
        const std::string path = dir + views[v].model;
        Mesh *mesh = first_drawable_mesh(resolve_model_handle(load_model(path.c_str())));
        if (!mesh) {
            *error = path + ": no drawable mesh";
            release_all_models();
            return false;
        }
        Panel panel{kPanelWidth * kSupersample, kPanelHeight * kSupersample, {}, {}};
        panel.colour.assign(size_t(panel.width) * size_t(panel.height), V3{0, 0, 0});
        panel.depth.assign(panel.colour.size(), 0.0f);
        draw_view(views[v], *mesh, views[v].detailed ? normal_detailed : normal_plain, decal, panel);
        const int left = (v % kPanelsPerRow) * kPanelWidth, top = (v / kPanelsPerRow) * kPanelHeight;
        for (int y = 0; y < kPanelHeight; ++y)
            for (int x = 0; x < kPanelWidth; ++x) {
                V3 sum{0, 0, 0};
                for (int sy = 0; sy < kSupersample; ++sy)
                    for (int sx = 0; sx < kSupersample; ++sx)
                        sum = sum + panel.colour[size_t(y * kSupersample + sy) * size_t(panel.width) + size_t(x * kSupersample + sx)];
                put_pixel(image, image_width, left + x, top + y, sum * (1.0f / (kSupersample * kSupersample)));
            }
    }
    release_all_models();
    const int map_width = image_width / 3;
    put_map(image, image_width, decal, 0, kPanelHeight * rows, map_width, map_height);
    put_map(image, image_width, normal, map_width, kPanelHeight * rows, map_width, map_height);
    put_map(image, image_width, detailed, 2 * map_width, kPanelHeight * rows, map_width, map_height);
    if (!stbi_write_png(png_path, image_width, image_height, 4, image.data(), image_width * 4)) {
        *error = std::string(png_path) + ": cannot be written";
        return false;
    }
    return true;
}
