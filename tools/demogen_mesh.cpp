// The gallery's statue as a text mesh file: a trefoil knot of a tube on a
// round plinth, with a normal at every vertex.
#include <cmath>
#include <cstdio>

#include "demogen.h"

namespace demogen {
namespace {

struct Vertex {
    float p[3], n[3];
};

struct Mesh {
    std::vector<Vertex> v;
    std::vector<uint32_t> tri;
    // A grid of rows x columns vertices joined into quads, columns closed
    // into a ring. Triangles wind clockwise seen from outside, the side
    // the default cull mode keeps.
    void Grid(int rows, int columns, uint32_t first) {
        for (int r = 0; r + 1 < rows; ++r)
            for (int c = 0; c < columns; ++c) {
                const uint32_t a = first + uint32_t(r * columns + c), b = first + uint32_t(r * columns + (c + 1) % columns);
                const uint32_t d = a + uint32_t(columns), e = b + uint32_t(columns);
                tri.insert(tri.end(), {a, b, d, b, e, d});
            }
    }
};

void Normalise(float* n) {
    const float l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (l > 0)
        for (int k = 0; k < 3; ++k) n[k] /= l;
}

void Knot(Mesh& m, int steps, int sides, float scale, float tube, float lift) {
    const float tau = 6.2831853f;
    auto centre = [&](float t, float* out) {
        out[0] = scale * (std::sin(t) + 2 * std::sin(2 * t)) / 3;
        out[1] = lift + scale * (std::cos(t) - 2 * std::cos(2 * t)) / 3;
        out[2] = -scale * std::sin(3 * t) / 3;
    };
    const uint32_t first = uint32_t(m.v.size());
    for (int s = 0; s <= steps; ++s) {
        const float t = tau * float(s % steps) / float(steps);
        float c[3], ahead[3];
        centre(t, c);
        centre(t + 0.01f, ahead);
        float d[3] = {ahead[0] - c[0], ahead[1] - c[1], ahead[2] - c[2]};
        Normalise(d);
        // A frame around the curve from a fixed up vector.
        float side[3] = {d[1] * 0 - d[2] * 1, d[2] * 0 - d[0] * 0, d[0] * 1 - d[1] * 0};
        Normalise(side);
        float up[3] = {d[1] * side[2] - d[2] * side[1], d[2] * side[0] - d[0] * side[2], d[0] * side[1] - d[1] * side[0]};
        for (int k = 0; k < sides; ++k) {
            const float a = tau * float(k) / float(sides);
            Vertex v;
            for (int i = 0; i < 3; ++i) {
                v.n[i] = std::cos(a) * side[i] + std::sin(a) * up[i];
                v.p[i] = c[i] + tube * v.n[i];
            }
            m.v.push_back(v);
        }
    }
    m.Grid(steps + 1, sides, first);
}

// A plinth: a short cylinder with a top.
void Plinth(Mesh& m, int sides, float radius, float y0, float y1) {
    const float tau = 6.2831853f;
    const uint32_t first = uint32_t(m.v.size());
    for (float y : {y1, y0})
        for (int k = 0; k < sides; ++k) {
            const float a = tau * float(k) / float(sides);
            m.v.push_back({{radius * std::cos(a), y, radius * std::sin(a)}, {std::cos(a), 0, std::sin(a)}});
        }
    m.Grid(2, sides, first);
    const uint32_t top = uint32_t(m.v.size());
    m.v.push_back({{0, y1, 0}, {0, 1, 0}});
    for (int k = 0; k < sides; ++k) {
        const float a = tau * float(k) / float(sides);
        m.v.push_back({{radius * std::cos(a), y1, radius * std::sin(a)}, {0, 1, 0}});
    }
    for (int k = 0; k < sides; ++k)
        m.tri.insert(m.tri.end(), {top, top + 1 + uint32_t((k + 1) % sides), top + 1 + uint32_t(k)});
}

std::string Text(const Mesh& m) {
    std::string s = "xof 0303txt 0032\nFrame Statue {\n  FrameTransformMatrix {\n"
                    "    1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0;;\n  }\n  Mesh StatueMesh {\n";
    char line[128];
    auto put = [&](const char* fmt, auto... args) {
        std::snprintf(line, sizeof line, fmt, args...);
        s += line;
    };
    put("    %zu;\n", m.v.size());
    for (size_t i = 0; i < m.v.size(); ++i)
        put("    %.4f;%.4f;%.4f;%s\n", m.v[i].p[0], m.v[i].p[1], m.v[i].p[2], i + 1 < m.v.size() ? "," : ";");
    const size_t faces = m.tri.size() / 3;
    put("    %zu;\n", faces);
    for (size_t f = 0; f < faces; ++f)
        put("    3;%u,%u,%u;%s\n", m.tri[f * 3], m.tri[f * 3 + 1], m.tri[f * 3 + 2], f + 1 < faces ? "," : ";");
    s += "    MeshMaterialList {\n      1;\n      1;\n      0;;\n      Material {\n        1.0;1.0;1.0;1.0;;\n"
         "        20.0;\n        0.5;0.5;0.5;;\n        0.0;0.0;0.0;;\n      }\n    }\n";
    put("    MeshNormals {\n    %zu;\n", m.v.size());
    for (size_t i = 0; i < m.v.size(); ++i)
        put("    %.4f;%.4f;%.4f;%s\n", m.v[i].n[0], m.v[i].n[1], m.v[i].n[2], i + 1 < m.v.size() ? "," : ";");
    put("    %zu;\n", faces);
    for (size_t f = 0; f < faces; ++f)
        put("    3;%u,%u,%u;%s\n", m.tri[f * 3], m.tri[f * 3 + 1], m.tri[f * 3 + 2], f + 1 < faces ? "," : ";");
    s += "    }\n";
    // Texture coordinates from the position around the upright axis.
    put("    MeshTextureCoords {\n    %zu;\n", m.v.size());
    for (size_t i = 0; i < m.v.size(); ++i)
        put("    %.4f;%.4f;%s\n", std::atan2(m.v[i].p[2], m.v[i].p[0]) / 6.2831853f + 0.5f, m.v[i].p[1] / 3.f,
            i + 1 < m.v.size() ? "," : ";");
    s += "    }\n  }\n}\n";
    return s;
}

}  // namespace

void WriteMesh(const Output& out) {
    Mesh m;
    Knot(m, 160, 12, 1.0f, 0.22f, 1.55f);
    Plinth(m, 32, 0.9f, 0.0f, 0.35f);
    out.Text("data/meshes/statue.x", Text(m));
}

}  // namespace demogen
