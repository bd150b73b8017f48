#pragma once
// Immediate 2-D drawing in screen pixels: the vertices of lines, outlines
// and turned quads.
#include <cstdint>

struct Rect;

// A pre-transformed vertex (x, y, z, 1 / w).
struct ScreenVertex {
    float x, y, z, rhw;
};
// The same with texture coordinates: 24 bytes.
struct ScreenTexVertex {
    float x, y, z, rhw, u, v;
};
static_assert(sizeof(ScreenVertex) == 16, "16-byte pre-transformed vertex");
static_assert(sizeof(ScreenTexVertex) == 24, "24-byte pre-transformed textured vertex");

// Two vertices of a line from (x1, y1) to (x2, y2).
void LineVertices(float x1, float y1, float x2, float y2, ScreenVertex out[2]);
// Five vertices around a rectangle: the four corners and the first again.
void OutlineVertices(float x, float y, float w, float h, ScreenVertex out[5]);
// A triangle strip of four vertices: the square -1..1 scaled by
// (w / 2 - 0.25, h / 2 - 0.25), turned by the angle (degrees) about its
// centre and moved to the rectangle's centre less a quarter pixel, with
// texture coordinates 0..1.
void RotatedQuadVertices(float x, float y, float w, float h, float angle_degrees, ScreenTexVertex out[4]);

// Drawing through the global render device (nothing without one). The
// bound texture and the render mode are the caller's for the first two.
void DrawTexturedRect(const Rect& rect, float u0, float v0, float u1, float v1);
void DrawRotatedQuad(float x, float y, float w, float h, float angle_degrees);
// Untextured, with the colour.
void DrawLine(float x1, float y1, float x2, float y2, uint32_t colour);
void FillRect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour);
void DrawRectOutline(float x, float y, float w, float h, uint32_t colour);

// Render-mode words of the 2-D drawing.
constexpr uint32_t kModeTexturedQuad = 0x1009;  // textured, pre-transformed strip
constexpr uint32_t kModeFilledQuad = 0x1008;    // pre-transformed strip
constexpr uint32_t kModeLines = 0x2008;         // pre-transformed line strip
