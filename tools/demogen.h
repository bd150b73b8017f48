#pragma once
// The bundled game's generator: shared pieces of its drawing, room, media
// and script writers.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace demogen {

// ---------------------------------------------------------------- colour

struct Rgb {
    float r = 0, g = 0, b = 0;
};
inline Rgb operator+(Rgb a, Rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
inline Rgb operator*(Rgb a, float k) { return {a.r * k, a.g * k, a.b * k}; }
inline Rgb operator*(Rgb a, Rgb b) { return {a.r * b.r, a.g * b.g, a.b * b.b}; }
inline Rgb Mix(Rgb a, Rgb b, float t) { return a * (1 - t) + b * t; }
inline Rgb Hex(uint32_t c) { return {((c >> 16) & 255) / 255.f, ((c >> 8) & 255) / 255.f, (c & 255) / 255.f}; }
uint32_t Pack(Rgb c, float alpha = 1);

// Value noise in 0..1 from integer lattice hashes; fixed, so every run
// draws the same pixels.
float Hash(int x, int y, int seed);
float Noise(float x, float y, int seed);
float Fractal(float x, float y, int seed, int octaves = 4);
inline float Clamp01(float v) { return v < 0 ? 0 : v > 1 ? 1 : v; }
inline float Smooth(float e0, float e1, float x) {
    float t = Clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

// ---------------------------------------------------------------- canvas

struct Canvas {
    int w = 0, h = 0;
    std::vector<uint32_t> px;  // 0xAARRGGBB
    Canvas(int width, int height, uint32_t fill = 0xFF000000) : w(width), h(height), px(size_t(w) * h, fill) {}
    void Set(int x, int y, uint32_t c) {
        if (x >= 0 && y >= 0 && x < w && y < h) px[size_t(y) * w + x] = c;
    }
    void Blend(int x, int y, Rgb c, float a);
    void Fill(int x, int y, int rw, int rh, uint32_t c);
    void Frame(int x, int y, int rw, int rh, int thickness, uint32_t c);
    void Disc(float cx, float cy, float r, Rgb c, float alpha = 1);
    // Text in the built-in 5x7 letters, each dot scale pixels.
    void Text(const std::string& s, int x, int y, int scale, uint32_t c);
    static int TextWidth(const std::string& s, int scale) { return int(s.size()) * 6 * scale - scale; }
};

// The eight rows of a 5-dot-wide letter (bit 4 the leftmost dot) for every
// printable ASCII character but the blank: capitals and digits stand on
// row 6, the tails of g, j, p, q and y reach row 7; null for characters
// without a letter.
const uint8_t* Glyph(char c);

// ---------------------------------------------------------------- output

struct Output {
    std::string root;
    // A PNG, or with alpha a 32-bit TGA (the engine reads no PNG alpha).
    void Image(const std::string& name, const Canvas& c, bool alpha = false) const;
    void Bytes(const std::string& name, const std::vector<uint8_t>& bytes) const;
    void Text(const std::string& name, const std::string& text) const;
};

// Images of the title page, buttons, cursors and the font.
void WriteInterface(const Output& out);
// Cube faces and hotspot maps of every panoramic node.
void WriteRooms(const Output& out, int face_size);
// Sounds, music and the movie.
void WriteMedia(const Output& out);
// The statue mesh.
void WriteMesh(const Output& out);
// Images of the animated patches, surfaces, flares and particles.
void WriteEffects(const Output& out);
// main.lua, the game scripts and every scene's data and script files.
void WriteScripts(const Output& out);

}  // namespace demogen
