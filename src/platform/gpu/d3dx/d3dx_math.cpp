#include "platform/gpu/d3dx/d3dx_math.h"

#include <cmath>
#include <limits>

namespace plat {

namespace {

template <typename I>
I Saturate(double v) {
    if (std::isnan(v)) return 0;
    // The upper bound as a double is exact for 32 bits and rounds up to 2^63
    // for 64 bits, so >= catches everything that does not fit.
    if (v >= static_cast<double>(std::numeric_limits<I>::max())) return std::numeric_limits<I>::max();
    if (v <= static_cast<double>(std::numeric_limits<I>::min())) return std::numeric_limits<I>::min();
    return static_cast<I>(v);
}

const Matrix kIdentity{};

const Vec3* Position(const Vec3* first, size_t stride, size_t i) {
    return reinterpret_cast<const Vec3*>(reinterpret_cast<const uint8_t*>(first) + i * stride);
}

}  // namespace

int32_t SaturateToInt(double v) {
    return Saturate<int32_t>(v);
}
int64_t SaturateToInt64(double v) {
    return Saturate<int64_t>(v);
}

Matrix* D3DXMatrixIdentity(Matrix* out) {
    *out = kIdentity;
    return out;
}

Matrix* D3DXMatrixMultiply(Matrix* out, const Matrix* a, const Matrix* b) {
    Matrix r;
    for (int i = 0; i < 4; ++i) {
        const float a0 = a->m[i][0], a1 = a->m[i][1], a2 = a->m[i][2], a3 = a->m[i][3];
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = a0 * b->m[0][j] + a1 * b->m[1][j] + a2 * b->m[2][j] + a3 * b->m[3][j];
    }
    *out = r;
    return out;
}

namespace {

// The 2 x 2 sub-determinants of the lower two rows and of the upper two
// rows; each cofactor of the 4 x 4 matrix is a combination of three of them.
struct Minors {
    float s[6], c[6];
};

Minors ComputeMinors(const Matrix& a) {
    const auto& m = a.m;
    Minors r;
    r.s[0] = m[0][0] * m[1][1] - m[1][0] * m[0][1];
    r.s[1] = m[0][0] * m[1][2] - m[1][0] * m[0][2];
    r.s[2] = m[0][0] * m[1][3] - m[1][0] * m[0][3];
    r.s[3] = m[0][1] * m[1][2] - m[1][1] * m[0][2];
    r.s[4] = m[0][1] * m[1][3] - m[1][1] * m[0][3];
    r.s[5] = m[0][2] * m[1][3] - m[1][2] * m[0][3];
    r.c[5] = m[2][2] * m[3][3] - m[3][2] * m[2][3];
    r.c[4] = m[2][1] * m[3][3] - m[3][1] * m[2][3];
    r.c[3] = m[2][1] * m[3][2] - m[3][1] * m[2][2];
    r.c[2] = m[2][0] * m[3][3] - m[3][0] * m[2][3];
    r.c[1] = m[2][0] * m[3][2] - m[3][0] * m[2][2];
    r.c[0] = m[2][0] * m[3][1] - m[3][0] * m[2][1];
    return r;
}

float DeterminantOf(const Minors& n) {
    return n.s[0] * n.c[5] - n.s[1] * n.c[4] + n.s[2] * n.c[3] + n.s[3] * n.c[2] - n.s[4] * n.c[1] +
           n.s[5] * n.c[0];
}

}  // namespace

float D3DXMatrixDeterminant(const Matrix* m) {
    return DeterminantOf(ComputeMinors(*m));
}

Matrix* D3DXMatrixInverse(Matrix* out, float* det, const Matrix* a) {
    const Minors n = ComputeMinors(*a);
    const float d = DeterminantOf(n);
    if (det) *det = d;
    const float inv = 1.0f / d;
    if (d == 0.0f || !std::isfinite(d) || !std::isfinite(inv)) {
        *out = kIdentity;
        return nullptr;
    }
    const auto& m = a->m;
    const float* s = n.s;
    const float* c = n.c;
    Matrix r;
    r.m[0][0] = (m[1][1] * c[5] - m[1][2] * c[4] + m[1][3] * c[3]) * inv;
    r.m[0][1] = (-m[0][1] * c[5] + m[0][2] * c[4] - m[0][3] * c[3]) * inv;
    r.m[0][2] = (m[3][1] * s[5] - m[3][2] * s[4] + m[3][3] * s[3]) * inv;
    r.m[0][3] = (-m[2][1] * s[5] + m[2][2] * s[4] - m[2][3] * s[3]) * inv;
    r.m[1][0] = (-m[1][0] * c[5] + m[1][2] * c[2] - m[1][3] * c[1]) * inv;
    r.m[1][1] = (m[0][0] * c[5] - m[0][2] * c[2] + m[0][3] * c[1]) * inv;
    r.m[1][2] = (-m[3][0] * s[5] + m[3][2] * s[2] - m[3][3] * s[1]) * inv;
    r.m[1][3] = (m[2][0] * s[5] - m[2][2] * s[2] + m[2][3] * s[1]) * inv;
    r.m[2][0] = (m[1][0] * c[4] - m[1][1] * c[2] + m[1][3] * c[0]) * inv;
    r.m[2][1] = (-m[0][0] * c[4] + m[0][1] * c[2] - m[0][3] * c[0]) * inv;
    r.m[2][2] = (m[3][0] * s[4] - m[3][1] * s[2] + m[3][3] * s[0]) * inv;
    r.m[2][3] = (-m[2][0] * s[4] + m[2][1] * s[2] - m[2][3] * s[0]) * inv;
    r.m[3][0] = (-m[1][0] * c[3] + m[1][1] * c[1] - m[1][2] * c[0]) * inv;
    r.m[3][1] = (m[0][0] * c[3] - m[0][1] * c[1] + m[0][2] * c[0]) * inv;
    r.m[3][2] = (-m[3][0] * s[3] + m[3][1] * s[1] - m[3][2] * s[0]) * inv;
    r.m[3][3] = (m[2][0] * s[3] - m[2][1] * s[1] + m[2][2] * s[0]) * inv;
    *out = r;
    return out;
}

Matrix* D3DXMatrixTranslation(Matrix* out, float x, float y, float z) {
    *out = kIdentity;
    out->m[3][0] = x;
    out->m[3][1] = y;
    out->m[3][2] = z;
    return out;
}

Matrix* D3DXMatrixScaling(Matrix* out, float sx, float sy, float sz) {
    *out = kIdentity;
    out->m[0][0] = sx;
    out->m[1][1] = sy;
    out->m[2][2] = sz;
    return out;
}

Matrix* D3DXMatrixRotationYawPitchRoll(Matrix* out, float yaw, float pitch, float roll) {
    const float cy = std::cos(yaw), sy = std::sin(yaw);
    const float cp = std::cos(pitch), sp = std::sin(pitch);
    const float cr = std::cos(roll), sr = std::sin(roll);
    Matrix r;
    r.m[0][0] = cr * cy + sr * sp * sy;
    r.m[0][1] = sr * cp;
    r.m[0][2] = sr * sp * cy - cr * sy;
    r.m[1][0] = cr * sp * sy - sr * cy;
    r.m[1][1] = cr * cp;
    r.m[1][2] = sr * sy + cr * sp * cy;
    r.m[2][0] = cp * sy;
    r.m[2][1] = -sp;
    r.m[2][2] = cp * cy;
    *out = r;
    return out;
}

Matrix* D3DXMatrixRotationAxis(Matrix* out, const Vec3* axis, float angle) {
    Vec3 v;
    D3DXVec3Normalize(&v, axis);
    if (v.x == 0 && v.y == 0 && v.z == 0) return D3DXMatrixIdentity(out);
    const float c = std::cos(angle), s = std::sin(angle), t = 1.0f - c;
    Matrix r;
    r.m[0][0] = t * v.x * v.x + c;
    r.m[0][1] = t * v.x * v.y + s * v.z;
    r.m[0][2] = t * v.x * v.z - s * v.y;
    r.m[1][0] = t * v.x * v.y - s * v.z;
    r.m[1][1] = t * v.y * v.y + c;
    r.m[1][2] = t * v.y * v.z + s * v.x;
    r.m[2][0] = t * v.x * v.z + s * v.y;
    r.m[2][1] = t * v.y * v.z - s * v.x;
    r.m[2][2] = t * v.z * v.z + c;
    *out = r;
    return out;
}

Matrix* D3DXMatrixRotationQuaternion(Matrix* out, const Quat* q) {
    const float x = q->x, y = q->y, z = q->z, w = q->w;
    Matrix r;
    r.m[0][0] = 1.0f - 2.0f * (y * y + z * z);
    r.m[0][1] = 2.0f * (x * y + z * w);
    r.m[0][2] = 2.0f * (x * z - y * w);
    r.m[1][0] = 2.0f * (x * y - z * w);
    r.m[1][1] = 1.0f - 2.0f * (x * x + z * z);
    r.m[1][2] = 2.0f * (y * z + x * w);
    r.m[2][0] = 2.0f * (x * z + y * w);
    r.m[2][1] = 2.0f * (y * z - x * w);
    r.m[2][2] = 1.0f - 2.0f * (x * x + y * y);
    *out = r;
    return out;
}

Matrix* D3DXMatrixLookAtLH(Matrix* out, const Vec3* eye, const Vec3* at, const Vec3* up) {
    Vec3 z{at->x - eye->x, at->y - eye->y, at->z - eye->z};
    D3DXVec3Normalize(&z, &z);
    Vec3 x;
    D3DXVec3Cross(&x, up, &z);
    D3DXVec3Normalize(&x, &x);
    Vec3 y;
    D3DXVec3Cross(&y, &z, &x);
    Matrix r;
    r.m[0][0] = x.x, r.m[0][1] = y.x, r.m[0][2] = z.x, r.m[0][3] = 0;
    r.m[1][0] = x.y, r.m[1][1] = y.y, r.m[1][2] = z.y, r.m[1][3] = 0;
    r.m[2][0] = x.z, r.m[2][1] = y.z, r.m[2][2] = z.z, r.m[2][3] = 0;
    r.m[3][0] = -D3DXVec3Dot(&x, eye);
    r.m[3][1] = -D3DXVec3Dot(&y, eye);
    r.m[3][2] = -D3DXVec3Dot(&z, eye);
    r.m[3][3] = 1;
    *out = r;
    return out;
}

Matrix* D3DXMatrixPerspectiveFovLH(Matrix* out, float fovy, float aspect, float zn, float zf) {
    const float ys = 1.0f / std::tan(fovy * 0.5f);
    const float q = zf / (zf - zn);
    Matrix r;
    r.m[0][0] = ys / aspect;
    r.m[1][1] = ys;
    r.m[2][2] = q;
    r.m[2][3] = 1;
    r.m[3][2] = -zn * q;
    r.m[3][3] = 0;
    *out = r;
    return out;
}

Matrix* D3DXMatrixOrthoLH(Matrix* out, float w, float h, float zn, float zf) {
    Matrix r;
    r.m[0][0] = 2.0f / w;
    r.m[1][1] = 2.0f / h;
    r.m[2][2] = 1.0f / (zf - zn);
    r.m[3][2] = zn / (zn - zf);
    *out = r;
    return out;
}

Matrix* D3DXMatrixShadow(Matrix* out, const Vec4* light, const Plane* plane) {
    const float len = std::sqrt(plane->a * plane->a + plane->b * plane->b + plane->c * plane->c);
    Plane p = *plane;
    if (len > 0) p = {plane->a / len, plane->b / len, plane->c / len, plane->d / len};
    const float pv[4] = {p.a, p.b, p.c, p.d};
    const float lv[4] = {light->x, light->y, light->z, light->w};
    const float dot = pv[0] * lv[0] + pv[1] * lv[1] + pv[2] * lv[2] + pv[3] * lv[3];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out->m[i][j] = (i == j ? dot : 0.0f) - pv[i] * lv[j];
    return out;
}

float D3DXVec3Length(const Vec3* v) {
    return std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z);
}

