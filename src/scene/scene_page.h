#pragma once
// One full-screen 2-D picture of a page node (class word "page"), placed at
// an offset, or a plain colour when it has no image. The scene shows its
// current page; during a page turn the page being turned to fades in over it.
#include <cstdint>

#include "script/object_model.h"

struct ResourceRecord;

enum ScenePageBits : uint32_t {
    kPageBitName = 0x1,
    kPageBitImage = 0x2,
    kPageBitX = 0x4,
    kPageBitY = 0x8,
    kPageBitClass = 0x10,
    kPageBitBgcolor = 0x20,
    kPageBitOrder = 0x40,
};

class ScenePage : public EObject {
public:
    class ScenePage_Initializer : public EObject_Initializer {
    public:
        ScenePage_Initializer();
        EObject* Create() override;
        void RegisterProperties() override;
    };
    static ClassDescriptor s_descriptor;

    ScenePage();

    // Draws the page when it is the current page of the current scene, and
    // the fading page being turned to over it.
    void Render() override;
    // Arrow keys move the page (16 with left Shift held).
    void EditorInput(int key, int wheel) override;

    ResourceRecord* image = nullptr;
    uint32_t bgcolor = 0;
    int32_t x = 0;
    int32_t y = 0;
};

// The page turn's fade alpha: elapsed * 255 / trunc(fade_ms), kept within
// 0..255; a fade of 0 ms or less is already complete (255).
uint32_t PageTurnAlpha(int32_t elapsed_ms, float fade_ms);
