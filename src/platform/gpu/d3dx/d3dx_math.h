#pragma once
// Vector, matrix and quaternion math of the device layer: row vectors
// (p' = p * M), matrices stored row by row, left-handed view and projection.
//
// Every routine writes its result through the out pointer and returns it,
// so calls chain; out may be the same object as any input. Degenerate input
// has a defined result: a zero vector normalises to zero, a singular matrix
// inverts to identity (and the call returns null), a zero rotation axis
// gives identity. The library is compiled without floating-point
// contraction or fast-math so results repeat bit for bit.
#include <cstddef>
#include <cstdint>

#include "platform/gpu/d3dx/math_types.h"

namespace plat {

// Float to integer, truncated toward zero, saturating at the ends of the
// range; NaN gives 0. Every float-to-integer conversion goes through these.
int32_t SaturateToInt(double v);
int64_t SaturateToInt64(double v);

// Matrices.
Matrix* D3DXMatrixIdentity(Matrix* out);
Matrix* D3DXMatrixMultiply(Matrix* out, const Matrix* a, const Matrix* b);  // a then b
float D3DXMatrixDeterminant(const Matrix* m);
// Writes the determinant through det when given. A singular matrix (or one
// with non-finite entries) gives identity and returns null.
Matrix* D3DXMatrixInverse(Matrix* out, float* det, const Matrix* m);
Matrix* D3DXMatrixTranslation(Matrix* out, float x, float y, float z);
Matrix* D3DXMatrixScaling(Matrix* out, float sx, float sy, float sz);
// Roll about z, then pitch about x, then yaw about y (radians).
Matrix* D3DXMatrixRotationYawPitchRoll(Matrix* out, float yaw, float pitch, float roll);
Matrix* D3DXMatrixRotationAxis(Matrix* out, const Vec3* axis, float angle);
Matrix* D3DXMatrixRotationQuaternion(Matrix* out, const Quat* q);
Matrix* D3DXMatrixLookAtLH(Matrix* out, const Vec3* eye, const Vec3* at, const Vec3* up);
Matrix* D3DXMatrixPerspectiveFovLH(Matrix* out, float fovy, float aspect, float zn, float zf);
Matrix* D3DXMatrixOrthoLH(Matrix* out, float w, float h, float zn, float zf);
// Flattens geometry onto the plane as seen from the light (w = 0: a
// direction, w = 1: a point). The plane is normalised first.
Matrix* D3DXMatrixShadow(Matrix* out, const Vec4* light, const Plane* plane);

// Vectors.
float D3DXVec3Length(const Vec3* v);
float D3DXVec3Dot(const Vec3* a, const Vec3* b);
Vec3* D3DXVec3Cross(Vec3* out, const Vec3* a, const Vec3* b);
Vec3* D3DXVec3Normalize(Vec3* out, const Vec3* v);
// (x, y, z, 1) * m.
Vec4* D3DXVec3Transform(Vec4* out, const Vec3* v, const Matrix* m);
// (x, y, z, 1) * m divided by the resulting w (w = 0: not divided).
Vec3* D3DXVec3TransformCoord(Vec3* out, const Vec3* v, const Matrix* m);
// Object space to screen: world, view and projection (each may be null for
// identity), then the viewport (null: normalised coordinates).
Vec3* D3DXVec3Project(Vec3* out, const Vec3* v, const Viewport* vp, const Matrix* proj, const Matrix* view,
                      const Matrix* world);
// Screen (x, y, depth in the viewport's range) back to object space.
Vec3* D3DXVec3Unproject(Vec3* out, const Vec3* v, const Viewport* vp, const Matrix* proj, const Matrix* view,
                        const Matrix* world);

// Quaternions (x, y, z, w) of the same handedness as the matrices: the
// matrix of a quaternion rotates row vectors the same way.
Quat* D3DXQuaternionRotationAxis(Quat* out, const Vec3* axis, float angle);
// The rotation part of m (scale-free upper 3 x 3 expected).
Quat* D3DXQuaternionRotationMatrix(Quat* out, const Matrix* m);
// Shortest-arc spherical interpolation from a (t = 0) to b (t = 1).
Quat* D3DXQuaternionSlerp(Quat* out, const Quat* a, const Quat* b, float t);

// Bounds over count positions stride bytes apart. False (and zeroed
// results) when there are no points or the stride is smaller than a Vec3.
bool D3DXComputeBoundingBox(const Vec3* first, size_t count, size_t stride, Vec3* min, Vec3* max);
// Centre = mean of the points, radius = the largest distance from it.
bool D3DXComputeBoundingSphere(const Vec3* first, size_t count, size_t stride, Vec3* centre, float* radius);

}  // namespace plat
