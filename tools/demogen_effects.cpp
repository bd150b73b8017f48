// Images of the scene effects: the flickering torch flame, the clouds that
// drift over the hall's window, glows and lens-flare rings, sparks, and the
// editor's markers of point objects.
// Colours are premultiplied by alpha, so added or blended they fade to
// nothing at their edges.
#include <cmath>
#include <string>

#include "demogen.h"

namespace demogen {
namespace {

uint32_t Premultiplied(Rgb c, float a) { return Pack(c * a, a); }

// Frame f of 8: a teardrop of fire whose tip sways and whose body breathes.
Canvas Flame(int f) {
    Canvas c(32, 48, 0);
    const float phase = f * 6.2831853f / 8;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 32; ++x) {
            const float t = y / 47.f;  // 0 top, 1 bottom
            const float sway = 3.f * std::sin(phase + t * 3) * (1 - t);
            const float width = 11.f * std::sqrt(t) * (1.f - 0.35f * t) * (1 + 0.08f * std::sin(phase * 2));
            const float d = std::fabs(x + 0.5f - 16 - sway) / (width + 0.01f);
            const float flick = 0.85f + 0.3f * Noise(x * 0.3f, y * 0.2f - f * 1.7f, 81);
            const float a = Clamp01((1 - d) * 2.5f) * Clamp01(t * 4) * Clamp01((1 - t) * 8) * flick;
            const Rgb col = Mix(Mix(Hex(0xFF4010), Hex(0xFFB030), Clamp01(1 - d)), Hex(0xFFF8D0),
                                Clamp01((1 - d) * (t - 0.3f) * 2));
            c.px[size_t(y) * 32 + x] = Premultiplied(col, Clamp01(a));
        }
    return c;
}

// Soft clouds that wrap left to right, for a scrolling surface.
Canvas Clouds() {
    const int w = 256, h = 128;
    Canvas c(w, h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Two samples a width apart, blended across so that the right
            // edge continues the left one: both edges read the noise at x + w.
            const float k = float(x) / w;
            const float n = Fractal((x + w) / 48.f, y / 32.f, 91, 5) * (1 - k) + Fractal(x / 48.f, y / 32.f, 91, 5) * k;
            const float a = Smooth(0.48f, 0.75f, n) * Smooth(0.f, 0.3f, float(y) / h) * Smooth(1.f, 0.7f, float(y) / h);
            c.px[size_t(y) * w + x] = Premultiplied(Mix(Hex(0x8090B0), Hex(0xD0D8F0), n), a * 0.9f);
        }
    return c;
}

// A radial glow; ring > 0 makes a ring of that radius (0..1) instead.
Canvas Glow(int size, Rgb colour, float ring) {
    Canvas c(size, size, 0);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float d = std::hypot(x + 0.5f - size / 2.f, y + 0.5f - size / 2.f) / (size / 2.f);
            float a = ring > 0 ? Clamp01(1 - std::fabs(d - ring) * 8) * 0.6f : std::pow(Clamp01(1 - d), 2.f);
            if (ring <= 0 && d < 0.15f) a = 1;
            c.px[size_t(y) * size + x] = Premultiplied(Mix(colour, Hex(0xFFFFFF), ring > 0 ? 0 : Clamp01(1 - d * 3)), a);
        }
    return c;
}

// The editor's marker of a point object: a letter on a coloured disc.
Canvas EditorIcon(char letter, Rgb colour) {
    Canvas c(32, 32, 0);
    c.Disc(16, 16, 15, Hex(0x101010));
    c.Disc(16, 16, 13, colour);
    c.Text(std::string(1, letter), 11, 9, 2, 0xFF101010);
    return c;
}

}  // namespace

void WriteEffects(const Output& out) {
    out.Image("data/misc/editor_icons/light", EditorIcon('L', Hex(0xFFE060)), true);
    out.Image("data/misc/editor_icons/sound", EditorIcon('S', Hex(0x60C0FF)), true);
    out.Image("data/misc/editor_icons/water", EditorIcon('P', Hex(0xFF9040)), true);
    for (int f = 0; f < 8; ++f) out.Image("data/anim/flame/" + std::to_string(f), Flame(f), true);
    out.Image("data/fx/clouds", Clouds(), true);
    out.Image("data/fx/glow", Glow(128, Hex(0xA0C8FF), 0), true);
    out.Image("data/fx/lens/0", Glow(64, Hex(0x80B0FF), 0), true);
    out.Image("data/fx/lens/1", Glow(64, Hex(0xC0A0FF), 0.8f), true);
    out.Image("data/fx/lens/2", Glow(32, Hex(0xFFE0A0), 0), true);
    out.Image("data/particles/spark", Glow(32, Hex(0xFFB040), 0), true);
}

}  // namespace demogen
