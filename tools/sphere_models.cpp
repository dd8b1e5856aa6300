#include "tools/sphere_models.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "model/file_layout.h"
#include "tools/asset_math.h"

namespace {

// Every vertex of the UV sphere: the pole rows have one vertex per segment (each with the s of its
// segment's middle), the other rings one more than segments, the last repeating the first meridian
// with s = 1, so the texture wraps without a seam of shared vertices.
struct SphereMesh {
    std::vector<Point3> directions;  // unit, outward
    std::vector<TexCoordPair> uv;
    std::vector<int> weld;           // the first vertex at the same place on the sphere
    std::vector<FileTriangle> triangles;
};

Point3 sphere_direction(double u, double v, bool top_pole, bool bottom_pole) {
    const double sin_theta = top_pole || bottom_pole ? 0.0 : steady_sin(kPi * v);
    const double cos_theta = top_pole ? 1.0 : bottom_pole ? -1.0 : steady_cos(kPi * v);
    const double phi = 2 * kPi * u;
    return {-sin_theta * steady_sin(phi), -sin_theta * steady_cos(phi), -cos_theta};
}

SphereMesh build_sphere(int texture_width, int texture_height) {
    SphereMesh m;
    const int S = kSphereSegments, R = kSphereRings;
    // Texel centres: the pictures' first and last columns (rows) are the seam (the poles).
    auto add = [&](double u, double v, int row, int weld_to) {
        const bool top = row == 0, bottom = row == R;
        const double u_for_place = u >= 1.0 ? 0.0 : u;
        m.directions.push_back(sphere_direction(u_for_place, v, top, bottom));
        m.uv.push_back({float((0.5 + (texture_width - 1) * u) / texture_width),
                        float((0.5 + (texture_height - 1) * v) / texture_height)});
        m.weld.push_back(weld_to < 0 ? int(m.weld.size()) : weld_to);
    };
    for (int k = 0; k < S; ++k) add((k + 0.5) / S, 0.0, 0, k == 0 ? -1 : 0);
    const int first_ring = S;
    for (int j = 1; j < R; ++j) {
        const int start = int(m.weld.size());
        for (int k = 0; k <= S; ++k) add(double(k) / S, double(j) / R, j, k == S ? start : -1);
    }
    const int bottom = int(m.weld.size());
    for (int k = 0; k < S; ++k) add((k + 0.5) / S, 1.0, R, k == 0 ? -1 : bottom);

    auto ring = [&](int j, int k) { return uint16_t(first_ring + (j - 1) * (S + 1) + k); };
    // Counter-clockwise seen from outside: +s is east and +t south, so (a, below a, right of a).
    for (int k = 0; k < S; ++k) m.triangles.push_back({uint16_t(k), ring(1, k), ring(1, k + 1), 0});
    for (int j = 1; j < R - 1; ++j)
        for (int k = 0; k < S; ++k) {
            m.triangles.push_back({ring(j, k), ring(j + 1, k), ring(j, k + 1), 0});
            m.triangles.push_back({ring(j, k + 1), ring(j + 1, k), ring(j + 1, k + 1), 0});
        }
    for (int k = 0; k < S; ++k) m.triangles.push_back({ring(R - 1, k), uint16_t(bottom + k), ring(R - 1, k + 1), 0});
    return m;
}

// Twelve directions of an icosahedron's corners: the lobes of the second sphere.
std::vector<Point3> lobe_axes() {
    const double g = (1 + std::sqrt(5.0)) / 2, n = std::sqrt(1 + g * g);
    std::vector<Point3> axes;
    for (int s1 : {-1, 1})
        for (int s2 : {-1, 1}) {
            axes.push_back({0, s1 / n, s2 * g / n});
            axes.push_back({s1 / n, s2 * g / n, 0});
            axes.push_back({s2 * g / n, 0, s1 / n});
        }
    return axes;
}

double lobe_pull(const Point3 &d, const Point3 &axis) {
    const double c = d.x * axis.x + d.y * axis.y + d.z * axis.z;
    if (c <= 0) return 0;
    const double c2 = c * c, c4 = c2 * c2;
    return c4 * c4;
}

Point3 cross(const Point3 &a, const Point3 &b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Area-weighted face normals summed over each place on the sphere, so that the seam and the
// poles get the same normal as their neighbours.
std::vector<Point3> smooth_normals(const SphereMesh &m, const std::vector<PackedVec3> &positions) {
    std::vector<Point3> sum(positions.size(), Point3{0, 0, 0});
    for (const FileTriangle &t : m.triangles) {
        const PackedVec3 &pa = positions[t.i0], &pb = positions[t.i1], &pc = positions[t.i2];
        const Point3 a{pa.x, pa.y, pa.z}, b{pb.x, pb.y, pb.z}, c{pc.x, pc.y, pc.z};
        const Point3 n = cross({b.x - a.x, b.y - a.y, b.z - a.z}, {c.x - a.x, c.y - a.y, c.z - a.z});
        for (int v : {int(t.i0), int(t.i1), int(t.i2)}) {
            Point3 &s = sum[size_t(m.weld[size_t(v)])];
            s = {s.x + n.x, s.y + n.y, s.z + n.z};
        }
    }
    std::vector<Point3> normals(positions.size());
    for (size_t v = 0; v < positions.size(); ++v) {
        const Point3 &s = sum[size_t(m.weld[v])];
        const double length = std::sqrt(s.x * s.x + s.y * s.y + s.z * s.z);
        normals[v] = {s.x / length, s.y / length, s.z / length};
    }
    return normals;
}

struct ChunkWriter {
    std::vector<uint8_t> bytes;

    void u16(uint32_t v) {
        bytes.push_back(uint8_t(v));
        bytes.push_back(uint8_t(v >> 8));
    }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(v >> (8 * i)));
    }
    void f32(double v) {
        const float f = float(v);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        u32(bits);
    }
    void text(const std::string &s, size_t area) {
        for (size_t i = 0; i < area; ++i) bytes.push_back(i < s.size() ? uint8_t(s[i]) : 0);
    }
    // A chunk's size covers its header and everything up to the matching end.
    size_t begin(uint16_t id) {
        u16(id);
        u32(0);
        return bytes.size() - 6;
    }
    void end(size_t start) {
        const uint32_t size = uint32_t(bytes.size() - start);
        for (int i = 0; i < 4; ++i) bytes[start + 2 + size_t(i)] = uint8_t(size >> (8 * i));
    }
};

