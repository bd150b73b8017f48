#include "render/geometry.h"

#include <algorithm>
#include <cmath>

#include "base/text.h"
#include "platform/gpu/d3dx/d3dx_math.h"

namespace {

float Component(const plat::Vec3& v, int i) {
    return i == 0 ? v.x : i == 1 ? v.y : v.z;
}

void SetComponent(plat::Vec3& v, int i, float value) {
    (i == 0 ? v.x : i == 1 ? v.y : v.z) = value;
}

// Per face: the axis that dominates and its sign; the in-face axes for x and
// y; the offsets and signs that put pixel (0, 0) at the top-left.
struct FaceProjection {
    int a;
    float s;
    int b, c;
    float p, q, m1, m2;
};
constexpr FaceProjection kFaceProjection[6] = {
    {2, 1, 0, 1, -1, 1, 1, -1},  {0, 1, 2, 1, 1, 1, -1, -1}, {2, -1, 0, 1, 1, 1, -1, -1},
    {0, -1, 2, 1, -1, 1, 1, -1}, {1, 1, 0, 2, -1, -1, 1, 1}, {1, -1, 0, 2, -1, 1, 1, -1},
};

// Per face: the axes that x and y run along and the fixed axis, the fixed
// value, and the values at the first and last column and row.
struct FacePlane {
    int i, j, k;
    float fixed, a0, a1, b0, b1;
};
constexpr FacePlane kFacePlane[6] = {
    {0, 1, 2, 0.5f, -0.5f, 0.5f, 0.5f, -0.5f},  {2, 1, 0, 0.5f, 0.5f, -0.5f, 0.5f, -0.5f},
    {0, 1, 2, -0.5f, 0.5f, -0.5f, 0.5f, -0.5f}, {2, 1, 0, -0.5f, -0.5f, 0.5f, 0.5f, -0.5f},
    {0, 2, 1, 0.5f, -0.5f, 0.5f, -0.5f, 0.5f},  {0, 2, 1, -0.5f, -0.5f, 0.5f, 0.5f, -0.5f},
};

constexpr float kCubeCorners[6][4][3] = {
    {{-1, -1, 1}, {-1, 1, 1}, {1, -1, 1}, {1, 1, 1}},
    {{1, -1, 1}, {1, 1, 1}, {1, -1, -1}, {1, 1, -1}},
    {{1, -1, -1}, {1, 1, -1}, {-1, -1, -1}, {-1, 1, -1}},
    {{-1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}, {-1, 1, 1}},
    {{-1, 1, 1}, {-1, 1, -1}, {1, 1, 1}, {1, 1, -1}},
    {{-1, -1, -1}, {-1, -1, 1}, {1, -1, -1}, {1, -1, 1}},
};

}  // namespace

plat::Vec3* AnglesToDirection(plat::Vec3* out, float yaw, float pitch) {
    const float y = DegToRad(yaw), p = DegToRad(pitch);
    *out = {std::sin(y) * std::cos(p), -std::sin(p), std::cos(y) * std::cos(p)};
    return out;
}

void DirectionToAngles(const plat::Vec3& d, float* yaw, float* pitch) {
    *yaw = RadToDeg(std::atan2(d.x, d.z));
    *pitch = RadToDeg(std::atan2(-d.y, std::sqrt(d.x * d.x + d.z * d.z)));
    WrapYawClampPitch(yaw, pitch);
}

void WrapYawClampPitch(float* yaw, float* pitch) {
    if (*yaw < 0)
        *yaw += 360;
    else if (*yaw >= 360)
        *yaw -= 360;
    if (*pitch < -90)
        *pitch = -90;
    else if (*pitch > 90)
        *pitch = 90;
}

int DirectionToCubeFace(const plat::Vec3& d) {
    const float ax = std::fabs(d.x), ay = std::fabs(d.y), az = std::fabs(d.z);
    if (ax <= ay && az < ay) return d.y > 0 ? 4 : 5;
    if (ax > ay && az < ax) return d.x > 0 ? 1 : 3;
    return d.z > 0 ? 0 : 2;
}

void DirectionToFacePixel(const plat::Vec3& d, int size, int* face, int* x, int* y) {
    const float h = static_cast<float>(size) * 0.5f - 1.0f;
    const int f = DirectionToCubeFace(d);
    const FaceProjection& r = kFaceProjection[f];
    const float t = r.s * h / Component(d, r.a);
    const int px = SaturateToInt((Component(d, r.b) * t - r.p * h) * r.m1);
    const int py = SaturateToInt((Component(d, r.c) * t - r.q * h) * r.m2);
    const int last = std::max(size - 1, 0);
    *face = f;
    *x = std::clamp(px, 0, last);
    *y = std::clamp(py, 0, last);
}

void AnglesToFacePixel(float yaw, float pitch, int size, int* face, int* x, int* y) {
    plat::Vec3 d;
    DirectionToFacePixel(*AnglesToDirection(&d, yaw, pitch), size, face, x, y);
}

plat::Vec3* FacePixelToDirection(plat::Vec3* out, int face, int x, int y, int width, int height) {
    const FacePlane& r = kFacePlane[std::clamp(face, 0, 5)];
    // Across n pixels from value v0 to v1; a face narrower than 2 pixels has
    // one column (row): its centre.
    auto across = [](int i, int n, float v0, float v1) {
        if (n < 2) return (v0 + v1) * 0.5f;
        const float last = static_cast<float>(n - 1), fi = static_cast<float>(i);
        return ((last - fi) * v0 + fi * v1) / last;
    };
    plat::Vec3 v;
    SetComponent(v, r.i, across(x, width, r.a0, r.a1));
    SetComponent(v, r.j, across(y, height, r.b0, r.b1));
    SetComponent(v, r.k, r.fixed);
    return plat::D3DXVec3Normalize(out, &v);
}

void BuildCubeVertices(CubeVertex out[24], float scale, float u0, float v0, float u1, float v1) {
    const float uv[4][2] = {{u0, v1}, {u0, v0}, {u1, v1}, {u1, v0}};
    for (int f = 0; f < 6; ++f)
        for (int c = 0; c < 4; ++c) {
            const float* p = kCubeCorners[f][c];
            out[f * 4 + c] = {p[0] * scale, p[1] * scale, p[2] * scale, uv[c][0], uv[c][1]};
        }
}

bool RayIntersectsBox(const plat::Vec3& boxMin, const plat::Vec3& boxMax, const plat::Vec3& origin,
                      const plat::Vec3& direction, float* distance) {
    float tnear = -1e20f, tfar = 1e20f;
    for (int axis = 0; axis < 3; ++axis) {
        const float o = Component(origin, axis), d = Component(direction, axis);
        const float lo = Component(boxMin, axis), hi = Component(boxMax, axis);
        if (d == 0) {
            if (o < lo || o > hi) return false;
            continue;
        }
        float t1 = (lo - o) / d, t2 = (hi - o) / d;
        if (t2 < t1) std::swap(t1, t2);
        tnear = std::max(tnear, t1);
        tfar = std::min(tfar, t2);
        if (tfar < tnear || tfar < 0) return false;
    }
    if (distance) *distance = tnear;
    return true;
}