float D3DXVec3Dot(const Vec3* a, const Vec3* b) {
    return a->x * b->x + a->y * b->y + a->z * b->z;
}

Vec3* D3DXVec3Cross(Vec3* out, const Vec3* a, const Vec3* b) {
    const Vec3 r{a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x};
    *out = r;
    return out;
}

Vec3* D3DXVec3Normalize(Vec3* out, const Vec3* v) {
    const float len = D3DXVec3Length(v);
    if (!(len > 0) || !std::isfinite(len)) {
        *out = Vec3{};
        return out;
    }
    *out = Vec3{v->x / len, v->y / len, v->z / len};
    return out;
}

Vec4* D3DXVec3Transform(Vec4* out, const Vec3* v, const Matrix* m) {
    const auto& a = m->m;
    const Vec4 r{v->x * a[0][0] + v->y * a[1][0] + v->z * a[2][0] + a[3][0],
                 v->x * a[0][1] + v->y * a[1][1] + v->z * a[2][1] + a[3][1],
                 v->x * a[0][2] + v->y * a[1][2] + v->z * a[2][2] + a[3][2],
                 v->x * a[0][3] + v->y * a[1][3] + v->z * a[2][3] + a[3][3]};
    *out = r;
    return out;
}

Vec3* D3DXVec3TransformCoord(Vec3* out, const Vec3* v, const Matrix* m) {
    Vec4 r;
    D3DXVec3Transform(&r, v, m);
    if (r.w == 0.0f) {
        *out = Vec3{r.x, r.y, r.z};
        return out;
    }
    *out = Vec3{r.x / r.w, r.y / r.w, r.z / r.w};
    return out;
}

