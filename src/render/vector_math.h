#pragma once
// The small vector, matrix and plane routines shared by the camera and the
// scene code, and the frustum tests built on them.
#include "base/text.h"
#include "platform/gpu/d3dx/math_types.h"

class Camera;

// a x + b y + c z + d.
float PlaneDistance(const plat::Plane& plane, const plat::Vec3& point);
// Divides a, b, c, d by the length of (a, b, c); a plane with no normal is
// left unchanged.
void PlaneNormalize(plat::Plane& plane);
// Left, right, top, bottom, near, far from the camera's view x projection.
void BuildFrustumPlanes(plat::Plane out[6], const Camera& camera);
// Planes from a combined view x projection matrix.
void BuildFrustumPlanes(plat::Plane out[6], const plat::Matrix& viewProj);
// False as soon as one plane has every point on or behind it.
bool PointsInFrustum(const plat::Plane planes[6], const plat::Vec3* points, int count);
// False when the centre lies radius or more behind any plane.
bool SphereInFrustum(const plat::Plane planes[6], const plat::Vec3& centre, float radius);

void MatrixIdentity(plat::Matrix& m);
// m = m x rotation(yaw, pitch, roll), radians.
void MatrixRotateYawPitchRoll(plat::Matrix& m, float yaw, float pitch, float roll);
void MatrixFromYawPitchRoll(plat::Matrix& out, float yaw, float pitch, float roll);
void MatrixTranslation(plat::Matrix& out, float x, float y, float z);
// m = m x scaling: columns 0, 1, 2 of every row times sx, sy, sz.
void MatrixApplyScale(plat::Matrix& m, float sx, float sy, float sz);

// out = a + b; returns out.
plat::Vec3& Vec3Add(const plat::Vec3& a, plat::Vec3& out, const plat::Vec3& b);
// In place; a zero-length vector is left unchanged.
plat::Vec3& Vec3Normalize(plat::Vec3& v);
plat::Vec3& Vec3Scale(plat::Vec3& v, float s);
// In place: (x, y, z, 1) x m with the w column ignored (no division).
plat::Vec3& Vec3TransformCoord(plat::Vec3& v, const plat::Matrix& m);
float Vec3Dot(const plat::Vec3& a, const plat::Vec3& b);
float Vec3Length(const plat::Vec3& v);

// Each of x, y, w, h truncated toward zero (saturating).
void RectFToRect(const float in[4], Rect& out);
