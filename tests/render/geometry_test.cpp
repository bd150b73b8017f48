#include "render/geometry.h"

#include <gtest/gtest.h>

#include <cmath>

using plat::Vec3;

TEST(Geometry, AnglesToDirectionKnownValues) {
    Vec3 d;
    AnglesToDirection(&d, 0, 0);
    EXPECT_EQ(d.x, 0);
    EXPECT_EQ(d.z, 1);
    AnglesToDirection(&d, 90, 0);
    EXPECT_NEAR(d.x, 1, 1e-6f);
    EXPECT_NEAR(d.y, 0, 1e-6f);
    EXPECT_NEAR(d.z, 0, 1e-6f);
    AnglesToDirection(&d, 0, 90);  // positive pitch looks down
    EXPECT_NEAR(d.y, -1, 1e-6f);
    EXPECT_NEAR(d.z, 0, 1e-6f);
}

TEST(Geometry, DirectionToAnglesWrapsOnce) {
    float yaw, pitch;
    DirectionToAngles({0, 0, -1}, &yaw, &pitch);
    EXPECT_NEAR(yaw, 180, 1e-4f);
    EXPECT_EQ(pitch, 0);
    DirectionToAngles({-1, 0, 0}, &yaw, &pitch);
    EXPECT_NEAR(yaw, 270, 1e-4f);
    DirectionToAngles({0, 1, 0}, &yaw, &pitch);
    EXPECT_NEAR(pitch, -90, 1e-4f);

    yaw = 720, pitch = -120;
    WrapYawClampPitch(&yaw, &pitch);
    EXPECT_EQ(yaw, 360);
    EXPECT_EQ(pitch, -90);
    yaw = -10, pitch = 95;
    WrapYawClampPitch(&yaw, &pitch);
    EXPECT_EQ(yaw, 350);
    EXPECT_EQ(pitch, 90);
}

TEST(Geometry, CubeFaceOfDirections) {
    EXPECT_EQ(DirectionToCubeFace({0, 0, 1}), 0);
    EXPECT_EQ(DirectionToCubeFace({1, 0.2f, 0.5f}), 1);
    EXPECT_EQ(DirectionToCubeFace({0, 0, -1}), 2);
    EXPECT_EQ(DirectionToCubeFace({-1, 0, 0}), 3);
    EXPECT_EQ(DirectionToCubeFace({0, 1, 0}), 4);
    EXPECT_EQ(DirectionToCubeFace({0.1f, -1, 0.1f}), 5);
    // Ties fall to the front or back.
    EXPECT_EQ(DirectionToCubeFace({1, 1, 1}), 0);
    EXPECT_EQ(DirectionToCubeFace({-1, -1, -1}), 2);
    EXPECT_EQ(DirectionToCubeFace({1, 1, 0}), 4);  // x = y: the vertical axis wins over x
}

TEST(Geometry, FacePixelOfCentreAndDegenerateDirections) {
    int face, x, y;
    DirectionToFacePixel({0, 0, 1}, 512, &face, &x, &y);
    EXPECT_EQ(face, 0);
    EXPECT_EQ(x, 255);
    EXPECT_EQ(y, 255);
    AnglesToFacePixel(90, 0, 512, &face, &x, &y);
    EXPECT_EQ(face, 1);
    EXPECT_NEAR(x, 255, 1);  // the engine's pi leaves z a hair above 0
    // A zero or NaN direction still lands on a pixel of the face.
    DirectionToFacePixel({0, 0, 0}, 128, &face, &x, &y);
    EXPECT_GE(x, 0);
    EXPECT_LT(x, 128);
    DirectionToFacePixel({std::nanf(""), 0, 1}, 128, &face, &x, &y);
    EXPECT_GE(y, 0);
    EXPECT_LT(y, 128);
}

// Each face's pixel-to-direction table and the direction-to-pixel table
// describe the same layout: corners (one pixel in, away from the ties on
// the cube's edges) come back on the same face at the same pixel, within
// the one-pixel difference of the two scales.
TEST(Geometry, FaceTablesRoundTripEveryFacesCorners) {
    const int n = 128;
    const int corners[4][2] = {{1, 1}, {n - 2, 1}, {1, n - 2}, {n - 2, n - 2}};
    for (int f = 0; f < 6; ++f)
        for (const auto& c : corners) {
            Vec3 d;
            FacePixelToDirection(&d, f, c[0], c[1], n, n);
            EXPECT_NEAR(std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z), 1, 1e-6f);
            int face, x, y;
            DirectionToFacePixel(d, n, &face, &x, &y);
            EXPECT_EQ(face, f) << "corner " << c[0] << "," << c[1];
            EXPECT_NEAR(x, c[0], 1) << "face " << f;
            EXPECT_NEAR(y, c[1], 1) << "face " << f;
        }
}

TEST(Geometry, CubeVerticesFaceOutwardWithTheirCoordinates) {
    CubeVertex v[24];
    BuildCubeVertices(v, 2, 0.1f, 0.2f, 0.9f, 0.8f);
    EXPECT_EQ(v[0].x, -2);
    EXPECT_EQ(v[0].z, 2);
    EXPECT_EQ(v[0].u, 0.1f);
    EXPECT_EQ(v[0].v, 0.8f);
    EXPECT_EQ(v[3].u, 0.9f);
    EXPECT_EQ(v[3].v, 0.2f);
    // Every corner of face f lies on that face's plane.
    const int axis[6] = {2, 0, 2, 0, 1, 1};
    const float sign[6] = {1, 1, -1, -1, 1, -1};
    for (int f = 0; f < 6; ++f)
        for (int c = 0; c < 4; ++c) {
            const CubeVertex& p = v[f * 4 + c];
            const float comp = axis[f] == 0 ? p.x : axis[f] == 1 ? p.y : p.z;
            EXPECT_EQ(comp, 2 * sign[f]) << f << "," << c;
        }
}

TEST(Geometry, RayAgainstBox) {
    const Vec3 lo{-1, -1, -1}, hi{1, 1, 1};
    float t = 0;
    EXPECT_TRUE(RayIntersectsBox(lo, hi, {0, 0, -5}, {0, 0, 1}, &t));
    EXPECT_FLOAT_EQ(t, 4);
    // From inside: a hit behind the origin.
    EXPECT_TRUE(RayIntersectsBox(lo, hi, {0, 0, 0}, {1, 0, 0}, &t));
    EXPECT_FLOAT_EQ(t, -1);
    // Parallel to a face, outside its slab.
    EXPECT_FALSE(RayIntersectsBox(lo, hi, {0, 2, -5}, {0, 0, 1}, nullptr));
    // Parallel, inside the slab.
    EXPECT_TRUE(RayIntersectsBox(lo, hi, {0, 0.5f, -5}, {0, 0, 1}, nullptr));
    // Pointing away.
    EXPECT_FALSE(RayIntersectsBox(lo, hi, {0, 0, -5}, {0, 0, -1}, &t));
    // Missing to the side.
    EXPECT_FALSE(RayIntersectsBox(lo, hi, {3, 0, -5}, {0, 0.1f, 1}, &t));
}
