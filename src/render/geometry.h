#pragma once
// View angles and directions, the six cube faces of a panorama, the unit
// cube's vertices and a ray-box test.
//
// Angles are degrees; yaw turns about +y, positive pitch looks down:
// direction = (sin yaw cos pitch, -sin pitch, cos yaw cos pitch).
// Cube faces: 0 front (+z), 1 right (+x), 2 back (-z), 3 left (-x),
// 4 top (+y), 5 bottom (-y).
#include "platform/gpu/d3dx/math_types.h"

// The engine's pi, in every degree conversion.
constexpr float kPi = 3.1415925f;
constexpr float DegToRad(float deg) {
    return deg * kPi / 180.0f;
}
constexpr float RadToDeg(float rad) {
    return rad * 180.0f / kPi;
}

plat::Vec3* AnglesToDirection(plat::Vec3* out, float yaw, float pitch);
void DirectionToAngles(const plat::Vec3& direction, float* yaw, float* pitch);
// Yaw below 0 gets +360, else 360 or more gets -360 (one correction only);
// pitch clamped to -90..90.
void WrapYawClampPitch(float* yaw, float* pitch);

int DirectionToCubeFace(const plat::Vec3& direction);
// The face a direction falls on and its pixel on a face of size x size.
void DirectionToFacePixel(const plat::Vec3& direction, int size, int* face, int* x, int* y);
void AnglesToFacePixel(float yaw, float pitch, int size, int* face, int* x, int* y);
// The unit direction through pixel (x, y) of a width x height face (at least
// 2 x 2).
plat::Vec3* FacePixelToDirection(plat::Vec3* out, int face, int x, int y, int width, int height);

struct CubeVertex {
    float x, y, z, u, v;
};
// 6 faces x 4 corners (two-triangle strips), corners of the cube of
// half-size scale, texture coordinates (u0, v1), (u0, v0), (u1, v1), (u1, v0).
void BuildCubeVertices(CubeVertex out[24], float scale, float u0, float v0, float u1, float v1);

// True when the ray meets the box; the entry distance (negative from inside)
// goes to distance when given.
bool RayIntersectsBox(const plat::Vec3& boxMin, const plat::Vec3& boxMax, const plat::Vec3& origin,
                      const plat::Vec3& direction, float* distance);
