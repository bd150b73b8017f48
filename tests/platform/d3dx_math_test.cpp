#include "platform/gpu/d3dx/d3dx_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace plat;

namespace {

void ExpectMatrixNear(const Matrix& a, const Matrix& b, float tol = 1e-5f) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(a.m[i][j], b.m[i][j], tol) << "at " << i << "," << j;
}

Matrix Sample() {
    Matrix m;
    D3DXMatrixRotationYawPitchRoll(&m, 0.3f, -0.7f, 1.1f);
    Matrix s, t;
    D3DXMatrixScaling(&s, 2, 3, 0.5f);
    D3DXMatrixTranslation(&t, 4, -5, 6);
    D3DXMatrixMultiply(&m, &s, &m);
    D3DXMatrixMultiply(&m, &m, &t);
    return m;
}

}  // namespace

TEST(D3dxMath, SaturatingConversions) {
    EXPECT_EQ(SaturateToInt(2.9), 2);
    EXPECT_EQ(SaturateToInt(-2.9), -2);
    EXPECT_EQ(SaturateToInt(std::nan("")), 0);
    EXPECT_EQ(SaturateToInt(1e30), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(SaturateToInt(-1e30), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(SaturateToInt(std::numeric_limits<double>::infinity()), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(SaturateToInt64(9.3e18), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(SaturateToInt64(-9.3e18), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(SaturateToInt64(143181.9), 143181);
}

TEST(D3dxMath, MultiplyIsRowVectorOrderAndAliasSafe) {
    Matrix t, s, ts;
    D3DXMatrixTranslation(&t, 1, 2, 3);
    D3DXMatrixScaling(&s, 2, 2, 2);
    // Translate then scale: the translation row is scaled too.
    D3DXMatrixMultiply(&ts, &t, &s);
    EXPECT_FLOAT_EQ(ts.m[3][0], 2);
    EXPECT_FLOAT_EQ(ts.m[3][2], 6);
    Matrix a = t;
    D3DXMatrixMultiply(&a, &a, &s);
    ExpectMatrixNear(a, ts, 0);
    Matrix b = s;
    D3DXMatrixMultiply(&b, &t, &b);
    ExpectMatrixNear(b, ts, 0);
}

TEST(D3dxMath, InverseTimesMatrixIsIdentity) {
    const Matrix m = Sample();
    Matrix inv, prod;
    float det = 0;
    ASSERT_NE(D3DXMatrixInverse(&inv, &det, &m), nullptr);
    EXPECT_NEAR(det, 2 * 3 * 0.5f, 1e-4f);
    EXPECT_NEAR(D3DXMatrixDeterminant(&m), det, 1e-6f);
    D3DXMatrixMultiply(&prod, &inv, &m);
    ExpectMatrixNear(prod, Matrix{});
    D3DXMatrixMultiply(&prod, &m, &inv);
    ExpectMatrixNear(prod, Matrix{});
    // In place.
    Matrix in = m;
    D3DXMatrixInverse(&in, nullptr, &in);
    ExpectMatrixNear(in, inv, 0);
}

TEST(D3dxMath, SingularAndNonFiniteInverseGiveIdentity) {
    Matrix zero;
    for (auto& row : zero.m)
        for (float& v : row) v = 0;
    Matrix out = Sample();
    float det = 5;
    EXPECT_EQ(D3DXMatrixInverse(&out, &det, &zero), nullptr);
    EXPECT_EQ(det, 0);
    ExpectMatrixNear(out, Matrix{}, 0);

    Matrix flat;
    D3DXMatrixScaling(&flat, 1, 0, 1);
    out = Sample();
    EXPECT_EQ(D3DXMatrixInverse(&out, nullptr, &flat), nullptr);
    ExpectMatrixNear(out, Matrix{}, 0);

    Matrix nan;
    nan.m[1][2] = std::nanf("");
    EXPECT_EQ(D3DXMatrixInverse(&out, nullptr, &nan), nullptr);
    ExpectMatrixNear(out, Matrix{}, 0);
}

TEST(D3dxMath, YawPitchRollAgainstAnalyticMatrix) {
    const float y = 0.4f, p = -1.2f, r = 2.5f;
    Matrix m;
    D3DXMatrixRotationYawPitchRoll(&m, y, p, r);
    // Roll about z, then pitch about x, then yaw about y, for row vectors.
    const double cy = std::cos(y), sy = std::sin(y), cp = std::cos(p), sp = std::sin(p), cr = std::cos(r),
                 sr = std::sin(r);
    const double rz[3][3] = {{cr, sr, 0}, {-sr, cr, 0}, {0, 0, 1}};
    const double rx[3][3] = {{1, 0, 0}, {0, cp, sp}, {0, -sp, cp}};
    const double ry[3][3] = {{cy, 0, -sy}, {0, 1, 0}, {sy, 0, cy}};
    double zx[3][3] = {}, e[3][3] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) zx[i][j] += rz[i][k] * rx[k][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) e[i][j] += zx[i][k] * ry[k][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_NEAR(m.m[i][j], e[i][j], 1e-6) << i << "," << j;
    EXPECT_EQ(m.m[3][3], 1);
    EXPECT_EQ(m.m[0][3], 0);
    EXPECT_EQ(m.m[3][0], 0);

    // Yaw 90 degrees turns +z into +x.
    Vec3 fwd{0, 0, 1}, out;
    D3DXMatrixRotationYawPitchRoll(&m, 1.5707963f, 0, 0);
    D3DXVec3TransformCoord(&out, &fwd, &m);
    EXPECT_NEAR(out.x, 1, 1e-6f);
    EXPECT_NEAR(out.z, 0, 1e-6f);
}

TEST(D3dxMath, RotationAxisMatchesYawPitchRollAndHandlesZeroAxis) {
    Matrix a, b;
    const Vec3 yAxis{0, 5, 0};
    D3DXMatrixRotationAxis(&a, &yAxis, 0.8f);
    D3DXMatrixRotationYawPitchRoll(&b, 0.8f, 0, 0);
    ExpectMatrixNear(a, b);
    const Vec3 xAxis{1, 0, 0};
    D3DXMatrixRotationAxis(&a, &xAxis, -0.3f);
    D3DXMatrixRotationYawPitchRoll(&b, 0, -0.3f, 0);
    ExpectMatrixNear(a, b);
    const Vec3 zero{};
    a = Sample();
    D3DXMatrixRotationAxis(&a, &zero, 1);
    ExpectMatrixNear(a, Matrix{}, 0);
}

TEST(D3dxMath, NormalizeCrossAndTransform) {
    Vec3 v{3, 0, 4}, n;
    D3DXVec3Normalize(&n, &v);
    EXPECT_FLOAT_EQ(n.x, 0.6f);
    EXPECT_FLOAT_EQ(n.z, 0.8f);
    const Vec3 zero{};
    n = {7, 7, 7};
    D3DXVec3Normalize(&n, &zero);
    EXPECT_EQ(n.x, 0);
    EXPECT_EQ(n.y, 0);
    EXPECT_EQ(n.z, 0);
    const Vec3 nan{std::nanf(""), 0, 0};
    D3DXVec3Normalize(&n, &nan);
    EXPECT_EQ(n.x, 0);

    const Vec3 x{1, 0, 0}, y{0, 1, 0};
    Vec3 z;
    D3DXVec3Cross(&z, &x, &y);
    EXPECT_EQ(z.z, 1);

    Matrix m;
    m.m[2][3] = 1;  // w = z
    m.m[3][3] = 0;
    const Vec3 p{2, 4, 2};
    Vec4 w;
    D3DXVec3Transform(&w, &p, &m);
    EXPECT_EQ(w.w, 2);
    Vec3 c;
    D3DXVec3TransformCoord(&c, &p, &m);
    EXPECT_EQ(c.x, 1);
    EXPECT_EQ(c.y, 2);
    const Vec3 onPlane{2, 4, 0};  // w = 0: left undivided, still finite
    D3DXVec3TransformCoord(&c, &onPlane, &m);
    EXPECT_EQ(c.x, 2);
}

TEST(D3dxMath, LookAtPerspectiveAndOrthoKnownValues) {
    Matrix view;
    const Vec3 eye{0, 0, -10}, at{0, 0, 0}, up{0, 1, 0};
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    Matrix expect;
    expect.m[3][2] = 10;
    ExpectMatrixNear(view, expect, 0);

    Matrix proj;
    D3DXMatrixPerspectiveFovLH(&proj, 1.5707964f, 2.0f, 1, 101);
    EXPECT_NEAR(proj.m[1][1], 1, 1e-6f);
    EXPECT_NEAR(proj.m[0][0], 0.5f, 1e-6f);
    EXPECT_FLOAT_EQ(proj.m[2][2], 101.0f / 100);
    EXPECT_FLOAT_EQ(proj.m[3][2], -101.0f / 100);
    EXPECT_EQ(proj.m[2][3], 1);
    EXPECT_EQ(proj.m[3][3], 0);
    // Near maps to depth 0, far to 1.
    Vec3 c;
    const Vec3 pn{0, 0, 1}, pf{0, 0, 101};
    EXPECT_NEAR(D3DXVec3TransformCoord(&c, &pn, &proj)->z, 0, 1e-6f);
    EXPECT_NEAR(D3DXVec3TransformCoord(&c, &pf, &proj)->z, 1, 1e-6f);

    Matrix ortho;
    D3DXMatrixOrthoLH(&ortho, 200, 100, 1, 11);
    const Vec3 corner{100, 50, 11};
    D3DXVec3TransformCoord(&c, &corner, &ortho);
    EXPECT_FLOAT_EQ(c.x, 1);
    EXPECT_FLOAT_EQ(c.y, 1);
    EXPECT_FLOAT_EQ(c.z, 1);
}

TEST(D3dxMath, ProjectThenUnprojectReturnsThePoint) {
    Matrix view, proj;
    const Vec3 eye{1, 2, -8}, at{0, 0.5f, 3}, up{0, 1, 0};
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovLH(&proj, 0.9f, 4.0f / 3, 0.5f, 500);
    const Matrix world = Sample();
    Viewport vp;
    vp.x = 10, vp.y = 20, vp.width = 640, vp.height = 480;
    const Vec3 points[] = {{0, 0, 0}, {0.3f, -0.2f, 1.5f}, {-1, 1, 2}};
    for (const Vec3& p : points) {
        Vec3 s, back;
        D3DXVec3Project(&s, &p, &vp, &proj, &view, &world);
        EXPECT_GT(s.z, 0);
        EXPECT_LT(s.z, 1);
        D3DXVec3Unproject(&back, &s, &vp, &proj, &view, &world);
        EXPECT_NEAR(back.x, p.x, 2e-3f);
        EXPECT_NEAR(back.y, p.y, 2e-3f);
        EXPECT_NEAR(back.z, p.z, 2e-3f);
    }
    // The look-at point lands in the viewport's centre.
    Vec3 s;
    D3DXVec3Project(&s, &at, &vp, &proj, &view, nullptr);
    EXPECT_NEAR(s.x, 10 + 320, 1e-3f);
    EXPECT_NEAR(s.y, 20 + 240, 1e-3f);
    // An empty viewport does not divide by zero.
    Viewport empty;
    empty.maxZ = 0;
    D3DXVec3Unproject(&s, &s, &empty, &proj, &view, nullptr);
    EXPECT_TRUE(std::isfinite(s.x));
}

TEST(D3dxMath, QuaternionFromMatrixAndBack) {
    const float angles[][3] = {
        {0.3f, -0.7f, 1.1f}, {3.1f, 0.1f, 0}, {0, 3.0f, 0}, {0, 0, -3.1f}, {1.5f, 1.5f, 1.5f}};
    for (const auto& a : angles) {
        Matrix m, back;
        D3DXMatrixRotationYawPitchRoll(&m, a[0], a[1], a[2]);
        Quat q;
        D3DXQuaternionRotationMatrix(&q, &m);
        EXPECT_NEAR(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w, 1, 1e-5f);
        D3DXMatrixRotationQuaternion(&back, &q);
        ExpectMatrixNear(back, m, 2e-5f);
    }
    // Rotation about an axis agrees with the matrix of that rotation.
    const Vec3 axis{1, 2, -1};
    Quat q;
    Matrix fromQ, fromAxis;
    D3DXQuaternionRotationAxis(&q, &axis, 0.9f);
    D3DXMatrixRotationQuaternion(&fromQ, &q);
    D3DXMatrixRotationAxis(&fromAxis, &axis, 0.9f);
    ExpectMatrixNear(fromQ, fromAxis);
    // Not a rotation: no rotation.
    Matrix zero;
    for (auto& row : zero.m)
        for (float& v : row) v = 0;
    zero.m[0][0] = -1;
    zero.m[1][1] = -1;
    zero.m[2][2] = -1;
    zero.m[0][0] = std::nanf("");
    D3DXQuaternionRotationMatrix(&q, &zero);
    EXPECT_EQ(q.w, 1);
}

TEST(D3dxMath, SlerpEndsMidpointAndShortestArc) {
    const Vec3 y{0, 1, 0};
    Quat a, b, out;
    D3DXQuaternionRotationAxis(&a, &y, 0.2f);
    D3DXQuaternionRotationAxis(&b, &y, 1.4f);
    D3DXQuaternionSlerp(&out, &a, &b, 0);
    EXPECT_FLOAT_EQ(out.y, a.y);
    EXPECT_FLOAT_EQ(out.w, a.w);
    D3DXQuaternionSlerp(&out, &a, &b, 1);
    EXPECT_FLOAT_EQ(out.y, b.y);
    EXPECT_FLOAT_EQ(out.w, b.w);
    Quat mid;
    D3DXQuaternionRotationAxis(&mid, &y, 0.8f);
    D3DXQuaternionSlerp(&out, &a, &b, 0.5f);
    EXPECT_NEAR(out.y, mid.y, 1e-6f);
    EXPECT_NEAR(out.w, mid.w, 1e-6f);
    // b and -b are one rotation: the result is the same rotation.
    const Quat negB{-b.x, -b.y, -b.z, -b.w};
    Quat viaNeg;
    D3DXQuaternionSlerp(&viaNeg, &a, &negB, 0.5f);
    EXPECT_NEAR(std::fabs(viaNeg.y), mid.y, 1e-6f);
    EXPECT_NEAR(std::fabs(viaNeg.w), mid.w, 1e-6f);
    // Equal ends do not divide by zero.
    D3DXQuaternionSlerp(&out, &a, &a, 0.3f);
    EXPECT_NEAR(out.y, a.y, 1e-6f);
}

TEST(D3dxMath, ShadowFlattensOntoThePlane) {
    const Vec4 light{0, 10, 0, 1};
    const Plane ground{0, 2, 0, 0};  // y = 0, not normalised
    Matrix s;
    D3DXMatrixShadow(&s, &light, &ground);
    const Vec3 p{3, 5, 1};
    Vec3 out;
    D3DXVec3TransformCoord(&out, &p, &s);
    EXPECT_NEAR(out.y, 0, 1e-5f);
    // Along the ray from the light through p: x doubles at y = 0.
    EXPECT_NEAR(out.x, 6, 1e-5f);
    EXPECT_NEAR(out.z, 2, 1e-5f);
}

TEST(D3dxMath, BoundingBoxAndSphereWithStride) {
    struct V {
        Vec3 p;
        float u, v;
    };
    const V verts[] = {{{-1, 0, 2}, 0, 0}, {{3, -2, 2}, 0, 0}, {{1, 2, 2}, 0, 0}, {{1, 0, 2}, 0, 0}};
    Vec3 lo, hi, c;
    float r = 0;
    ASSERT_TRUE(D3DXComputeBoundingBox(&verts[0].p, 4, sizeof(V), &lo, &hi));
    EXPECT_EQ(lo.x, -1);
    EXPECT_EQ(lo.y, -2);
    EXPECT_EQ(hi.x, 3);
    EXPECT_EQ(hi.y, 2);
    ASSERT_TRUE(D3DXComputeBoundingSphere(&verts[0].p, 4, sizeof(V), &c, &r));
    EXPECT_FLOAT_EQ(c.x, 1);
    EXPECT_FLOAT_EQ(c.y, 0);
    EXPECT_FLOAT_EQ(c.z, 2);
    EXPECT_FLOAT_EQ(r, std::sqrt(8.0f));
    EXPECT_FALSE(D3DXComputeBoundingSphere(&verts[0].p, 0, sizeof(V), &c, &r));
    EXPECT_EQ(r, 0);
    EXPECT_FALSE(D3DXComputeBoundingBox(&verts[0].p, 4, 4, &lo, &hi));
}
