// The pointer, hotspot-under-the-pointer and scene input functions
// through the Lua state, on an engine without a display.
#include "app/app_window.h"
#include "media/image/image_data.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "scene/hotspot_map.h"
#include "script/lua_host.h"
#include "scriptapi/engine_script_test.h"

using scriptapi_test::EngineScriptTest;

namespace {

class PointerFunctions : public EngineScriptTest {
protected:
    void TearDown() override {
        engine->currentScene = nullptr;
        for (GameScene* s = engine->scenes.head; s;) {
            GameScene* next = ListNext(s);
            s->FreeObjects();
            delete s;
            s = next;
        }
        engine->scenes = {};
        FreeHotspotMap();
        g_mouseX = g_mouseY = 0;
        EngineScriptTest::TearDown();
    }
    HotSpot* AddHotspot(GameScene* s) {
        HotSpot* h = ListAppendNew(s->hotspots);
        h->owner = &s->hotspots;
        return h;
    }
    void Handle(const char* global, HotSpot* h) {
        lua_pushlightuserdata(L, h ? h->Handle() : nullptr);
        lua_setglobal(L, global);
    }
};

TEST_F(PointerFunctions, MouseAndSwitchesTakeWhatTheyAreGiven) {
    Lua(R"(
        ge_setmouse(12.5, 40)
        local x, y = ge_getmouse()
        assert(x == 12.5 and y == 40)
        -- the last argument counts
        enablescene(false, true)
        enablehotspotevents(true, false)
    )");
    EXPECT_TRUE(engine->sceneInputEnabled);
    EXPECT_FALSE(engine->hotspotEventsEnabled);
    Lua("enablescene()");
    EXPECT_FALSE(engine->sceneInputEnabled);
}

TEST_F(PointerFunctions, HotspotsUnderThePointerAndInTheMap) {
    Lua(R"(
        assert(ge_gethotspot() == nil and ge_getrealhotspot() == nil)
        local yaw, pitch = ge_gethotspotcenter()
        assert(yaw == 0 and pitch == -90)
        assert(ge_gethotspotat(10, 0) == nil)
    )");
    GameScene* s = ListAppendNew(engine->scenes);
    s->viewtype = kViewCube;
    engine->currentScene = s;
    HotSpot* first = AddHotspot(s);
    HotSpot* second = AddHotspot(s);
    second->hs_type = kHotspotMap;
    Handle("FIRST", first);
    Handle("SECOND", second);
    engine->hoveredHotspot = first;
    engine->rawPickedHotspot = second;
    ASSERT_TRUE(PrepareHotspotMap());
    // Value 2 around yaw 20, pitch 0; value 5 where the scene has no fifth.
    HotspotMapImage()->pixels[size_t(90) * 360 + 20] = 2;
    HotspotMapImage()->pixels[size_t(90) * 360 + 21] = 5;
    Lua(R"(
        assert(ge_gethotspot() == FIRST and ge_getrealhotspot() == SECOND)
        assert(ge_gethotspotat(20, 0) == SECOND)
        local h = ge_gethotspotat(21, 0)
        assert(type(h) == "userdata" and h ~= SECOND and h ~= FIRST)
        assert(ge_gethotspotat(22, 0) == nil and ge_gethotspotat(-1, 0) == nil and ge_gethotspotat(20, 90) == nil)
        -- the picked hotspot's centre when no handle is given
        local yaw, pitch = ge_gethotspotcenter()
        assert(math.abs(yaw - 20.5) < 1 and math.abs(pitch) < 1, yaw .. "," .. pitch)
        -- a null handle stands for the picked hotspot too
        yaw, pitch = ge_gethotspotcenter(ge_gethotspotat(21, 0))
        assert(math.abs(yaw - 20.5) < 1, yaw)
    )");
}

}  // namespace
