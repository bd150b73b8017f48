#include "render/camera.h"

#include <new>

#include "base/text.h"
#include "render/display_mode.h"
#include "render/geometry.h"
#include "render/render_device.h"
#include "render/vector_math.h"

namespace {

// The render device's side of the camera: transforms 1 (view) and 2
// (projection) and the viewport. Without a device (before the display
// exists) the viewport is the requested display mode's.
void DeviceSetTransform(int which, const plat::Matrix& m) {
    if (g_renderDevice) g_renderDevice->SetTransform(which, m);
}

void DeviceSetViewport(const plat::Viewport& vp) {
    if (g_renderDevice) g_renderDevice->SetViewport(vp);
}

plat::Viewport DeviceViewport() {
    plat::Viewport vp;
    if (g_renderDevice) {
        g_renderDevice->GetViewport(&vp);
        return vp;
    }
    vp.width = static_cast<uint32_t>(g_requestedDisplayMode.width > 0 ? g_requestedDisplayMode.width : 0);
    vp.height = static_cast<uint32_t>(g_requestedDisplayMode.height > 0 ? g_requestedDisplayMode.height : 0);
    return vp;
}

}  // namespace

ClassDescriptor Camera::s_descriptor;

namespace {
// Built before every other class initializer (the camera is the first
// global of the program).
Camera::Camera_Initializer g_camera_initializer;
}  // namespace

Camera::Camera_Initializer::Camera_Initializer() : EObject_Initializer(&Camera::s_descriptor) {}

EObject* Camera::Camera_Initializer::Create() {
    void* block = Camera::operator new(sizeof(Camera));
    return block ? ::new (block) Camera() : nullptr;
}

void Camera::Camera_Initializer::RegisterProperties() {
    ClassDescriptor& d = Camera::s_descriptor;
    d.AddProperty("ortho", kPropertyBool, ObjectFieldOffset(&Camera::ortho));
    d.AddProperty("fov", kPropertyFloat, ObjectFieldOffset(&Camera::fov));
    d.AddProperty("znear", kPropertyFloat, ObjectFieldOffset(&Camera::znear));
    d.AddProperty("zfar", kPropertyFloat, ObjectFieldOffset(&Camera::zfar));
    d.AddProperty("aspect", kPropertyFloat, ObjectFieldOffset(&Camera::aspect));
    d.AddProperty("eye", kPropertyVector, ObjectFieldOffset(&Camera::eye));
    d.AddProperty("lookAt", kPropertyVector, ObjectFieldOffset(&Camera::lookAt));
    d.AddConstant("class", "view");
    d.AddConstant("name", "Camera");
}

Camera::Camera() : EObject(&s_descriptor) {
    SetDefaults();
}

void Camera::SetDefaults() {
    MatrixIdentity(orientation);
    aspect = 1.33333f;
    lookAt = {0, 0, 1};
    viewport = DeviceViewport();
}

void Camera::SetViewport(uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    viewport.x = x;
    viewport.y = y;
    viewport.width = w;
    viewport.height = h;
}

void Camera::SetEye(float x, float y, float z) {
    eye = {x, y, z};
    dirty = true;
}

void Camera::Rotate(float yaw, float pitch, float roll) {
    MatrixRotateYawPitchRoll(orientation, yaw, pitch, roll);
    dirty = true;
}

void Camera::LookAt(const plat::Vec3& newEye, const plat::Vec3& direction, const plat::Vec3* up) {
    const plat::Vec3 upVec = up ? *up : plat::Vec3{0, 1, 0};
    eye = newEye;
    lookAt = direction;
    plat::Vec3 forward;
    plat::D3DXVec3Normalize(&forward, &direction);
    plat::Vec3 right;
    plat::D3DXVec3Cross(&right, &upVec, &forward);
    MatrixIdentity(orientation);
    orientation.m[0][0] = right.x, orientation.m[0][1] = right.y, orientation.m[0][2] = right.z;
    orientation.m[1][0] = upVec.x, orientation.m[1][1] = upVec.y, orientation.m[1][2] = upVec.z;
    orientation.m[2][0] = forward.x, orientation.m[2][1] = forward.y, orientation.m[2][2] = forward.z;
    dirty = true;
    UpdateView();
}

void Camera::UpdateView() {
    if (!dirty) return;
    const auto& o = orientation.m;
    const plat::Vec3 at{eye.x + o[2][0], eye.y + o[2][1], eye.z + o[2][2]};
    const plat::Vec3 up{o[1][0], o[1][1], o[1][2]};
    plat::D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    DeviceSetTransform(1, view);
    BuildFrustumPlanes(frustum, *this);
    dirty = false;
}

void Camera::SetPerspective(float fovDegrees, float newAspect, float newZnear, float newZfar) {
    znear = newZnear;
    zfar = newZfar;
    aspect = newAspect;
    fov = fovDegrees;  // so a later Apply rebuilds this projection
    LookAt(eye, lookAt);
    plat::D3DXMatrixPerspectiveFovLH(&projection, DegToRad(fovDegrees), newAspect, newZnear, newZfar);
    DeviceSetTransform(2, projection);
    BuildFrustumPlanes(frustum, *this);  // cull with the projection just set
    DeviceSetViewport(viewport);
}

void Camera::SetOrtho(float w, float h, float newZnear, float newZfar) {
    znear = newZnear;
    zfar = newZfar;
    aspect = w / h;
    LookAt(eye, lookAt);
    if (w == 0) w = static_cast<float>(g_requestedDisplayMode.width);
    if (h == 0) h = static_cast<float>(g_requestedDisplayMode.height);
    plat::D3DXMatrixOrthoLH(&projection, w, h, newZnear, newZfar);
    DeviceSetTransform(2, projection);
    BuildFrustumPlanes(frustum, *this);
    DeviceSetViewport(viewport);
}

void Camera::Apply() {
    if (ortho)
        SetOrtho(static_cast<float>(viewport.width), static_cast<float>(viewport.height), znear, zfar);
    else
        SetPerspective(fov, aspect, znear, zfar);
    DeviceSetViewport(viewport);
}

bool Camera::Project(const plat::Vec3& p, int* x, int* y, const plat::Matrix* world) const {
    plat::Vec3 out;
    plat::D3DXVec3Project(&out, &p, &viewport, &projection, &view, world);
    if (!(out.z <= 1.0f)) return false;  // beyond the far plane, or no position at all
    *x = SaturateToInt(out.x);
    *y = SaturateToInt(out.y);
    return true;
}

plat::Vec3* Camera::Unproject(plat::Vec3* out, int sx, int sy, float f, const plat::Matrix* world) const {
    const plat::Vec3 screen{static_cast<float>(sx), static_cast<float>(sy), f * viewport.maxZ};
    return plat::D3DXVec3Unproject(out, &screen, &viewport, &projection, &view, world);
}
