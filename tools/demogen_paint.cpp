// The generator's drawing: colours, noise, the canvas and its letters, and
// the images of the title page, the buttons, the cursors and the font.
#include <algorithm>
#include <filesystem>

#include "asset_writers.h"
#include "demogen.h"

namespace demogen {

uint32_t Pack(Rgb c, float alpha) {
    auto b = [](float v) { return uint32_t(Clamp01(v) * 255.f + 0.5f); };
    return b(alpha) << 24 | b(c.r) << 16 | b(c.g) << 8 | b(c.b);
}

float Hash(int x, int y, int seed) {
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + uint32_t(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return float((h ^ (h >> 16)) & 0xFFFFFF) / float(0xFFFFFF);
}

float Noise(float x, float y, int seed) {
    const int xi = int(std::floor(x)), yi = int(std::floor(y));
    const float fx = x - float(xi), fy = y - float(yi);
    const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    const float a = Hash(xi, yi, seed), b = Hash(xi + 1, yi, seed);
    const float c = Hash(xi, yi + 1, seed), d = Hash(xi + 1, yi + 1, seed);
    return (a + (b - a) * sx) * (1 - sy) + (c + (d - c) * sx) * sy;
}

float Fractal(float x, float y, int seed, int octaves) {
    float sum = 0, amp = 0.5f, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amp * Noise(x, y, seed + o * 17);
        norm += amp;
        x *= 2.03f;
        y *= 2.03f;
        amp *= 0.5f;
    }
    return sum / norm;
}

void Canvas::Blend(int x, int y, Rgb c, float a) {
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    uint32_t& p = px[size_t(y) * w + x];
    const float old_a = float(p >> 24) / 255.f;
    const Rgb mixed = Mix(Hex(p), c, a);
    p = Pack(mixed, std::max(old_a, a));
}

void Canvas::Fill(int x, int y, int rw, int rh, uint32_t c) {
    for (int j = std::max(0, y); j < std::min(h, y + rh); ++j)
        for (int i = std::max(0, x); i < std::min(w, x + rw); ++i) px[size_t(j) * w + i] = c;
}

void Canvas::Frame(int x, int y, int rw, int rh, int t, uint32_t c) {
    Fill(x, y, rw, t, c);
    Fill(x, y + rh - t, rw, t, c);
    Fill(x, y, t, rh, c);
    Fill(x + rw - t, y, t, rh, c);
}

void Canvas::Disc(float cx, float cy, float r, Rgb c, float alpha) {
    for (int y = int(cy - r - 1); y <= int(cy + r + 1); ++y)
        for (int x = int(cx - r - 1); x <= int(cx + r + 1); ++x) {
            const float d = std::hypot(float(x) + 0.5f - cx, float(y) + 0.5f - cy);
            const float cover = Clamp01(r - d + 0.5f);
            if (cover > 0) Blend(x, y, c, cover * alpha);
        }
}

void Canvas::Text(const std::string& s, int x, int y, int scale, uint32_t c) {
    for (size_t k = 0; k < s.size(); ++k) {
        const uint8_t* g = Glyph(s[k]);
        if (!g) continue;
        for (int row = 0; row < 8; ++row)
            for (int col = 0; col < 5; ++col)
                if (g[row] & (0x10 >> col)) Fill(x + int(k) * 6 * scale + col * scale, y + row * scale, scale, scale, c);
    }
}

const uint8_t* Glyph(char c) {
    static const uint8_t kLetters[26][8] = {
        {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}, {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E},
        {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}, {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E},
        {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}, {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10},
        {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}, {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},
        {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C},
        {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}, {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F},
        {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}, {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11},
        {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10},
        {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}, {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11},
        {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}, {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04},
        {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04},
        {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}, {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11},
        {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}};
    // Lower case: the x-height is five dots on the capitals' baseline (row
    // 6); g, j, p, q and y hang their tails into an eighth row below it.
    static const uint8_t kSmall[26][8] = {
        {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F}, {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E},
        {0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E}, {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F},
        {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}, {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08},
        {0x00, 0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E}, {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11},
        {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E}, {0x02, 0x00, 0x06, 0x02, 0x02, 0x02, 0x12, 0x0C},
        {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12}, {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E},
        {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}, {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11},
        {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E}, {0x00, 0x00, 0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10},
        {0x00, 0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x01}, {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10},
        {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E}, {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06},
        {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D}, {0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04},
        {0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A}, {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11},
        {0x00, 0x00, 0x11, 0x11, 0x11, 0x0F, 0x01, 0x0E}, {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F}};
    static const uint8_t kDigits[10][8] = {
        {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
        {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
        {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
        {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
        {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}};
    struct Mark {
        char c;
        uint8_t rows[8];
    };
    static const Mark kMarks[] = {
        {'.', {0, 0, 0, 0, 0, 0x0C, 0x0C}},          {',', {0, 0, 0, 0, 0x0C, 0x04, 0x08}},
        {'!', {0x04, 0x04, 0x04, 0x04, 0x04, 0, 0x04}}, {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0, 0x04}},
        {':', {0, 0x0C, 0x0C, 0, 0x0C, 0x0C, 0}},     {';', {0, 0x0C, 0x0C, 0, 0x0C, 0x04, 0x08}},
        {'-', {0, 0, 0, 0x1F, 0, 0, 0}},              {'\'', {0x04, 0x04, 0x08, 0, 0, 0, 0}},
        {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}}, {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
        {'/', {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10}}, {'=', {0, 0, 0x1F, 0, 0x1F, 0, 0}},
        {'+', {0, 0x04, 0x04, 0x1F, 0x04, 0x04, 0}},    {'"', {0x0A, 0x0A, 0x14, 0, 0, 0, 0}},
        {'_', {0, 0, 0, 0, 0, 0, 0x1F}},              {'>', {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08}},
        {'<', {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02}}, {'*', {0, 0x04, 0x15, 0x0E, 0x15, 0x04, 0}},
        {'[', {0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E}}, {']', {0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E}},
        {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}}, {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}},
        {'&', {0x0C, 0x12, 0x14, 0x08, 0x15, 0x12, 0x0D}}, {'{', {0x06, 0x04, 0x04, 0x08, 0x04, 0x04, 0x06}},
        {'}', {0x0C, 0x04, 0x04, 0x02, 0x04, 0x04, 0x0C}}, {'~', {0, 0, 0x08, 0x15, 0x02, 0, 0}},
        {'^', {0x04, 0x0A, 0x11, 0, 0, 0, 0}},         {'|', {0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
        {'\\', {0x10, 0x10, 0x08, 0x04, 0x02, 0x01, 0x01}}, {'@', {0x0E, 0x11, 0x17, 0x15, 0x17, 0x10, 0x0E}},
        {'$', {0x04, 0x0F, 0x14, 0x0E, 0x05, 0x1E, 0x04}}, {'`', {0x08, 0x04, 0, 0, 0, 0, 0}}};
    if (c >= 'a' && c <= 'z') return kSmall[c - 'a'];
    if (c >= 'A' && c <= 'Z') return kLetters[c - 'A'];
    if (c >= '0' && c <= '9') return kDigits[c - '0'];
    for (const Mark& m : kMarks)
        if (m.c == c) return m.rows;
    return nullptr;
}

void Output::Image(const std::string& name, const Canvas& c, bool alpha) const {
    if (alpha)
        Bytes(name + ".tga", asset_writers::EncodeTga32(c.px, c.w, c.h));
    else
        Bytes(name + ".png", asset_writers::EncodePng(c.px, c.w, c.h));
}

void Output::Bytes(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string path = root + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    SaveBytes(path, bytes);
}

void Output::Text(const std::string& name, const std::string& text) const {
    Bytes(name, std::vector<uint8_t>(text.begin(), text.end()));
}

namespace {

// Night sky over hills, a tower with lit windows and the game's name.
Canvas TitlePage() {
    Canvas c(1024, 768);
    for (int y = 0; y < 768; ++y)
        for (int x = 0; x < 1024; ++x) {
            const float t = float(y) / 767.f;
            Rgb sky = Mix(Hex(0x0B0F2E), Hex(0x6A3A5C), Smooth(0.1f, 0.75f, t));
            sky = sky + Hex(0x202040) * (0.25f * Fractal(x / 180.f, y / 60.f, 7));
            if (Hash(x, y, 3) > 0.9985f && t < 0.6f) sky = Mix(sky, Hex(0xFFFFF0), 0.5f + 0.5f * Hash(y, x, 4));
            c.px[size_t(y) * 1024 + x] = Pack(sky);
        }
    c.Disc(812, 150, 58, Hex(0xFFF2C8));
    c.Disc(790, 138, 50, Hex(0x2A2450), 0.35f);
    // Two ranges of hills, the far one lighter.
    for (int x = 0; x < 1024; ++x) {
        const int far_top = int(520 - 80 * Fractal(x / 220.f, 0.5f, 11, 3));
        const int near_top = int(610 - 90 * Fractal(x / 160.f, 3.5f, 12, 3));
        for (int y = far_top; y < 768; ++y) c.Set(x, y, Pack(Mix(Hex(0x2C2446), Hex(0x1C1830), (y - far_top) / 200.f)));
        for (int y = near_top; y < 768; ++y) c.Set(x, y, Pack(Mix(Hex(0x141222), Hex(0x08070F), (y - near_top) / 160.f)));
    }
    // The tower with its windows.
    c.Fill(150, 300, 90, 330, 0xFF0C0B16);
    for (int k = 0; k < 6; ++k) c.Fill(144 + k * 18, 282, 12, 22, 0xFF0C0B16);
    for (int k = 0; k < 4; ++k) {
        c.Fill(184, 340 + k * 62, 22, 30, 0xFFFFC860);
    }
    const std::string name = "QUILD";
    const int scale = 22, w = Canvas::TextWidth(name, scale);
    c.Text(name, (1024 - w) / 2 + 8, 178 + 8, scale, 0xFF10081A);
    c.Text(name, (1024 - w) / 2, 178, scale, 0xFFF4E4C0);
    const std::string sub = "A PAINTED-ROOM ADVENTURE";
    c.Text(sub, (1024 - Canvas::TextWidth(sub, 4)) / 2, 360, 4, 0xFFD8B8E8);
    return c;
}

// A framed button with its label; hovered ones glow.
Canvas Button(const std::string& label, bool hover) {
    Canvas c(256, 64, 0);
    const Rgb top = hover ? Hex(0xE0A040) : Hex(0x6A4A8A), bottom = hover ? Hex(0x8A4A10) : Hex(0x2A1A40);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) c.px[size_t(y) * 256 + x] = Pack(Mix(top, bottom, y / 63.f), 0.92f);
    c.Frame(0, 0, 256, 64, 3, hover ? 0xFFFFF0C0 : 0xFFB8A0D8);
    c.Text(label, (256 - Canvas::TextWidth(label, 4)) / 2, 18, 4, 0xFFFFFFFF);
    return c;
}

// 32 x 32 pointers: an arrow, a hand for doors and a cross for quitting.
Canvas Cursor(int kind) {
    Canvas c(32, 32, 0);
    auto dot = [&](int x, int y, uint32_t col) { c.Set(x, y, col); };
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            bool inside = false, edge = false;
            if (kind == 0) {  // arrow, tip at the top left
                inside = (x <= y / 1.4f && y < 22) || (x >= 5 && x <= 9 && y >= 14 && y < 30 && x - 5 <= (y - 14) / 2 + 3);
                edge = inside && (x == 0 || x >= int(y / 1.4f) - 1 || y == 21);
            } else if (kind == 1) {  // an open door with a frame
                inside = x >= 6 && x <= 25 && y >= 2 && y <= 30;
                edge = inside && (x <= 8 || x >= 23 || y <= 4 || y >= 28);
            } else {  // a cross
                const int d1 = std::abs(x - y), d2 = std::abs(x + y - 31);
                inside = (d1 <= 3 || d2 <= 3) && x > 2 && x < 29 && y > 2 && y < 29;
                edge = inside && (d1 == 3 || d2 == 3);
            }
            if (inside) dot(x, y, edge ? 0xFF000000 : kind == 1 ? 0xFFF0C060 : kind == 2 ? 0xFFE04040 : 0xFFFFFFFF);
        }
    if (kind == 1) c.Fill(19, 15, 3, 3, 0xFF000000);  // the knob
    return c;
}

// The proportional font: 16 x 16 cells of 24 x 24, the letter of each
// character code white with a dark outline in its cell. The engine measures
// a glyph from its first inked column to the first empty one after it, so
// no letter has an empty column inside it (the double quote's two marks
// slant into each other's columns).
Canvas Font() {
    Canvas c(384, 384, 0);
    for (int code = 33; code < 127; ++code) {
        const uint8_t* g = Glyph(char(code));
        if (!g) continue;
        const int cx = (code % 16) * 24 + 1, cy = (code / 16) * 24;
        // Eight dot rows of 3 pixels fill the cell's 24; the outline is cut
        // at the cell's top and bottom edges.
        auto fill = [&](int x, int y, int size, uint32_t colour) {
            const int top = std::max(y, cy), bottom = std::min(y + size, cy + 24);
            c.Fill(x, top, size, bottom - top, colour);
        };
        for (int pass = 0; pass < 2; ++pass)
            for (int row = 0; row < 8; ++row)
                for (int col = 0; col < 5; ++col) {
                    if (!(g[row] & (0x10 >> col))) continue;
                    if (pass == 0)
                        fill(cx + col * 3, cy + row * 3 - 1, 5, 0xC0000000);
                    else
                        fill(cx + col * 3 + 1, cy + row * 3, 3, 0xFFFFFFFF);
                }
    }
    return c;
}

}  // namespace

// The editor's hotspot-map view turns every pixel's view direction into a
// cell of the 360 x 180 map with two reads of this table: texel (i, j)
// holds atan2(a, b) as a fraction of a turn in 0..1, a = (i + 0.5) / 128 - 1
// across and b = (j + 0.5) / 128 - 1 down, in 16 bits: red the high byte,
// green the low one.
Canvas AngleLookup() {
    constexpr int n = 256;
    Canvas c(n, n);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const double a = (i + 0.5) * 2.0 / n - 1.0, b = (j + 0.5) * 2.0 / n - 1.0;
            double turn = std::atan2(a, b) / (2.0 * M_PI);
            if (turn < 0) turn += 1.0;
            const uint32_t v = uint32_t(std::lround(turn * 65536.0)) & 0xFFFF;  // a whole turn is 0
            c.Set(i, j, 0xFF000000u | (v >> 8) << 16 | (v & 255) << 8);
        }
    return c;
}

// The dialog panel behind the title page's text: dark glass, a thin frame.
Canvas Panel() {
    Canvas c(512, 128, 0);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 512; ++x) c.px[size_t(y) * 512 + x] = Pack(Mix(Hex(0x1A1030), Hex(0x08040C), y / 127.f), 0.75f);
    c.Frame(0, 0, 512, 128, 2, 0xFFB8A0D8);
    return c;
}