namespace {

// world x view x projection, nulls standing for identity.
Matrix Combined(const Matrix* proj, const Matrix* view, const Matrix* world) {
    Matrix m;
    if (world) m = *world;
    if (view) D3DXMatrixMultiply(&m, &m, view);
    if (proj) D3DXMatrixMultiply(&m, &m, proj);
    return m;
}

}  // namespace

Vec3* D3DXVec3Project(Vec3* out, const Vec3* v, const Viewport* vp, const Matrix* proj, const Matrix* view,
                      const Matrix* world) {
    const Matrix m = Combined(proj, view, world);
    Vec3 r;
    D3DXVec3TransformCoord(&r, v, &m);
    if (vp) {
        r.x = static_cast<float>(vp->x) + (1.0f + r.x) * static_cast<float>(vp->width) * 0.5f;
        r.y = static_cast<float>(vp->y) + (1.0f - r.y) * static_cast<float>(vp->height) * 0.5f;
        r.z = vp->minZ + r.z * (vp->maxZ - vp->minZ);
    }
    *out = r;
    return out;
}

Vec3* D3DXVec3Unproject(Vec3* out, const Vec3* v, const Viewport* vp, const Matrix* proj, const Matrix* view,
                        const Matrix* world) {
    Matrix m = Combined(proj, view, world);
    D3DXMatrixInverse(&m, nullptr, &m);
    Vec3 n = *v;
    if (vp) {
        // An empty viewport axis maps everything to its centre.
        n.x = vp->width ? 2.0f * (v->x - static_cast<float>(vp->x)) / static_cast<float>(vp->width) - 1.0f
                        : 0.0f;
        n.y = vp->height ? 1.0f - 2.0f * (v->y - static_cast<float>(vp->y)) / static_cast<float>(vp->height)
                         : 0.0f;
        const float range = vp->maxZ - vp->minZ;
        n.z = range != 0.0f ? (v->z - vp->minZ) / range : 0.0f;
    }
    return D3DXVec3TransformCoord(out, &n, &m);
}