struct Skin {
    std::vector<std::string> bone_names, parent_names;
    std::vector<int> bones;       // per weight
    std::vector<float> weights;   // per weight
    std::vector<int> first, count;  // per vertex
};

std::vector<uint8_t> write_model(const char *name, const SphereMesh &m, const std::vector<PackedVec3> &positions,
                                 const std::vector<Point3> &normals, const Skin *skin) {
    ChunkWriter w;
    w.u16(kOwnFormatMagic);
    const size_t main = w.begin(0x1000);
    const size_t editor = w.begin(0x0001);
    const size_t mesh = w.begin(0x2000);
    w.text(name, std::strlen(name) + 1);
    const size_t triangle_mesh = w.begin(0x2100);

    size_t c = w.begin(0x2110);
    w.u16(uint32_t(positions.size()));
    for (const PackedVec3 &p : positions) w.f32(p.x), w.f32(p.y), w.f32(p.z);
    w.end(c);
    c = w.begin(0x2120);
    w.u16(uint32_t(m.triangles.size()));
    for (const FileTriangle &t : m.triangles) w.u16(t.i0), w.u16(t.i1), w.u16(t.i2), w.u16(0);
    w.end(c);
    c = w.begin(0x2140);
    w.u16(uint32_t(m.uv.size()));
    for (const TexCoordPair &uv : m.uv) w.f32(uv.s), w.f32(uv.t);
    w.end(c);
    c = w.begin(0x2170);
    for (const Point3 &n : normals) w.f32(n.x), w.f32(n.y), w.f32(n.z);
    w.end(c);

    if (skin) {
        c = w.begin(0x2189);
        w.u32(uint32_t(skin->bone_names.size()));
        w.end(c);
        for (size_t b = 0; b < skin->bone_names.size(); ++b) {
            c = w.begin(0x2190);
            w.u32(uint32_t(b));
            w.text(skin->bone_names[b], kBoneNameSize);
            w.text(skin->parent_names[b], kBoneParentNameSize);
            w.end(c);
        }
        c = w.begin(0x2180);
        w.u32(uint32_t(skin->weights.size()));
        for (size_t i = 0; i < skin->weights.size(); ++i) {
            w.u32(0);
            w.u32(uint32_t(skin->bones[i]));
            w.f32(skin->weights[i]);
            w.text("", 12);
        }
        w.end(c);
        c = w.begin(0x2185);
        for (size_t v = 0; v < skin->first.size(); ++v) w.u32(uint32_t(skin->first[v])), w.u32(uint32_t(skin->count[v]));
        w.end(c);
    }
    w.end(triangle_mesh);
    w.end(mesh);
    w.end(editor);
    w.end(main);
    return w.bytes;
}

