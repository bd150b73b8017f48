#include "media/draw2d.h"

#include <cmath>

namespace {
constexpr float kPi = 3.1415925f;
}

void LineVertices(float x1, float y1, float x2, float y2, ScreenVertex out[2]) {
    out[0] = {x1, y1, 0.0f, 1.0f};
    out[1] = {x2, y2, 0.0f, 1.0f};
}

void OutlineVertices(float x, float y, float w, float h, ScreenVertex out[5]) {
    out[0] = {x, y, 0.0f, 1.0f};
    out[1] = {x + w, y, 0.0f, 1.0f};
    out[2] = {x + w, y + h, 0.0f, 1.0f};
    out[3] = {x, y + h, 0.0f, 1.0f};
    out[4] = out[0];
}

void RotatedQuadVertices(float x, float y, float w, float h, float angle_degrees, ScreenTexVertex out[4]) {
    static const float kCorners[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
    float sx = w * 0.5f - 0.25f, sy = h * 0.5f - 0.25f;
    float cx = x + w * 0.5f - 0.25f, cy = y + h * 0.5f - 0.25f;
    float a = angle_degrees * kPi / 180.0f;
    float c = std::cos(a), s = std::sin(a);
    for (int i = 0; i < 4; ++i) {
        float px = kCorners[i][0] * sx, py = kCorners[i][1] * sy;
        out[i] = {cx + px * c - py * s, cy + px * s + py * c, 0.0f, 1.0f, (kCorners[i][0] + 1) * 0.5f,
                  (kCorners[i][1] + 1) * 0.5f};
    }
}
