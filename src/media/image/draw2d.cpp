#include "media/image/draw2d.h"

#include <cmath>

#include "base/text.h"
#include "render/render_device.h"

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
        out[i] = {cx + px * c - py * s,        cy + px * s + py * c,       0.0f, 1.0f,
                  (kCorners[i][0] + 1) * 0.5f, (kCorners[i][1] + 1) * 0.5f};
    }
}

void DrawTexturedRect(const Rect& rect, float u0, float v0, float u1, float v1) {
    if (RenderDevice* device = g_renderDevice)
        device->DrawRect(rect.x, rect.y, rect.w, rect.h, u0, v0, u1, v1);
}

void DrawRotatedQuad(float x, float y, float w, float h, float angle_degrees) {
    RenderDevice* device = g_renderDevice;
    if (!device) return;
    ScreenTexVertex v[4];
    RotatedQuadVertices(x, y, w, h, angle_degrees, v);
    device->SetVertexArray(v, sizeof(ScreenTexVertex));
    device->SetTexCoordArray(&v[0].u, sizeof(ScreenTexVertex));
    device->DrawImmediate(4);
}

namespace {
// Pre-transformed vertices drawn as one untextured line strip.
void DrawLineStrip(const ScreenVertex* v, uint32_t count, uint32_t colour) {
    RenderDevice* device = g_renderDevice;
    if (!device) return;
    device->SetRenderMode(kModeLines, colour);
    device->SetVertexArray(v, sizeof(ScreenVertex));
    device->DrawImmediate(count);
}
}  // namespace

void DrawLine(float x1, float y1, float x2, float y2, uint32_t colour) {
    ScreenVertex v[2];
    LineVertices(x1, y1, x2, y2, v);
    DrawLineStrip(v, 2, colour);
}

void FillRect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour) {
    RenderDevice* device = g_renderDevice;
    if (!device) return;
    device->SetRenderMode(kModeFilledQuad, colour);
    device->DrawRect(x, y, w, h, 0.0f, 0.0f, 0.0f, 0.0f);
}

void DrawRectOutline(float x, float y, float w, float h, uint32_t colour) {
    ScreenVertex v[5];
    OutlineVertices(x, y, w, h, v);
    DrawLineStrip(v, 5, colour);
}
