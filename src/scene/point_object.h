#pragma once
// A position in a scene given as a view direction (or a screen point) and a
// distance (class word "point"): the scene's light when named "Light", and
// the place of a positioned 3-D sound, which it starts and stops through
// snd_action. Particle sources derive from it and share the scene's point
// list.
#include <cstdint>

#include "platform/gpu/d3dx/math_types.h"
#include "script/object_model.h"

struct ResourceRecord;

// Change-mask bits of the point's properties, in registration order.
enum PointObjectBits : uint32_t {
    kPointBitName = 0x1,
    kPointBitX = 0x2,
    kPointBitY = 0x4,
    kPointBitDistance = 0x8,
    kPointBitIcon = 0x10,
    kPointBitColor = 0x20,
    kPointBitSndAction = 0x40,
    kPointBitSound = 0x80,
    kPointBitChannel = 0x100,
    kPointBitOrder = 0x200,
    // The bits that place the sound again.
    kPointBitsSoundPlacement = 0x18E,
};

// snd_action.
enum PointSoundAction : int32_t {
    kPointSoundStop = 0,
    kPointSoundLoop = 1,
};

class PointSceneObject : public EObject {
public:
    class PointSceneObject_Initializer : public EObject_Initializer {
    public:
        PointSceneObject_Initializer();
        EObject* Create() override;
        void RegisterProperties() override;
    };
    static ClassDescriptor s_descriptor;

    PointSceneObject();

    // Places the sound (declared again as a 3-D sound on its channel) when
    // the position, sound or channel changed, then starts or stops it when
    // snd_action changed.
    void OnChanged(uint32_t mask) override;
    // Icon and label; picking and dragging.
    void DrawEditorOverlay() override;
    // Wheel: 100 units nearer or farther.
    void EditorInput(int key, int wheel) override;

    // Stores the position without a notification.
    void SetPosition(float nx, float ny, float ndistance);
    // Whether x, y are a screen point rather than view angles for the
    // editor: only a particle source projected onto the screen is.
    virtual bool OnScreen() const { return false; }

    float x = 0;
    float y = 0;
    float distance = 0;
    int32_t snd_action = 0;  // particle sources: flags
    uint32_t color = 0;
    ResourceRecord* icon = nullptr;
    ResourceRecord* sound = nullptr;
    int32_t channel = 0;

protected:
    // For derived classes with their own descriptor.
    explicit PointSceneObject(ClassDescriptor* descriptor);
};

// A point's 3-D sound position: direction(x, y) x distance / 1000.
plat::Vec3 PointSoundPosition(float x, float y, float distance);

// The stream channel as the engine takes it: 0 (none) or 1..8; anything
// else is 0.
int32_t BoundedSoundChannel(int32_t channel);

// Editor-input family: a point's wheel step (100 units) through SetPosition
// and its own notification of bit 0x8; true when it changed something.
bool PointWheelStep(PointSceneObject* point, int wheel);
