#pragma once
// A small image laid over a scene (class word "patch"): a still picture or a
// numbered frame sequence ("<format>/<n>") that plays forwards or
// backwards, optionally looping, with a sound for each direction. It sits on
// a pixel rectangle of a cube face, as a camera-facing billboard in a view
// direction, or on the virtual screen. Actions 3 and 4 let a waiting
// statement of the queue go on when their run ends.
#include <cstdint>
#include <string>

#include "platform/gpu/d3dx/math_types.h"
#include "script/object_model.h"

struct ResourceRecord;

// Change-mask bits of the patch's properties, in registration order.
enum PatchBits : uint32_t {
    kPatchBitName = 0x1,
    kPatchBitType = 0x2,
    kPatchBitX = 0x4,
    kPatchBitY = 0x8,
    kPatchBitFace = 0x10,
    kPatchBitAction = 0x20,
    kPatchBitSize = 0x40,
    kPatchBitRotation = 0x80,
    kPatchBitColor = 0x100,
    kPatchBitDistance = 0x200,
    kPatchBitImage = 0x400,
    kPatchBitFormat = 0x800,
    kPatchBitFrames = 0x1000,
    kPatchBitInterval = 0x2000,
};

// ptc_action.
enum PatchAction : int32_t {
    kPatchStopped = 0,
    kPatchForwards = 1,
    kPatchBackwards = 2,
    kPatchForwardsSignal = 3,
    kPatchBackwardsSignal = 4,
};

// ptc_type.
enum PatchType : int32_t {
    kPatchOnFace = 0,
    kPatchOnScreen = 1,
    kPatchBillboard = 2,
};

// Placement of a pixel of one cube face in the cube's space, and the axes a
// flat object on that face moves along: normal axis n with its rotation
// sign rs, the axis a of the pixel column (S sign sa, pixel direction da)
// and the axis b of the pixel row (sb, db). Axes 0 x, 1 y, 2 z.
struct FaceLayout {
    int n, rs, a, b, sa, sb, da, db;
};
extern const FaceLayout kFaceLayouts[6];
// The layout of a face; null outside 0..5.
const FaceLayout* FaceLayoutOf(int32_t face);
// The cube's half edge S of the current cube vertex table (511 for faces of
// 1024 pixels when no table is built yet).
float CubeHalfEdge();
// Pixel (px, py) of a face in the cube's space; false outside 0..5.
bool FacePixelToCube(int32_t face, float px, float py, float s, plat::Vec3* out);

// How many frames of a "<prefix>/<n>" sequence are declared ahead: the
// count, held to 0..4096, so that a count from a scene file cannot make a
// loop of billions of file look-ups.
constexpr int32_t kMaxSequenceFrames = 4096;
inline int32_t FramesToDeclare(int32_t count) {
    return count < 0 ? 0 : (count > kMaxSequenceFrames ? kMaxSequenceFrames : count);
}
// The resource name of frame n of a sequence: "<prefix>/<n>".
std::string SequenceFrameName(const char* prefix, int32_t n);

class Patch : public EObject {
public:
    class Patch_Initializer : public EObject_Initializer {
    public:
        Patch_Initializer();
        EObject* Create() override;
        void RegisterProperties() override;
    };
    static ClassDescriptor s_descriptor;

    Patch();

    void SetDefaults() override;
    // First matching rule only: an action starts its sound; a type change
    // places the patch at the look direction; a format change lets the
    // frame record go.
    void OnChanged(uint32_t mask) override;
    // Shows the frame of the play position, advances the position and draws.
    void Render() override;
    // Label, picking and dragging.
    void DrawEditorOverlay() override;
    // Arrows: x / y by one; wheel: distance by 100 (10 with left Shift).
    void EditorInput(int key, int wheel) override;

    // Moves the play position by dt milliseconds and handles both ends.
    void AdvanceTime(float dt);
    // Makes the frame record show the frame of the play position.
    void UpdateFrameImage();
    // The texture record shown: the frame record with a format, else image.
    ResourceRecord* ShownImage() const;

    float x = 0;
    float y = 0;
    int32_t face = 0;
    int32_t rotation = 0;
    float distance = 0;
    ResourceRecord* image = nullptr;
    const char* format = nullptr;  // interned
    ResourceRecord* frame = nullptr;  // not a property
    int32_t ptc_action = 0;
    uint32_t color = 0;
    int32_t lastFrame = 0;  // not a property
    int32_t numOfFrames = 0;
    float size = 0;
    float interval = 0;
    float currentTime = 0;
    float power = 0;
    int32_t ptc_type = 0;
    int32_t blendmode = 0;
    bool looping = false;
    bool buffered = false;
    bool visible = false;
    ResourceRecord* snd_forwards = nullptr;
    ResourceRecord* snd_backwards = nullptr;
    // The frame whose image could not be declared (-1: none), so that a
    // missing file is looked for once rather than every frame.
    int32_t missingFrame = -1;
};

// The play position's frame: currentTime / interval truncated; -1 when the
// interval is 0 or the quotient is not a number.
int32_t PatchFrameAt(float currentTime, float interval);