// The stored positions, as floats in memory: the normals are computed from exactly these. (A
// double rounded through float inside one expression is not safe: GCC 12's vectorizer drops the
// rounding at -O2, and the release and sanitizer builds then wrote different normals.)
std::vector<PackedVec3> scaled_directions(const SphereMesh &m, const std::vector<double> &radii) {
    std::vector<PackedVec3> positions(m.directions.size());
    for (size_t v = 0; v < m.directions.size(); ++v) {
        const Point3 &d = m.directions[v];
        positions[v].x = float(d.x * radii[v]);
        positions[v].y = float(d.y * radii[v]);
        positions[v].z = float(d.z * radii[v]);
    }
    return positions;
}

}  // namespace

std::vector<uint8_t> make_sphere_model(int texture_width, int texture_height) {
    const SphereMesh m = build_sphere(texture_width, texture_height);
    const std::vector<PackedVec3> positions = scaled_directions(m, std::vector<double>(m.directions.size(), kSphereRadius));
    return write_model("sphere", m, positions, m.directions, nullptr);
}

std::vector<uint8_t> make_lobed_sphere_model(int texture_width, int texture_height) {
    const SphereMesh m = build_sphere(texture_width, texture_height);
    const std::vector<Point3> axes = lobe_axes();
    Skin skin;
    skin.bone_names.push_back("core");
    skin.parent_names.push_back("");
    for (size_t a = 0; a < axes.size(); ++a) {
        skin.bone_names.push_back("lobe_" + std::to_string(a + 1));
        skin.parent_names.push_back("CORE");  // parent names match without regard to case
    }
    std::vector<double> radii;
    for (size_t v = 0; v < m.directions.size(); ++v) {
        const Point3 &d = m.directions[v];
        // Each vertex follows the three lobes that pull it most, in their proportions; the core
        // holds what is left, so the weights always add up to one.
        double pulls[12], total = 0;
        int order[12];
        for (int a = 0; a < 12; ++a) pulls[a] = lobe_pull(d, axes[size_t(a)]), total += pulls[a], order[a] = a;
        for (int i = 0; i < 3; ++i)
            for (int j = i + 1; j < 12; ++j)
                if (pulls[order[j]] > pulls[order[i]]) std::swap(order[i], order[j]);
        radii.push_back(kSphereRadius * (1.0 + 0.11 * (total - 0.62)));
        skin.first.push_back(int(skin.weights.size()));
        skin.count.push_back(4);
        float rest = 1.0f;
        for (int i = 0; i < 3; ++i) {
            const float w = float(0.75 * pulls[order[i]] / total);
            skin.bones.push_back(order[i] + 1);
            skin.weights.push_back(w);
            rest -= w;
        }
        skin.bones.push_back(0);
        skin.weights.push_back(rest);
    }
    const std::vector<PackedVec3> positions = scaled_directions(m, radii);
    return write_model("lobed_sphere", m, positions, smooth_normals(m, positions), &skin);
}
