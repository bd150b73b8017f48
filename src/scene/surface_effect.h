#pragma once
// A textured rectangle standing parallel to one cube face (class word
// "surface"): water, glass, a screen, a moving sky. Its texture scrolls in
// any direction, a numbered frame sequence ("<anim_seq>/<n>") can run over
// it on the second stage, and with shaders on it is drawn through a named
// program that gets the light and view directions in the face's own axes.
#include <cstdint>

#include "platform/gpu/d3dx/math_types.h"
#include "script/object_model.h"

class CubeFaces;
struct ResourceRecord;

class SurfaceEffect : public EObject {
public:
    class SurfaceEffect_Initializer : public EObject_Initializer {
    public:
        SurfaceEffect_Initializer();
        EObject* Create() override;
        void RegisterProperties() override;
    };
    static ClassDescriptor s_descriptor;

    SurfaceEffect();

    void SetDefaults() override;
    // Scrolls, animates and draws (through the shader when one is named).
    void Render() override;
    // Name at the projected centre; picking with left Shift.
    void DrawEditorOverlay() override;
    // Home, A/D/W/S, arrows, F/V: position, rotation and distance.
    void EditorInput(int key, int wheel) override;

    // The four corners (positions and texture coordinates, x y z u v) for
    // the current scroll offset; false for a face outside 0..5.
    bool BuildCorners(float out[4][5]) const;
    // Advances the scroll offset by one rendered frame (refresh rate in Hz).
    void AdvanceScroll(int32_t refresh_rate);
    // The animation frame of the counter; -1 when anim_freq or anim_count is
    // not positive.
    int32_t AnimationFrame() const;

    plat::Vec3 position;
    plat::Vec3 rotation;  // yaw, pitch, roll in degrees
    plat::Vec3 ambient;
    plat::Vec3 specular;
    plat::Vec3 diffuse;
    float width = 0;
    float height = 0;
    float distance = 0;
    float tiling1 = 0;
    float tiling2 = 0;
    float specular_power = 0;
    float scroll_speed = 0;
    float scrollOffset = 0;  // not a property
    int32_t face = 0;
    int32_t anim_freq = 0;
    int32_t anim_count = 0;
    int32_t frameCounter = 0;  // not a property
    int32_t scroll_direction = 0;
    int32_t alpha = 0;
    bool visible = false;
    const char* shader = nullptr;
    const char* anim_seq = nullptr;  // interned
    ResourceRecord* htexture = nullptr;
    // The scene's face set named by the scene file's mask key (not a
    // property); kept, never read through.
    const CubeFaces* mask = nullptr;
};
