#pragma once
// The view of the scene: eye, view direction, field of view, depth range,
// aspect, orthographic switch and viewport, from which the camera builds
// the view and projection matrices it hands to the render device and the
// six frustum planes used for culling.
#include <cstdint>

#include "platform/gpu/d3dx/d3dx_math.h"
#include "script/object_model.h"

// A scene-object class (class word "view"): scene files declare it and
// scripts read and write "ortho", "fov", "znear", "zfar", "aspect", "eye"
// and "lookAt".
class Camera : public EObject {
public:
    class Camera_Initializer : public EObject_Initializer {
    public:
        Camera_Initializer();
        EObject* Create() override;
        void RegisterProperties() override;
    };
    static ClassDescriptor s_descriptor;

    Camera();

    // Orientation identity, aspect 4:3, looking along +z, viewport from the
    // device. Eye, fov and the depth range are left to the creator.
    void SetDefaults() override;

    void SetViewport(uint32_t x, uint32_t y, uint32_t w, uint32_t h);
    void SetEye(float x, float y, float z);
    // orientation = orientation x rotation (radians); the view is rebuilt by
    // the next UpdateView.
    void Rotate(float yaw, float pitch, float roll);
    // Stores eye and the raw direction; forward = the direction normalised,
    // up as given (default +y, not re-orthogonalised), right = up x forward.
    void LookAt(const plat::Vec3& eye, const plat::Vec3& direction, const plat::Vec3* up = nullptr);
    void UpdateView();
    void SetPerspective(float fovDegrees, float aspect, float znear, float zfar);
    // A width or height of 0 stands for the window's.
    void SetOrtho(float w, float h, float znear, float zfar);
    void Apply();
    // Screen position of a world point (truncated); false when it lies beyond
    // the far plane (x and y then untouched).
    bool Project(const plat::Vec3& p, int* x, int* y, const plat::Matrix* world = nullptr) const;
    // The world point at screen (sx, sy) and the depth fraction f.
    plat::Vec3* Unproject(plat::Vec3* out, int sx, int sy, float f,
                          const plat::Matrix* world = nullptr) const;

    plat::Matrix orientation;  // rows: right, up, forward, (0, 0, 0, 1)
    plat::Vec3 eye;
    plat::Vec3 lookAt{0, 0, 1};  // the direction as given, not a target point
    float znear = 0;
    float zfar = 0;
    float fov = 0;  // vertical, degrees
    float aspect = 0;
    bool dirty = false;
    bool ortho = false;
    plat::Viewport viewport;
    plat::Plane frustum[6];  // left, right, top, bottom, near, far
    plat::Matrix view;
    plat::Matrix projection;
};
