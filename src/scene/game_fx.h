#pragma once
// A light effect anchored to a point of the scene (class word "fx"): a glow
// sprite that fades in while its point is on screen and out when it leaves,
// or a lens flare whose elements ("<format>/<n>") are strung along the line
// from the screen centre through the light.
#include <cstddef>
#include <cstdint>

#include "script/object_model.h"

struct ResourceRecord;

// Change-mask bits of the flare's properties, in registration order.
enum GameFxBits : uint32_t {
    kFxBitName = 0x1,
    kFxBitBaseOpacity = 0x2,
    kFxBitOpacity = 0x4,
    kFxBitFormat = 0x100,
    kFxBitLensFormat = 0x200,
};

// The lens table shared by every flare: triples (image number, position
// along the line, size), ended by an image number below 0. Its capacity
// always leaves room for the three closing -1 values.
constexpr size_t kLensTableCapacity = 3 * 64 + 3;
extern float g_lensTable[kLensTableCapacity];
// Fills the table from a "," separated number list (atof per token) and
// closes it; the number of values taken (at most kLensTableCapacity - 3).
size_t ParseLensTable(const char* list);

class GameFx : public EObject {
public:
    class GameFx_Initializer : public EObject_Initializer {
    public:
        GameFx_Initializer();
        EObject* Create() override;
        void RegisterProperties() override;
    };
    static ClassDescriptor s_descriptor;

    GameFx();

    void SetDefaults() override;
    // A notified format parses lens_format into the shared lens table.
    void OnChanged(uint32_t mask) override;
    // Eases the opacity and draws the lens elements or the glow sprite.
    void Render() override;
    // Label, picking and dragging.
    void DrawEditorOverlay() override;

    // One rendered frame of the opacity easing: a quarter of the gap toward
    // opacity inside the screen, 90 % of the value outside. Returns the new
    // value (kept, except in a warm-up draw).
    float EaseOpacity(bool in_view);

    const char* lens_format = nullptr;
    const char* format = nullptr;  // interned
    int32_t lens_count = 0;
    int32_t fx_blendmode = 0;
    int32_t passes = 0;
    int32_t projection = 0;
    float baseopacity = 0;
    float opacity = 0;
    float currentOpacity = 0;  // not a property
    ResourceRecord* himage = nullptr;
    float x = 0;
    float y = 0;
    float scale = 0;
    float power = 0;
    bool visible = false;
};

// An opacity or colour value as a byte: truncated and held to 0..255.
uint32_t ClampByte(double value);
