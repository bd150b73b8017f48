#include "render/vector_math.h"

#include <cmath>

#include "base/text.h"
#include "platform/gpu/d3dx/d3dx_math.h"
#include "render/camera.h"

float PlaneDistance(const plat::Plane& p, const plat::Vec3& v) {
    return p.a * v.x + p.b * v.y + p.c * v.z + p.d;
}

void PlaneNormalize(plat::Plane& p) {
    const float len = std::sqrt(p.a * p.a + p.b * p.b + p.c * p.c);
    if (!(len > 0)) return;
    p = {p.a / len, p.b / len, p.c / len, p.d / len};
}

void BuildFrustumPlanes(plat::Plane out[6], const Camera& camera) {
    plat::Matrix vp;
    plat::D3DXMatrixMultiply(&vp, &camera.view, &camera.projection);
    BuildFrustumPlanes(out, vp);
}

void BuildFrustumPlanes(plat::Plane out[6], const plat::Matrix& vp) {
    const auto& m = vp.m;
    // Column j of the matrix as a plane: rows 0..3 give a, b, c, d.
    auto column = [&](int j, float s, int k) -> plat::Plane {
        return {m[0][k] + s * m[0][j], m[1][k] + s * m[1][j], m[2][k] + s * m[2][j], m[3][k] + s * m[3][j]};
    };
    out[0] = column(0, 1, 3);                       // left: column 3 + column 0
    out[1] = column(0, -1, 3);                      // right: column 3 - column 0
    out[2] = column(1, -1, 3);                      // top: column 3 - column 1
    out[3] = column(1, 1, 3);                       // bottom: column 3 + column 1
    out[4] = {m[0][2], m[1][2], m[2][2], m[3][2]};  // near: column 2
    out[5] = column(2, -1, 3);                      // far: column 3 - column 2
    for (int i = 0; i < 6; ++i) PlaneNormalize(out[i]);
}

bool PointsInFrustum(const plat::Plane planes[6], const plat::Vec3* points, int count) {
    for (int p = 0; p < 6; ++p) {
        bool anyInside = false;
        for (int i = 0; i < count && !anyInside; ++i) anyInside = PlaneDistance(planes[p], points[i]) > 0;
        if (!anyInside) return false;
    }
    return true;
}

bool SphereInFrustum(const plat::Plane planes[6], const plat::Vec3& centre, float radius) {
    for (int p = 0; p < 6; ++p)
        if (PlaneDistance(planes[p], centre) <= -radius) return false;
    return true;
}

void MatrixIdentity(plat::Matrix& m) {
    plat::D3DXMatrixIdentity(&m);
}

void MatrixRotateYawPitchRoll(plat::Matrix& m, float yaw, float pitch, float roll) {
    plat::Matrix r;
    plat::D3DXMatrixRotationYawPitchRoll(&r, yaw, pitch, roll);
    plat::D3DXMatrixMultiply(&m, &m, &r);
}

void MatrixFromYawPitchRoll(plat::Matrix& out, float yaw, float pitch, float roll) {
    plat::D3DXMatrixRotationYawPitchRoll(&out, yaw, pitch, roll);
}

void MatrixTranslation(plat::Matrix& out, float x, float y, float z) {
    plat::D3DXMatrixTranslation(&out, x, y, z);
}

void MatrixApplyScale(plat::Matrix& m, float sx, float sy, float sz) {
    for (auto& row : m.m) {
        row[0] *= sx;
        row[1] *= sy;
        row[2] *= sz;
    }
}

plat::Vec3& Vec3Add(const plat::Vec3& a, plat::Vec3& out, const plat::Vec3& b) {
    out = {a.x + b.x, a.y + b.y, a.z + b.z};
    return out;
}

plat::Vec3& Vec3Normalize(plat::Vec3& v) {
    const float len = Vec3Length(v);
    if (len > 0 && std::isfinite(len)) v = {v.x / len, v.y / len, v.z / len};
    return v;
}

plat::Vec3& Vec3Scale(plat::Vec3& v, float s) {
    v = {v.x * s, v.y * s, v.z * s};
    return v;
}

plat::Vec3& Vec3TransformCoord(plat::Vec3& v, const plat::Matrix& m) {
    const auto& a = m.m;
    v = {v.x * a[0][0] + v.y * a[1][0] + v.z * a[2][0] + a[3][0],
         v.x * a[0][1] + v.y * a[1][1] + v.z * a[2][1] + a[3][1],
         v.x * a[0][2] + v.y * a[1][2] + v.z * a[2][2] + a[3][2]};
    return v;
}

float Vec3Dot(const plat::Vec3& a, const plat::Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

float Vec3Length(const plat::Vec3& v) {
    return std::sqrt(Vec3Dot(v, v));
}

void RectFToRect(const float in[4], Rect& out) {
    out.Set(SaturateToInt(in[0]), SaturateToInt(in[1]), SaturateToInt(in[2]), SaturateToInt(in[3]));
}
