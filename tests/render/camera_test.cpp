#include "render/camera.h"

#include <gtest/gtest.h>

#include <cmath>

#include "render/display_mode.h"
#include "script/object_model.h"
#include "render/vector_math.h"

using plat::Vec3;

namespace {

void PlaceCamera(Camera& c) {
    c.SetViewport(0, 0, 640, 480);
    c.viewport.minZ = 0;
    c.viewport.maxZ = 1;
    c.fov = 60;
    c.znear = 1;
    c.zfar = 100;
    c.LookAt({0, 0, 0}, {0, 0, 1});
    c.SetPerspective(60, 640.0f / 480, 1, 100);
    c.dirty = true;  // rebuild the frustum with the new projection
    c.UpdateView();
}

}  // namespace

TEST(Camera, DefaultsAndLookAtRows) {
    Camera c;
    EXPECT_FLOAT_EQ(c.aspect, 1.33333f);
    EXPECT_EQ(c.lookAt.z, 1);
    c.LookAt({1, 2, 3}, {0, 0, 5});
    EXPECT_EQ(c.lookAt.z, 5);  // the direction as given
    EXPECT_EQ(c.orientation.m[2][2], 1);
    EXPECT_FALSE(c.dirty);
    c.LookAt({0, 0, 0}, {1, 0, 0});
    EXPECT_EQ(c.orientation.m[0][0], 0);
    EXPECT_EQ(c.orientation.m[0][1], 0);
    EXPECT_EQ(c.orientation.m[0][2], -1);
    // A zero direction stays zero and leaves finite matrices.
    c.LookAt({0, 0, 0}, {0, 0, 0});
    EXPECT_EQ(c.orientation.m[2][2], 0);
    for (const auto& row : c.view.m)
        for (float v : row) EXPECT_TRUE(std::isfinite(v));
}

TEST(Camera, SetEyeAndRotateWaitForUpdateView) {
    Camera c;
    PlaceCamera(c);
    const plat::Matrix before = c.view;
    c.SetEye(0, 0, -5);
    c.Rotate(0.5f, 0, 0);
    EXPECT_TRUE(c.dirty);
    EXPECT_EQ(c.view.m[3][2], before.m[3][2]);
    c.UpdateView();
    EXPECT_FALSE(c.dirty);
    EXPECT_NE(c.view.m[3][2], before.m[3][2]);
    EXPECT_NEAR(c.orientation.m[2][0], std::sin(0.5f), 1e-6f);
}

TEST(Camera, ProjectNearFarAndBeyond) {
    Camera c;
    PlaceCamera(c);
    int x = -1, y = -1;
    ASSERT_TRUE(c.Project({0, 0, 10}, &x, &y));
    EXPECT_EQ(x, 320);
    EXPECT_EQ(y, 240);
    EXPECT_TRUE(c.Project({0, 0, 100}, &x, &y));  // exactly on the far plane
    x = y = -7;
    EXPECT_FALSE(c.Project({0, 0, 100.5f}, &x, &y));
    EXPECT_EQ(x, -7);
    EXPECT_EQ(y, -7);
}

TEST(Camera, UnprojectInvertsProject) {
    Camera c;
    PlaceCamera(c);
    c.SetEye(3, 1, -4);
    c.Rotate(0.3f, 0.2f, 0);
    c.UpdateView();
    Vec3 near, far;
    c.Unproject(&near, 320, 240, 0, nullptr);
    c.Unproject(&far, 320, 240, 1, nullptr);
    // Both lie on the view axis through the eye.
    Vec3 d{far.x - near.x, far.y - near.y, far.z - near.z};
    Vec3Normalize(d);
    EXPECT_NEAR(d.x, c.orientation.m[2][0], 1e-3f);
    EXPECT_NEAR(d.y, c.orientation.m[2][1], 1e-3f);
    EXPECT_NEAR(d.z, c.orientation.m[2][2], 1e-3f);
    int x, y;
    ASSERT_TRUE(c.Project(far, &x, &y));
    EXPECT_NEAR(x, 320, 1);
    EXPECT_NEAR(y, 240, 1);
}

TEST(Camera, OrthoUsesTheWindowSizeForZero) {
    g_requestedDisplayMode.width = 800;
    g_requestedDisplayMode.height = 600;
    Camera c;
    c.SetOrtho(0, 0, 1, 100);
    EXPECT_TRUE(std::isnan(c.aspect));  // 0 / 0, as passed in
    EXPECT_FLOAT_EQ(c.projection.m[0][0], 2.0f / 800);
    EXPECT_FLOAT_EQ(c.projection.m[1][1], 2.0f / 600);
    c.ortho = true;
    c.SetViewport(0, 0, 200, 100);
    c.Apply();
    EXPECT_FLOAT_EQ(c.projection.m[0][0], 2.0f / 200);
    EXPECT_FLOAT_EQ(c.aspect, 2);
    g_requestedDisplayMode = {};
}