Quat* D3DXQuaternionRotationAxis(Quat* out, const Vec3* axis, float angle) {
    Vec3 v;
    D3DXVec3Normalize(&v, axis);
    if (v.x == 0 && v.y == 0 && v.z == 0) {
        *out = Quat{};
        return out;
    }
    const float s = std::sin(angle * 0.5f);
    *out = Quat{v.x * s, v.y * s, v.z * s, std::cos(angle * 0.5f)};
    return out;
}

Quat* D3DXQuaternionRotationMatrix(Quat* out, const Matrix* a) {
    // Build from the largest of 4w^2, 4x^2, 4y^2, 4z^2 so the divisor is
    // never small for a rotation matrix.
    const auto& m = a->m;
    const float trace = m[0][0] + m[1][1] + m[2][2];
    float s;
    Quat q;
    if (trace > 0.0f) {
        s = 2.0f * std::sqrt(trace + 1.0f);  // 4w
        q = {(m[1][2] - m[2][1]) / s, (m[2][0] - m[0][2]) / s, (m[0][1] - m[1][0]) / s, 0.25f * s};
    } else if (m[0][0] >= m[1][1] && m[0][0] >= m[2][2]) {
        s = 2.0f * std::sqrt(1.0f + m[0][0] - m[1][1] - m[2][2]);  // 4x
        q = {0.25f * s, (m[0][1] + m[1][0]) / s, (m[2][0] + m[0][2]) / s, (m[1][2] - m[2][1]) / s};
    } else if (m[1][1] >= m[2][2]) {
        s = 2.0f * std::sqrt(1.0f + m[1][1] - m[0][0] - m[2][2]);  // 4y
        q = {(m[0][1] + m[1][0]) / s, 0.25f * s, (m[1][2] + m[2][1]) / s, (m[2][0] - m[0][2]) / s};
    } else {
        s = 2.0f * std::sqrt(1.0f + m[2][2] - m[0][0] - m[1][1]);  // 4z
        q = {(m[2][0] + m[0][2]) / s, (m[1][2] + m[2][1]) / s, 0.25f * s, (m[0][1] - m[1][0]) / s};
    }
    // Not a rotation at all (zero, NaN): no rotation.
    if (!(s > 0.0f) || !std::isfinite(q.x + q.y + q.z + q.w)) q = Quat{};
    *out = q;
    return out;
}

