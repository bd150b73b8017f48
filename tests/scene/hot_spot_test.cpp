// Hotspots: creation and defaults, the saved entry, the tree of parents and
// children, rectangles through the ancestors, and clearing handlers.
#include <string>

extern "C" {
#include <lua.h>
}

#include "media/text/game_font.h"
#include "media/text/game_text.h"
#include "scene/hot_spot.h"
#include "scene/scene_fixture.h"

using namespace scene_test;

namespace {

class HotSpotTest : public SceneTest {
protected:
    HotSpot* Make(const char* name) {
        HotSpot* h = Add(scene()->hotspots, name);
        h->color = 0xFFFFFFFFu;
        h->owner = &scene()->hotspots;
        return h;
    }
    GameScene* scene() {
        if (!engine.currentScene) engine.currentScene = Scene("room");
        return engine.currentScene;
    }
};

TEST_F(HotSpotTest, SavedEntryWritesEachKeyOnlyWhenItCounts) {
    HotSpot* h = Make("door");
    EXPECT_EQ(SavedText(h), "hotspot { name=\"door\", rect=\"0,0,0,0\", page=0,}\r\n");

    // A map hotspot writes no rectangle, images or page.
    h->hs_type = kHotspotMap;
    h->transition = Intern("");
    EXPECT_EQ(SavedText(h), "hotspot { name=\"door\", }\r\n");

    HotSpot* parent = Make("frame");
    GameFont* font = new GameFont();
    font->name = Intern("big");
    GameText* text = new GameText();
    text->name = Intern("hello");
    h->hs_type = kHotspotRect;
    h->rect[0] = -5, h->rect[1] = 6, h->rect[2] = 70, h->rect[3] = 80;
    h->transition = Intern("fade");
    h->dest_scene = Scene("cellar/door");
    h->dest_look = Intern("0,10");
    h->page = 2;
    h->visible = false;
    h->parent = parent;
    h->object = Intern("statue");
    h->itemusable = h->goback = h->scalable = true;
    h->order = -3;
    h->color = 0x80FF0000u;
    h->font = font;
    h->text = text;
    h->anchor = 5;
    EXPECT_EQ(SavedText(h),
              "hotspot { name=\"door\", action=\"fade\", dest_scene=\"cellar/door\", dest_look=\"0,10\", "
              "rect=\"-5,6,70,80\", page=2,visible=false,parent=\"frame\",object=\"statue\",itemusable=true,"
              "goback=true,order=-3,color=\"80ff0000\",font=\"big\",text=\"hello\",anchor=5,scalable=true,}\r\n");
    delete font;
    delete text;
}

TEST_F(HotSpotTest, ChildrenAndSiblingsUseSeparateLinks) {
    HotSpot* root = Make("root");
    HotSpot* a = Make("a");
    HotSpot* b = Make("b");
    HotSpot* c = Make("c");
    root->AddChild(a);
    root->AddChild(b);
    a->AddChild(c);  // a is both a child and a parent
    root->AddChild(a);  // not twice
    root->AddChild(root);  // never itself
    EXPECT_EQ(root->first_child, a);
    EXPECT_EQ(a->next_sibling, b);
    EXPECT_EQ(b->next_sibling, nullptr);
    EXPECT_EQ(a->first_child, c);

    root->RemoveChild(a);
    EXPECT_EQ(root->first_child, b);
    EXPECT_EQ(a->next_sibling, nullptr);
    EXPECT_EQ(a->first_child, c);  // its own children stay
    root->RemoveChild(a);
    root->RemoveChild(nullptr);
    EXPECT_EQ(root->first_child, b);
}

TEST_F(HotSpotTest, ChangingTheParentMovesTheHotspotAndRefusesLoops) {
    HotSpot* p1 = Make("p1");
    HotSpot* p2 = Make("p2");
    HotSpot* h = Make("h");
    HotSpot* global = Add(engine.globalHotspots, "global");
    global->AddChild(h);  // a stale link elsewhere is cleared too
    h->parent = p1;
    h->OnChanged(kHotspotBitParent);
    EXPECT_EQ(p1->first_child, h);
    EXPECT_EQ(global->first_child, nullptr);
    h->parent = p2;
    h->OnChanged(kHotspotBitParent);
    EXPECT_EQ(p1->first_child, nullptr);
    EXPECT_EQ(p2->first_child, h);

    // p2 under h while h is under p2 would never end: refused.
    p2->parent = h;
    p2->OnChanged(kHotspotBitParent);
    EXPECT_EQ(p2->parent, nullptr);
    EXPECT_TRUE(Logged("cannot be a child of h"));
    EXPECT_EQ(h->first_child, nullptr);

    // A refused parent leaves the hotspot with the one it had.
    p2->parent = p1;
    p2->OnChanged(kHotspotBitParent);
    p2->parent = h;
    p2->OnChanged(kHotspotBitParent);
    EXPECT_EQ(p2->parent, p1);
    EXPECT_EQ(p1->first_child, p2);
    h->parent = h;
    h->OnChanged(kHotspotBitParent);
    EXPECT_EQ(h->parent, p2);
    EXPECT_EQ(p2->first_child, h);
}

TEST_F(HotSpotTest, VisibilityAndRectanglesFollowTheAncestors) {
    HotSpot* outer = Make("outer");
    HotSpot* inner = Make("inner");
    HotSpot* leaf = Make("leaf");
    inner->parent = outer;
    leaf->parent = inner;
    outer->rect[0] = 100, outer->rect[1] = 50;
    inner->rect[0] = 10, inner->rect[1] = 5;
    leaf->rect[0] = 1, leaf->rect[1] = 2, leaf->rect[2] = 30, leaf->rect[3] = 40;

    EXPECT_TRUE(HotSpot::IsVisible(nullptr));
    EXPECT_TRUE(HotSpot::IsVisible(leaf));
    outer->visible = false;
    EXPECT_FALSE(HotSpot::IsVisible(leaf));
    EXPECT_TRUE(HotSpot::IsEnabled(leaf));
    inner->enabled = false;
    EXPECT_FALSE(HotSpot::IsEnabled(leaf));
    EXPECT_TRUE(HotSpot::IsEnabled(outer));

    float r[4];
    leaf->GetAbsoluteRect(r);
    EXPECT_EQ(r[0], 111.0f);
    EXPECT_EQ(r[1], 57.0f);
    EXPECT_EQ(r[2], 30.0f);

    // A scalable ancestor scales its descendants to the real screen.
    engine.screenRect.Set(0, 0, 2048, 1536);
    outer->scalable = true;
    leaf->GetAbsoluteRect(r);
    EXPECT_EQ(r[0], 222.0f);
    EXPECT_EQ(r[3], 80.0f);

    leaf->SetAbsoluteRect(200, 100, 8, 9);
    EXPECT_EQ(leaf->rect[0], 90);
    EXPECT_EQ(leaf->rect[1], 45);
    EXPECT_EQ(leaf->rect[3], 9);

    // A loop made by hand cannot hang the walks.
    outer->parent = leaf;
    EXPECT_FALSE(HotSpot::IsVisible(leaf));
    leaf->GetAbsoluteRect(r);
}

TEST_F(HotSpotTest, ClearingHandlersNeverRunsTheNameAsCode) {
    HotSpot* h = Make("door");
    ASSERT_EQ(ScriptRun("door_MouseClick = 1; door_OnRender = 2; door_Other = 3"), 0);
    h->event_flags = 0x7FF;
    h->ClearEventHandlers();
    EXPECT_EQ(h->event_flags, 0x400u);
    ASSERT_EQ(ScriptRun("assert(door_MouseClick == nil and door_OnRender == nil and door_Other == 3)"), 0);

    HotSpot* odd = Make("x\"]=1 touched=true --");
    ASSERT_EQ(ScriptRun("_G['x\"]=1 touched=true --_MouseUp'] = 5"), 0);
    odd->ClearEventHandlers();
    ASSERT_EQ(ScriptRun("assert(touched == nil and _G['x\"]=1 touched=true --_MouseUp'] == nil)"), 0);
}

// A metamethod run by a handler's lookup or clearing may free the hotspot
// being worked on: the rest of the list is still done, the freed one is
// never touched again.
HotSpot* g_doomed = nullptr;
GameScene* g_doomed_scene = nullptr;
int FreeDoomed(lua_State*) {
    if (g_doomed) {
        ListRemove(g_doomed_scene->hotspots, g_doomed);
        delete g_doomed;
        g_doomed = nullptr;
    }
    return 0;
}

TEST_F(HotSpotTest, AHotspotFreedWhileItsHandlersAreLookedUpIsLeftAlone) {
    auto next = [](HotSpot* h) { return ListNext(h); };
    lua_register(ScriptState(), "free_doomed", FreeDoomed);
    g_doomed_scene = scene();
    for (const char* when : {"__index", "__newindex"}) {
        SCOPED_TRACE(when);
        HotSpot* a = Make("a");
        HotSpot* b = Make("b");
        HotSpot* c = Make("c");
        a->event_flags = b->event_flags = c->event_flags = 0x7FF;
        g_doomed = a;
        ASSERT_EQ(ScriptRunFormat("b_MouseUp = 1 c_MouseDown = 1 setmetatable(_G, {%s = function(t, k, v) "
                                  "if k == 'a_MouseMove' then free_doomed() end if v ~= nil then rawset(t, k, v) end "
                                  "end})",
                                  when),
                  0);
        if (std::string(when) == "__index") {
            HotSpot::RebuildHandlerBitsOfList(a, next);
            EXPECT_EQ(b->event_flags, 0x400u | kHotspotMouseUp);
            EXPECT_EQ(c->event_flags, 0x400u | kHotspotMouseDown);
        } else {
            HotSpot::ClearEventHandlersOfList(a, next);
            EXPECT_EQ(b->event_flags, 0x400u);
            EXPECT_EQ(c->event_flags, 0x400u);
        }
        EXPECT_EQ(g_doomed, nullptr);
        EXPECT_TRUE(script_test::FreedBlockUntouched(a, sizeof(HotSpot)));
        ASSERT_EQ(ScriptRun("setmetatable(_G, nil) b_MouseUp = nil c_MouseDown = nil"), 0);
        while (HotSpot* h = scene()->hotspots.head) {
            ListRemove(scene()->hotspots, h);
            delete h;
        }
    }
}

}  // namespace
