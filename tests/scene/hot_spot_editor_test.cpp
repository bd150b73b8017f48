// Hotspot hit tests through children and scaling, and the editor: keys that
// move and select, and the Ctrl drags of the overlay.
#include "app/app_window.h"
#include "scene/hot_spot.h"
#include "scene/hotspot_map.h"
#include "scene/scene_fixture.h"

using namespace scene_test;

namespace {

class HotSpotEditorTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        engine.currentScene = Scene("room");
        engine.currentScene->viewtype = kViewCube;
    }
    void TearDown() override {
        g_keyTable[17] = g_keyTable[160] = 0;
        g_mouseButtons = 0;
        GetHotspotBrush() = HotspotBrush();
        engine.currentScene = nullptr;
        SceneTest::TearDown();
    }
    HotSpot* Make(const char* name, int x, int y, int w, int h) {
        HotSpot* hs = Add(engine.currentScene->hotspots, name);
        hs->SetDefaults();
        hs->owner = &engine.currentScene->hotspots;
        hs->rect[0] = x, hs->rect[1] = y, hs->rect[2] = w, hs->rect[3] = h;
        return hs;
    }
    // One overlay frame with the pointer at (x, y) and these buttons.
    void Overlay(HotSpot* h, float x, float y, uint32_t buttons) {
        g_mouseX = x, g_mouseY = y;
        g_mouseButtons = buttons;
        h->DrawEditorOverlay();
    }
    static std::vector<int32_t> RectOf(const HotSpot* h) { return {h->rect[0], h->rect[1], h->rect[2], h->rect[3]}; }
};

TEST_F(HotSpotEditorTest, HitTestFindsChildrenInTheParentsSpace) {
    HotSpot* panel = Make("panel", 100, 100, 200, 200);
    HotSpot* button = Make("button", 10, 10, 20, 20);
    button->parent = panel;
    button->RelinkToParent();
    EXPECT_EQ(panel->HitTest(115, 115), button);
    EXPECT_EQ(panel->HitTest(150, 150), panel);
    EXPECT_EQ(panel->HitTest(300, 150), nullptr);  // the right edge is outside
    // Only the child's own flags count, and a hidden parent hides all.
    button->enabled = false;
    EXPECT_EQ(panel->HitTest(115, 115), panel);
    button->enabled = true;
    panel->visible = false;
    EXPECT_EQ(panel->HitTest(115, 115), nullptr);
    panel->visible = true;
    panel->hs_type = kHotspotMap;
    EXPECT_EQ(panel->HitTest(150, 150), nullptr);
    panel->hs_type = kHotspotRect;
    // Scalable: the screen point is brought to the virtual screen first.
    engine.screenRect.Set(0, 0, 2048, 1536);
    panel->scalable = true;
    EXPECT_EQ(panel->HitTest(230, 230), button);
    EXPECT_EQ(panel->HitTest(115, 115), nullptr);
    // A screen of size 0 (no display yet) never divides.
    engine.screenRect.Set(0, 0, 0, 0);
    EXPECT_EQ(panel->HitTest(115, 115), button);
}

TEST_F(HotSpotEditorTest, KeysMoveAndPageKeysSelectAround) {
    HotSpot* a = Make("a", 10, 10, 5, 5);
    HotSpot* b = Make("b", 0, 0, 5, 5);
    HotSpot* c = Make("c", 0, 0, 5, 5);
    a->EditorInput(39, 0);
    a->EditorInput(40, 0);
    g_keyTable[160] = 1;  // left Shift: steps of 16
    a->EditorInput(37, 0);
    EXPECT_EQ(RectOf(a), (std::vector<int32_t>{-5, 11, 5, 5}));
    EXPECT_TRUE(engine.sceneModified);
    c->EditorInput(33, 0);  // Page Up on the last: the first
    EXPECT_EQ(engine.selectedObject, a);
    a->EditorInput(34, 0);  // Page Down on the first: the last
    EXPECT_EQ(engine.selectedObject, c);
    b->EditorInput(33, 0);
    EXPECT_EQ(engine.selectedObject, c);
    // Not in its owner list: nothing.
    HotSpot stray;
    stray.SetDefaults();
    stray.EditorInput(33, 0);
    EXPECT_EQ(engine.selectedObject, c);
}

TEST_F(HotSpotEditorTest, CtrlDragsDrawTheRectangleAndRightButtonMoves) {
    HotSpot* h = Make("h", 0, 0, 8, 8);
    h->hs_type = kHotspotMap;
    engine.selectedObject = h;
    // Without Ctrl nothing changes.
    Overlay(h, 300, 200, 1);
    EXPECT_EQ(RectOf(h), (std::vector<int32_t>{0, 0, 8, 8}));
    h->hs_type = kHotspotRect;
    g_keyTable[17] = 1;
    Overlay(h, 300, 200, 1);  // drag from right to left and bottom to top
    Overlay(h, 250, 120, 1);
    Overlay(h, 100, 40, 1);
    EXPECT_EQ(RectOf(h), (std::vector<int32_t>{0, 0, 8, 8}));
    Overlay(h, 100, 40, 0);
    EXPECT_EQ(RectOf(h), (std::vector<int32_t>{100, 40, 200, 160}));
    EXPECT_EQ(h->hs_type, kHotspotRect);
    EXPECT_TRUE(engine.sceneModified);
    // Ctrl and the right button: the rectangle moves by the drag, its
    // corner does not jump to the pointer.
    engine.sceneModified = false;
    Overlay(h, 150, 100, 2);
    EXPECT_EQ(RectOf(h), (std::vector<int32_t>{100, 40, 200, 160}));
    EXPECT_FALSE(engine.sceneModified);
    Overlay(h, 157, 109, 2);
    EXPECT_EQ(RectOf(h), (std::vector<int32_t>{107, 49, 200, 160}));
    Overlay(h, 140, 90, 2);
    EXPECT_EQ(RectOf(h), (std::vector<int32_t>{90, 30, 200, 160}));
    EXPECT_TRUE(engine.sceneModified);
    // Let go, a new drag starts from where the rectangle is now; a child
    // moves within its parent by the same way.
    Overlay(h, 140, 90, 0);
    HotSpot* parent = Make("p", 5, 5, 100, 100);
    h->parent = parent;
    Overlay(h, 50, 60, 2);
    Overlay(h, 45, 70, 2);
    EXPECT_EQ(RectOf(h), (std::vector<int32_t>{85, 40, 200, 160}));
}

}  // namespace