// A new projection is what culling and a later Apply use at once: the
// frustum follows it without another view change, and Apply rebuilds the
// same field of view rather than whatever the field held before.
TEST(Camera, NewProjectionReachesFrustumAndApply) {
    Camera c;
    c.SetViewport(0, 0, 640, 480);
    c.LookAt({0, 0, 0}, {0, 0, 1});
    c.SetPerspective(60, 1, 1, 100);
    EXPECT_FLOAT_EQ(c.fov, 60);
    EXPECT_NEAR(PlaneDistance(c.frustum[5], {0, 0, 100}), 0, 1e-3f);
    EXPECT_FALSE(SphereInFrustum(c.frustum, {0, 0, 150}, 1));
    c.SetPerspective(60, 1, 1, 200);
    EXPECT_TRUE(SphereInFrustum(c.frustum, {0, 0, 150}, 1));
    // A point 50 across at 60 deep is outside 60 degrees, inside 120.
    EXPECT_FALSE(SphereInFrustum(c.frustum, {50, 0, 60}, 1));
    c.SetPerspective(120, 1, 1, 200);
    EXPECT_TRUE(SphereInFrustum(c.frustum, {50, 0, 60}, 1));
    const plat::Matrix wide = c.projection;
    c.Apply();
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_FLOAT_EQ(c.projection.m[i][j], wide.m[i][j]);
    c.ortho = true;
    c.SetOrtho(20, 20, 1, 100);
    EXPECT_FALSE(SphereInFrustum(c.frustum, {50, 0, 60}, 1));
}

TEST(Frustum, PlanesSpheresAndPoints) {
    Camera c;
    PlaceCamera(c);
    const plat::Plane* f = c.frustum;
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(std::sqrt(f[i].a * f[i].a + f[i].b * f[i].b + f[i].c * f[i].c), 1, 1e-5f);
    EXPECT_NEAR(PlaneDistance(f[4], {0, 0, 1}), 0, 1e-5f);
    EXPECT_NEAR(PlaneDistance(f[5], {0, 0, 100}), 0, 1e-3f);
    EXPECT_TRUE(SphereInFrustum(f, {0, 0, 50}, 1));
    EXPECT_FALSE(SphereInFrustum(f, {0, 0, -50}, 1));
    EXPECT_TRUE(SphereInFrustum(f, {0, 0, 101.5f}, 2));
    EXPECT_FALSE(SphereInFrustum(f, {0, 0, 103}, 2));
    // Touching a plane from behind at exactly its radius: outside.
    plat::Plane box[6];
    for (int i = 0; i < 6; ++i) box[i] = {0, 0, 1, 1000};
    box[5] = {0, 0, -1, 100};
    EXPECT_FALSE(SphereInFrustum(box, {0, 0, 102}, 2));
    EXPECT_TRUE(SphereInFrustum(box, {0, 0, 101.75f}, 2));
    const Vec3 inside[] = {{0, 0, 200}, {0, 0, 10}};
    const Vec3 behind[] = {{0, 0, -1}, {5, 0, -3}};
    EXPECT_TRUE(PointsInFrustum(f, inside, 2));
    EXPECT_FALSE(PointsInFrustum(f, behind, 2));
}

TEST(VectorMath, SmallRoutines) {
    Vec3 z{};
    EXPECT_EQ(Vec3Normalize(z).x, 0);
    Vec3 v{0, 3, 4};
    EXPECT_FLOAT_EQ(Vec3Length(v), 5);
    Vec3Scale(v, 2);
    EXPECT_EQ(v.z, 8);
    Vec3 sum;
    Vec3Add({1, 2, 3}, sum, {1, 1, 1});
    EXPECT_EQ(sum.z, 4);
    plat::Matrix m;
    m.m[0][3] = 5;  // w column ignored
    m.m[3][0] = 1;
    Vec3 p{1, 1, 1};
    Vec3TransformCoord(p, m);
    EXPECT_EQ(p.x, 2);
    MatrixApplyScale(m, 2, 3, 4);
    EXPECT_EQ(m.m[3][0], 2);
    EXPECT_EQ(m.m[1][1], 3);
    EXPECT_EQ(m.m[0][3], 5);
    const float rf[4] = {1.9f, -1.9f, 1e12f, std::nanf("")};
    Rect r;
    RectFToRect(rf, r);
    EXPECT_EQ(r.x, 1);
    EXPECT_EQ(r.y, -1);
    EXPECT_EQ(r.w, 2147483647);
    EXPECT_EQ(r.h, 0);
    plat::Plane flat{};
    PlaneNormalize(flat);
    EXPECT_EQ(flat.d, 0);
}

TEST(Camera, IsTheViewClassWithItsProperties) {
    RegisterAllClassProperties();
    EObject* o = CreateObjectByClass("view");
    ASSERT_NE(o, nullptr);
    EXPECT_TRUE(IsClass(o, "view"));
    auto* c = static_cast<Camera*>(o);
    EXPECT_FLOAT_EQ(c->aspect, 1.33333f);
    std::string keys;
    for (PropertyInfo* p = Camera::s_descriptor.first; p; p = p->next) keys += std::string(p->name) + " ";
    EXPECT_EQ(keys, "ortho fov znear zfar aspect eye lookAt class name ");
    Camera::operator delete(o, sizeof(Camera));
}