Quat* D3DXQuaternionSlerp(Quat* out, const Quat* a, const Quat* b, float t) {
    float dot = a->x * b->x + a->y * b->y + a->z * b->z + a->w * b->w;
    float sign = 1.0f;
    if (dot < 0.0f) {  // q and -q are the same rotation: take the short way
        dot = -dot;
        sign = -1.0f;
    }
    float wa = 1.0f - t, wb = t;
    if (dot < 0.9999f) {
        const float theta = std::acos(dot);
        const float s = std::sin(theta);
        wa = std::sin(wa * theta) / s;
        wb = std::sin(wb * theta) / s;
    }
    wb *= sign;
    *out = Quat{wa * a->x + wb * b->x, wa * a->y + wb * b->y, wa * a->z + wb * b->z, wa * a->w + wb * b->w};
    return out;
}

bool D3DXComputeBoundingBox(const Vec3* first, size_t count, size_t stride, Vec3* min, Vec3* max) {
    *min = Vec3{};
    *max = Vec3{};
    if (!first || count == 0 || stride < sizeof(Vec3)) return false;
    Vec3 lo = *first, hi = *first;
    for (size_t i = 1; i < count; ++i) {
        const Vec3* p = Position(first, stride, i);
        lo = {std::fmin(lo.x, p->x), std::fmin(lo.y, p->y), std::fmin(lo.z, p->z)};
        hi = {std::fmax(hi.x, p->x), std::fmax(hi.y, p->y), std::fmax(hi.z, p->z)};
    }
    *min = lo;
    *max = hi;
    return true;
}

bool D3DXComputeBoundingSphere(const Vec3* first, size_t count, size_t stride, Vec3* centre, float* radius) {
    *centre = Vec3{};
    *radius = 0;
    if (!first || count == 0 || stride < sizeof(Vec3)) return false;
    Vec3 sum;
    for (size_t i = 0; i < count; ++i) {
        const Vec3* p = Position(first, stride, i);
        sum = {sum.x + p->x, sum.y + p->y, sum.z + p->z};
    }
    const float n = static_cast<float>(count);
    const Vec3 c{sum.x / n, sum.y / n, sum.z / n};
    float r2 = 0;
    for (size_t i = 0; i < count; ++i) {
        const Vec3* p = Position(first, stride, i);
        const Vec3 d{p->x - c.x, p->y - c.y, p->z - c.z};
        r2 = std::fmax(r2, D3DXVec3Dot(&d, &d));
    }
    *centre = c;
    *radius = std::sqrt(r2);
    return true;
}

}  // namespace plat