void WriteInterface(const Output& out) {
    out.Image("data/ui/panel", Panel(), true);
    out.Image("stages/title/cover", TitlePage());
    const char* buttons[3][2] = {{"start", "ENTER"}, {"credits", "ABOUT"}, {"quit", "QUIT"}};
    for (auto& b : buttons) {
        out.Image(std::string("data/ui/") + b[0], Button(b[1], false), true);
        out.Image(std::string("data/ui/") + b[0] + "_over", Button(b[1], true), true);
    }
    out.Image("data/icons/arrow", Cursor(0), true);
    out.Image("data/icons/main", Cursor(0), true);  // the engine's cursor where a scene names none
    out.Image("data/icons/door", Cursor(1), true);
    out.Image("data/icons/quit", Cursor(2), true);
    out.Image("data/fonts/main", Font(), true);
    // The editor colours of hotspot-map values: a hue wheel, 0 black.
    std::vector<uint8_t> pal(768, 0);
    for (int n = 1; n < 256; ++n) {
        const float h = float(n * 47 % 256) / 256.f * 6.f;
        const float f = h - std::floor(h);
        const float rgb[6][3] = {{1, f, 0}, {1 - f, 1, 0}, {0, 1, f}, {0, 1 - f, 1}, {f, 0, 1}, {1, 0, 1 - f}};
        for (int k = 0; k < 3; ++k) pal[size_t(n) * 3 + k] = uint8_t(rgb[int(h) % 6][k] * 255);
    }
    out.Bytes("data/misc/hotspots.bin", pal);
    out.Image("data/misc/eqlookup", AngleLookup());
}

}  // namespace demogen
