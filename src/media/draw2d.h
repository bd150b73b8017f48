#pragma once
// Immediate 2-D drawing in screen pixels: the vertices of lines, outlines
// and turned quads.
#include <cstdint>

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
