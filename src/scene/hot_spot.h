#pragma once
// A place the player points at and clicks (class word "hotspot"): a
// rectangle on the 1024 x 768 virtual screen (hs_type 0) or a region of
// view directions in the hotspot map (hs_type 1). It carries what scripts
// react to (destination, look, transition, cursor, sounds) and nests: a
// child's rectangle is relative to its parent's.
#include <cstdint>

#include "base/object_list.h"
#include "script/object_model.h"

class GameFont;
class GameScene;
class GameText;
class Stream;
struct ResourceRecord;

// hs_type values.
enum HotspotType : int32_t {
    kHotspotRect = 0,
    kHotspotMap = 1,
};

// Change-mask bits, in registration order.
enum HotSpotBits : uint32_t {
    kHotspotBitName = 0x1,
    kHotspotBitDestScene = 0x2,
    kHotspotBitDestLook = 0x4,
    kHotspotBitTransition = 0x8,
    kHotspotBitSndStep = 0x10,
    kHotspotBitRect = 0x20,
    kHotspotBitItemUsable = 0x40,
    kHotspotBitEnabled = 0x80,
    kHotspotBitVisible = 0x100,
    kHotspotBitGoBack = 0x200,
    kHotspotBitCursor = 0x400,
    kHotspotBitColor = 0x800,
    kHotspotBitBgImage = 0x1000,
    kHotspotBitMouseOver = 0x2000,
    kHotspotBitMouseDown = 0x4000,
    kHotspotBitSndEnter = 0x8000,
    kHotspotBitSndClick = 0x10000,
    kHotspotBitPage = 0x20000,
    kHotspotBitParent = 0x40000,
    kHotspotBitObject = 0x80000,
    kHotspotBitType = 0x100000,
    kHotspotBitFont = 0x200000,
    kHotspotBitText = 0x400000,
    kHotspotBitAnchor = 0x800000,
    kHotspotBitScalable = 0x1000000,
    kHotspotBitOrder = 0x2000000,
};

// The events whose handlers are named "<hotspot>_<event>", in the order
// ClearEventHandlers walks them.
extern const char* const kHotspotEventNames[7];

class HotSpot : public EObject {
public:
    class HotSpot_Initializer : public EObject_Initializer {
    public:
        HotSpot_Initializer();
        EObject* Create() override;
        void RegisterProperties() override;
    };
    static ClassDescriptor s_descriptor;

    HotSpot();
    // Lets go of the hotspot tree: its children hang from nothing, and no
    // hotspot the engine holds keeps it as parent, child or sibling.
    ~HotSpot() override;

    // visible and enabled on, itemusable off.
    void SetDefaults() override;
    // bgimage (or mouse_over while there is no bgimage) sizes the rectangle
    // to its image; parent re-links the hotspot into its parent's chain.
    void OnChanged(uint32_t mask) override;
    // One line: "hotspot { name=..., ... }".
    void Save(Stream* stream) override;
    // Draw with the ambient colour.
    void Render() override;
    // Editor modes: outlines and names of rectangle hotspots while Ctrl is
    // held, dragging and moving the selected one, map painting for the
    // selected map hotspot.
    void DrawEditorOverlay() override;
    // Arrow keys move a rectangle hotspot (16 with left Shift), Page Up and
    // Page Down select the next or previous hotspot; map hotspots take the
    // brush keys.
    void EditorInput(int key, int wheel) override;

    // A visible hotspot's image (pressed, hovered or normal) stretched over
    // its absolute rectangle and its text, tinted.
    void Draw(uint32_t tint);
    // The hotspot or child under a screen point; null unless this hotspot
    // itself is visible, enabled and a rectangle.
    HotSpot* HitTest(int32_t x, int32_t y);

    // Screen rectangle after the parent chain and scaling.
    float* GetAbsoluteRect(float out[4]) const;
    // Stores a screen rectangle relative to the ancestors.
    void SetAbsoluteRect(int32_t x, int32_t y, int32_t w, int32_t h);
    // True when the hotspot (a null one counts) and every ancestor has the flag.
    static bool IsVisible(const HotSpot* hotspot);
    static bool IsEnabled(const HotSpot* hotspot);

    // Appends the child at the end of this hotspot's children, clearing the
    // child's sibling link; a child already there is not added twice.
    void AddChild(HotSpot* child);
    // Unlinks the child from this hotspot's children and clears its sibling
    // link; nothing when absent or null.
    void RemoveChild(HotSpot* child);
    // Takes the hotspot out of the children of every hotspot the engine
    // holds (global hotspots, global objects, every scene's hotspots), then
    // into its parent's children.
    void RelinkToParent();
    // Sets every "<name>_<event>" global to nil; clears the low 10 event bits.
    void ClearEventHandlers();
    // For the hotspot and each one after it (`next` walks the list): the
    // handlers cleared, or the handler bits looked up again. Setting or
    // reading a global may run a metamethod or a finalizer that frees
    // hotspots, so the hotspots are taken first and each is found again
    // (live, still a hotspot of that name) before it is touched.
    static void ClearEventHandlersOfList(HotSpot* first, HotSpot* (*next)(HotSpot*));
    static void RebuildHandlerBitsOfList(HotSpot* first, HotSpot* (*next)(HotSpot*));
    // The text the hotspot shows: the one it holds while that is a live
    // text, else the engine's text of the name it held (a game that frees
    // its texts and loads another language shows the new one); null when
    // there is none.
    GameText* ShownText();

    int32_t rect[4] = {};  // x, y, w, h; relative to the parent's x, y
    ResourceRecord* cursor = nullptr;
    uint32_t color = 0;
    uint32_t event_flags = 0;
    bool itemusable = false;
    bool enabled = false;
    bool visible = false;
    bool goback = false;
    bool scalable = false;
    int32_t page = 0;
    int32_t hs_type = kHotspotRect;
    ResourceRecord* bgimage = nullptr;
    ResourceRecord* mouse_over = nullptr;
    ResourceRecord* mouse_down = nullptr;
    ResourceRecord* snd_enter = nullptr;
    ResourceRecord* snd_click = nullptr;
    GameScene* dest_scene = nullptr;
    ResourceRecord* snd_step = nullptr;
    HotSpot* parent = nullptr;
    ObjectList<HotSpot>* owner = nullptr;  // the scene's or the engine's global hotspot list
    // Children: first_child, then each child's next_sibling. Two links, so
    // a hotspot can both have children and be a child.
    HotSpot* first_child = nullptr;
    HotSpot* next_sibling = nullptr;
    const char* transition = nullptr;      // interned; saved as "action"
    const char* dest_look = nullptr;       // interned
    const char* object = nullptr;          // interned: a scene mesh standing for its direction
    GameFont* font = nullptr;
    GameText* text = nullptr;
    int32_t anchor = 0;
    const char* text_name = nullptr;  // interned: the name of the text last set
};

// Lets go of the texts freed since: every hotspot the engine holds whose text
// is no longer live holds none (it finds its text again by name).
void ForgetFreedHotspotTexts();
// The text was renamed (or given another's contents): every hotspot the
// engine holds that shows it remembers its present name.
void RememberHotspotTextName(const GameText* text);

// Clears every pointer of the hotspot lists into the hotspot (parent links
// and child chains) before it is freed.
void ForgetHotspotLinks(ObjectList<HotSpot>& list, const HotSpot* hotspot);
