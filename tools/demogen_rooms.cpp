// The panoramic nodes of the game: each room is a box around the viewer
// with painted walls, lit by a few point lights. Every face pixel and every
// hotspot-map cell casts a ray from the eye into the box, so the six faces
// meet without seams and the map's regions lie exactly over what they show.
#include <algorithm>
#include <functional>

#include "asset_writers.h"
#include "demogen.h"

namespace demogen {
namespace {

struct V3 {
    float x = 0, y = 0, z = 0;
};
inline V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline float Dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline float Len(V3 a) { return std::sqrt(Dot(a, a)); }

// Surfaces of a room box, named by the side of the viewer they face.
enum Side { kRight, kLeft, kCeiling, kFloor, kFront, kBack };

struct Hit {
    Side side;
    V3 p;        // the point on the box
    float dist;  // from the eye
};

struct Light {
    V3 at;
    Rgb colour;
    float reach;  // distance at which it falls to half
};

struct Room {
    const char* name;
    V3 lo, hi;  // the box; the eye is at the origin
    Rgb ambient;
    std::vector<Light> lights;
    Rgb fog;
    float fog_density = 0;
    std::function<Rgb(const Hit&)> albedo;
    std::function<int(const Hit&)> hotspot;  // map value, 0 none
    std::function<Rgb(const Hit&)> glow;     // light of its own, may be null
};

Hit Cast(const Room& r, V3 d) {
    float best = 1e30f;
    Side side = kFront;
    auto test = [&](float dc, float lo, float hi, Side pos, Side neg) {
        if (dc > 1e-6f && hi / dc < best) best = hi / dc, side = pos;
        if (dc < -1e-6f && lo / dc < best) best = lo / dc, side = neg;
    };
    test(d.x, r.lo.x, r.hi.x, kRight, kLeft);
    test(d.y, r.lo.y, r.hi.y, kCeiling, kFloor);
    test(d.z, r.lo.z, r.hi.z, kFront, kBack);
    V3 p{d.x * best, d.y * best, d.z * best};
    return {side, p, best * Len(d)};
}

V3 Normal(Side s) {
    switch (s) {
        case kRight: return {-1, 0, 0};
        case kLeft: return {1, 0, 0};
        case kCeiling: return {0, -1, 0};
        case kFloor: return {0, 1, 0};
        case kFront: return {0, 0, -1};
        default: return {0, 0, 1};
    }
}

// How far the point lies from the box's nearest edge on its surface; rooms
// darken into their corners.
float EdgeDistance(const Room& r, const Hit& h) {
    float d = 1e9f;
    auto near = [&](float v, float lo, float hi) { d = std::min({d, v - lo, hi - v}); };
    if (h.side != kRight && h.side != kLeft) near(h.p.x, r.lo.x, r.hi.x);
    if (h.side != kCeiling && h.side != kFloor) near(h.p.y, r.lo.y, r.hi.y);
    if (h.side != kFront && h.side != kBack) near(h.p.z, r.lo.z, r.hi.z);
    return d;
}

Rgb Shade(const Room& r, const Hit& h) {
    const V3 n = Normal(h.side);
    Rgb light = r.ambient * (0.55f + 0.45f * Smooth(0.f, 0.6f, EdgeDistance(r, h)));
    for (const Light& l : r.lights) {
        const V3 to = l.at - h.p;
        const float d = Len(to);
        const float lambert = std::max(0.f, Dot(n, to) / (d + 1e-6f));
        light = light + l.colour * (lambert / (1 + (d / l.reach) * (d / l.reach)));
    }
    Rgb c = r.albedo(h) * light;
    if (r.glow) c = c + r.glow(h);
    if (r.fog_density > 0) c = Mix(c, r.fog, 1 - std::exp(-h.dist * r.fog_density));
    return c;
}

// Corners of the unit cube per face, in the order the engine's cube uses:
// (left bottom, left top, right bottom, right top) of the image.
constexpr float kCorners[6][4][3] = {
    {{-1, -1, 1}, {-1, 1, 1}, {1, -1, 1}, {1, 1, 1}},     {{1, -1, 1}, {1, 1, 1}, {1, -1, -1}, {1, 1, -1}},
    {{1, -1, -1}, {1, 1, -1}, {-1, -1, -1}, {-1, 1, -1}}, {{-1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}, {-1, 1, 1}},
    {{-1, 1, 1}, {-1, 1, -1}, {1, 1, 1}, {1, 1, -1}},     {{-1, -1, -1}, {-1, -1, 1}, {1, -1, -1}, {1, -1, 1}},
};

Canvas Face(const Room& r, int f, int size) {
    Canvas c(size, size);
    const float* lb = kCorners[f][0];
    const float* lt = kCorners[f][1];
    const float* rt = kCorners[f][3];
    for (int j = 0; j < size; ++j)
        for (int i = 0; i < size; ++i) {
            // Two samples a pixel across the diagonal smooth the edges.
            Rgb sum;
            for (int k = 0; k < 2; ++k) {
                const float s = (i + 0.25f + 0.5f * k) / size, t = (j + 0.25f + 0.5f * k) / size;
                V3 d{lt[0] + s * (rt[0] - lt[0]) + t * (lb[0] - lt[0]), lt[1] + s * (rt[1] - lt[1]) + t * (lb[1] - lt[1]),
                     lt[2] + s * (rt[2] - lt[2]) + t * (lb[2] - lt[2])};
                sum = sum + Shade(r, Cast(r, d)) * 0.5f;
            }
            c.px[size_t(j) * size + i] = Pack(sum);
        }
    return c;
}

std::vector<uint8_t> HotspotMap(const Room& r) {
    std::vector<uint8_t> map(size_t(asset_writers::kMapWidth) * asset_writers::kMapHeight, 0);
    for (int pitch = -90; pitch < 90; ++pitch)
        for (int yaw = 0; yaw < 360; ++yaw) {
            const float y = (yaw + 0.5f) * 3.14159265f / 180.f, p = (pitch + 0.5f) * 3.14159265f / 180.f;
            const V3 d{std::sin(y) * std::cos(p), -std::sin(p), std::cos(y) * std::cos(p)};
            map[size_t(pitch + 90) * asset_writers::kMapWidth + yaw] = uint8_t(r.hotspot(Cast(r, d)));
        }
    return map;
}

// ------------------------------------------------------------- materials

bool In(float v, float lo, float hi) { return v >= lo && v <= hi; }

// Courses of stone blocks in running bond over (u, v); the mortar darker.
Rgb Stone(float u, float v, float bw, float bh, Rgb base, int seed) {
    const int row = int(std::floor(v / bh));
    const float shifted = u + (row & 1) * bw * 0.5f;
    const int col = int(std::floor(shifted / bw));
    const float fu = shifted / bw - col, fv = v / bh - row;
    const float mortar = std::min({fu, 1 - fu, fv * bh / bw, (1 - fv) * bh / bw});
    const float tone = 0.8f + 0.35f * Hash(col, row, seed) + 0.25f * (Fractal(u * 6, v * 6, seed + 1, 3) - 0.5f);
    return mortar < 0.04f ? base * 0.45f : base * tone;
}

Rgb Boards(float along, float across, Rgb base, int seed) {
    const int board = int(std::floor(across / 0.18f));
    const float f = across / 0.18f - board;
    const float grain = Fractal(along * 1.5f, across * 40.f + board * 3.f, seed, 3);
    const float joint = std::fmod(along + Hash(board, 0, seed) * 3.f + 30.f, 2.4f);
    const bool seam = f < 0.04f || joint < 0.012f;
    return seam ? base * 0.35f : base * (0.75f + 0.3f * Hash(board, 1, seed) + 0.3f * (grain - 0.5f));
}

// A little landscape for the paintings: sky, sun, hills, a lake.
Rgb Landscape(float s, float t, int seed) {
    if (t < 0.55f) {
        Rgb sky = Mix(Hex(0x7FB0E0), Hex(0xF0D0A0), t / 0.55f);
        const float sun = std::hypot(s - 0.7f, t - 0.3f);
        if (sun < 0.07f) return Hex(0xFFF0C0);
        const float hill = 0.3f + 0.25f * Fractal(s * 3, 0.3f, seed, 3);
        if (t > hill) return Mix(Hex(0x4A6A3A), Hex(0x2A4A2A), (t - hill) * 6);
        return sky;
    }
    return Mix(Hex(0x3A6A9A), Hex(0x1A3A5A), (t - 0.55f) * 2) * (0.9f + 0.2f * Noise(s * 40, t * 8, seed));
}

// A panelled wooden door over the rectangle (u0..u1, v0..v1) of a wall.
Rgb Door(float u, float v, float u0, float u1, float v0, float v1) {
    const float s = (u - u0) / (u1 - u0), t = (v1 - v) / (v1 - v0);
    const float frame = std::min({s, 1 - s, t * 2.f});
    if (frame < 0.06f) return Hex(0x3A2414);
    if (std::hypot((s - 0.82f) * 1.6f, t - 0.55f) < 0.04f) return Hex(0xE8C060);  // knob
    const bool panel = (In(s, 0.15f, 0.45f) || In(s, 0.55f, 0.85f)) && (In(t, 0.08f, 0.45f) || In(t, 0.52f, 0.92f));
    Rgb wood = Hex(0x7A4A24) * (0.8f + 0.35f * Fractal(s * 3, t * 30, 41, 3));
    return panel ? wood * 0.78f : wood;
}

// ---------------------------------------------------------------- rooms

Room Hall() {
    Room r{"hall", {-3, -1.6f, -3.5f}, {3, 1.2f, 3.5f}, Hex(0x5A4A40), {}, {}, 0, nullptr, nullptr, nullptr};
    r.lights = {{{0, 1.0f, 0}, Hex(0xFFE0B0) * 1.3f, 3.2f}, {{2.6f, 0.2f, 0}, Hex(0x8090C0) * 0.5f, 2.f}};
    auto door = [](const Hit& h) { return h.side == kFront && In(h.p.x, -0.7f, 0.7f) && h.p.y < 0.7f; };
    auto arch = [](const Hit& h) { return h.side == kBack && In(h.p.x, -0.8f, 0.8f) && h.p.y < 0.5f + 0.8f * std::sqrt(std::max(0.f, 1 - h.p.x * h.p.x / 0.64f)) - 0.8f + 0.3f; };
    r.albedo = [door, arch](const Hit& h) -> Rgb {
        const V3& p = h.p;
        if (h.side == kFloor) {
            if (In(p.x, -1.6f, 1.6f) && In(p.z, -1.9f, 1.9f)) {  // the rug
                const float e = std::min({p.x + 1.6f, 1.6f - p.x, p.z + 1.9f, 1.9f - p.z});
                if (e < 0.08f) return Hex(0xD8B060);
                if (e < 0.3f) return (int(std::floor((p.x + p.z) * 10)) & 1) ? Hex(0x8A1A20) : Hex(0x2A2A60);
                const float diamond = std::fabs(p.x) / 1.3f + std::fabs(p.z) / 1.6f;
                return diamond < 0.5f ? Hex(0xC89040) : Hex(0x7A1418) * (0.9f + 0.2f * Noise(p.x * 30, p.z * 30, 5));
            }
            return Boards(p.z, p.x + 10, Hex(0x8A5A30), 21);
        }
        if (h.side == kCeiling) {
            if (std::hypot(p.x, p.z) < 0.35f) return Hex(0xFFF8E0);
            if (std::fmod(std::fabs(p.z) + 0.5f, 1.0f) < 0.14f) return Hex(0x5A3820);
            return Hex(0xE8E0D0) * (0.9f + 0.1f * Noise(p.x * 8, p.z * 8, 6));
        }
        if (door(h)) return Door(p.x, p.y, -0.7f, 0.7f, -1.6f, 0.7f);
        if (arch(h)) return Hex(0x0A0608);
        // Walls: wainscot below, plaster above, rails between.
        const float u = (h.side == kLeft || h.side == kRight) ? p.z : p.x;
        if (h.side == kBack && In(p.x, -0.95f, 0.95f) && p.y < 0.75f && p.y > -1.6f) return Hex(0x6A4A2A);  // arch frame
        if (p.y < -0.6f) {
            const float panel = std::fmod(u + 20.f, 0.9f);
            const bool edge = panel < 0.07f || p.y > -0.68f || p.y < -1.5f;
            return Hex(0x5A3418) * (edge ? 0.7f : 0.95f + 0.2f * Fractal(u * 2, p.y * 25, 8, 3));
        }
        if (In(p.y, 0.7f, 0.78f) || p.y > 1.1f) return Hex(0xC8A048);
        if (h.side == kLeft && In(p.z, -1.6f, 1.6f) && In(p.y, -0.35f, 0.55f)) {  // the painting
            if (std::min({p.z + 1.6f, 1.6f - p.z, p.y + 0.35f, 0.55f - p.y}) < 0.09f) return Hex(0xB08030);
            return Landscape((1.6f - p.z) / 3.2f, (0.55f - p.y) / 0.9f, 31);
        }
        if (h.side == kRight && In(p.z, -1.0f, 1.0f) && In(p.y, -0.5f, 0.6f)) {  // the window
            if (std::min({p.z + 1.0f, 1.0f - p.z, p.y + 0.5f, 0.6f - p.y}) < 0.06f || std::fabs(p.z) < 0.03f ||
                std::fabs(p.y - 0.05f) < 0.03f)
                return Hex(0xE0D8C8);
            return Hex(0x0A0F18);  // shaded by itself below
        }
        const float stripe = std::fmod(u + 20.f, 0.5f) < 0.25f ? 1.f : 0.93f;
        return Hex(0x8A2A24) * (stripe * (0.9f + 0.15f * Fractal(u * 3, p.y * 3, 9, 4)));
    };
    r.glow = [](const Hit& h) -> Rgb {
        const V3& p = h.p;
        if (h.side == kCeiling && std::hypot(p.x, p.z) < 0.35f) return Hex(0xFFE8A0) * 0.6f;
        if (h.side == kRight && In(p.z, -0.94f, 0.94f) && In(p.y, -0.44f, 0.54f)) {  // night outside
            const float s = (p.z + 1) / 2, t = (0.6f - p.y) / 1.1f;
            Rgb sky = Mix(Hex(0x182850), Hex(0x0A1020), t);
            if (Hash(int(p.z * 300), int(p.y * 300), 2) > 0.995f) sky = Hex(0xFFFFFF);
            if (std::hypot(p.z + 0.4f, p.y - 0.325f) < 0.09f) sky = Hex(0xF0F0D0);  // the moon
            if (t > 0.75f - 0.1f * Noise(s * 6, 0, 3)) sky = Hex(0x05080A);
            return sky;
        }
        return {};
    };
    r.hotspot = [door, arch](const Hit& h) { return door(h) ? 1 : arch(h) ? 2 : 0; };
    return r;
}

Room Corridor() {
    Room r{"corridor", {-1.1f, -1.6f, -2}, {1.1f, 1.2f, 16}, Hex(0x302830), {}, Hex(0x060408), 0.09f,
           nullptr, nullptr, nullptr};
    for (int k = 0; k < 5; ++k)
        for (int side = -1; side <= 1; side += 2)
            r.lights.push_back({{side * 0.95f, 0.3f, 1.5f + 3.f * k}, Hex(0xFF9A40) * 0.9f, 1.6f});
    r.lights.push_back({{0, 0, 15.5f}, Hex(0x60A0FF) * 1.2f, 2.5f});
    auto portal = [](const Hit& h) { return h.side == kFront && In(h.p.x, -0.7f, 0.7f) && h.p.y < 0.6f; };
    auto door = [](const Hit& h) { return h.side == kBack && In(h.p.x, -0.7f, 0.7f) && h.p.y < 0.7f; };
    auto torch = [](const Hit& h) {
        if (h.side != kLeft && h.side != kRight) return 1e9f;
        const float z = std::fmod(h.p.z + 30.f - 1.5f, 3.f);
        return std::hypot(std::min(z, 3.f - z), h.p.y - 0.3f);
    };
    r.albedo = [portal, door](const Hit& h) -> Rgb {
        const V3& p = h.p;
        if (portal(h)) return Hex(0x101828);
        if (door(h)) return Door(-p.x, p.y, -0.7f, 0.7f, -1.6f, 0.7f);
        if (h.side == kFloor) return Stone(p.x + 5, p.z, 0.55f, 0.55f, Hex(0x6A6058), 51);
        if (h.side == kCeiling) {
            if (std::fmod(p.z + 30.f, 1.5f) < 0.25f) return Hex(0x3A2414);
            return Stone(p.x + 5, p.z, 0.5f, 0.25f, Hex(0x4A4038), 52);
        }
        const float u = (h.side == kLeft || h.side == kRight) ? p.z : p.x;
        const float pillar = std::fmod(u + 30.f, 3.f);
        if (pillar < 0.3f && (h.side == kLeft || h.side == kRight)) return Stone(u, p.y + 5, 0.3f, 0.4f, Hex(0x9A8A70), 53);
        if (h.side == kFront && In(p.x, -0.95f, 0.95f) && p.y < 0.85f) return Hex(0x8A7A60);  // arch stones
        return Stone(u, p.y + 5, 0.6f, 0.3f, Hex(0x8A7868), 54);
    };
    r.glow = [portal, torch](const Hit& h) -> Rgb {
        if (portal(h)) {
            const float s = h.p.x / 0.7f, t = (0.6f - h.p.y) / 2.2f;
            const float swirl = Fractal(s * 3 + t * 2, t * 4, 61, 4);
            return Mix(Hex(0x2050C0), Hex(0xA0E0FF), swirl) * (1.2f - 0.5f * std::fabs(s));
        }
        const float d = torch(h);
        if (d < 0.07f) return Hex(0xFFE0A0) * 1.5f;
        if (d < 0.3f) return Hex(0xFF8020) * (0.6f * (1 - d / 0.3f));
        return {};
    };
    r.hotspot = [portal, door](const Hit& h) { return portal(h) ? 1 : door(h) ? 2 : 0; };
    return r;
}

Room Gallery() {
    Room r{"gallery", {-4, -1.6f, -4}, {4, 2.8f, 4}, Hex(0x303848), {}, {}, 0, nullptr, nullptr, nullptr};
    r.lights = {{{0, 2.4f, 2.5f}, Hex(0xFFF0D0) * 1.2f, 3.f},
                {{-3, 1.5f, -3}, Hex(0x6080FF) * 0.6f, 3.f},
                {{3, 1.5f, -3}, Hex(0xFF60A0) * 0.6f, 3.f}};
    auto exit = [](const Hit& h) { return h.side == kBack && In(h.p.x, -0.8f, 0.8f) && h.p.y < 0.8f; };
    r.albedo = [exit](const Hit& h) -> Rgb {
        const V3& p = h.p;
        if (exit(h)) return Hex(0x08060A);
        if (h.side == kFloor) {
            if (std::hypot(p.x, p.z - 2.5f) < 1.0f) {  // the dais under the statue
                return std::hypot(p.x, p.z - 2.5f) > 0.92f ? Hex(0xD0A040) : Hex(0x707888);
            }
            const bool dark = (int(std::floor(p.x / 0.8f)) + int(std::floor(p.z / 0.8f))) & 1;
            const float vein = std::fabs(std::sin(p.x * 3 + 6 * Fractal(p.x, p.z, 71, 4)));
            return (dark ? Hex(0x202028) : Hex(0xE0DCD0)) * (0.85f + 0.15f * vein);
        }
        if (h.side == kCeiling) return Hex(0x0C1028);
        const float u = (h.side == kLeft || h.side == kRight) ? p.z : p.x;
        if (h.side == kBack && In(p.x, -0.95f, 0.95f) && p.y < 0.95f) return Hex(0xC09038);  // the exit's frame
        const float col = std::fmod(u + 40.f, 2.f);
        if (col < 0.35f) {  // gilded columns with fluting
            return Hex(0xC09038) * (0.75f + 0.25f * std::fabs(std::sin(col * 45)));
        }
        if (p.y < -1.2f || In(p.y, 2.3f, 2.4f)) return Hex(0x8A7040);
        const float damask = std::fabs(std::sin(u * 9) * std::sin(p.y * 9));
        return Mix(Hex(0x1A2A5A), Hex(0x2A3E7A), damask > 0.5f ? 1.f : 0.f) * (0.9f + 0.15f * Noise(u * 10, p.y * 10, 72));
    };
    r.glow = [exit](const Hit& h) -> Rgb {
        if (exit(h)) {  // torchlight from the corridor beyond
            const float t = (0.8f - h.p.y) / 2.4f;
            return Mix(Hex(0x1A0C06), Hex(0x7A3A14), t * t) * (1 - 0.5f * std::fabs(h.p.x) / 0.8f);
        }
        if (h.side != kCeiling) return {};
        const float s = Hash(int(std::floor(h.p.x * 40)), int(std::floor(h.p.z * 40)), 73);
        return s > 0.992f ? Hex(0xF0F0FF) * ((s - 0.992f) * 125) : Rgb{};
    };
    r.hotspot = [exit](const Hit& h) { return exit(h) ? 1 : 0; };
    return r;
}

}  // namespace

void WriteRooms(const Output& out, int face_size) {
    for (const Room& r : {Hall(), Corridor(), Gallery()}) {
        const std::string dir = std::string("stages/") + r.name + "/";
        for (int f = 0; f < 6; ++f) out.Image(dir + "0" + std::to_string(f + 1), Face(r, f, face_size));
        out.Bytes(dir + "hotspots.bin", asset_writers::Deflate(HotspotMap(r)));
    }
}

}  // namespace demogen
