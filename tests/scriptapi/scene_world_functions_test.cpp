// The script functions of the scene world through the real Lua state:
// pages, objects by name and lists, hotspots, scenes, scene queries, the
// editor and the statement queue. Scenes are built by the scene-file
// constructors; each chunk of asserts reports the line that failed.
#include <string>

#include "app/app_window.h"
#include "app/engine.h"
#include "app/scene_switch.h"
#include "base/string_pool.h"
#include "media/image/image_data.h"
#include "media/text/game_text.h"
#include "scene/cube_faces.h"
#include "scene/game_mesh.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "scene/hotspot_handler_keys.h"
#include "scene/hotspot_map.h"
#include "scene/scene_page.h"
#include "script/object_model.h"
#include "scriptapi/engine_script_test.h"
#include "scriptapi/finaliser_cases.h"
#include "scriptapi/gtext_functions.h"

extern "C" {
#include <lauxlib.h>
}

namespace {

class SceneWorldTest : public scriptapi_test::EngineScriptTest {
protected:
    void SetUp() override {
        EngineScriptTest::SetUp();
        RegisterAllClassProperties();
    }
    void TearDown() override {
        engine->currentScene = nullptr;
        DeleteAllScenes(engine.get());
        FreeHotspotMap();
        EngineScriptTest::TearDown();
    }

    // Runs a chunk of Lua asserts; a failure names the chunk's error.
    void Check(const std::string& code) {
        if (luaL_loadstring(L, code.c_str()) != 0 || lua_pcall(L, 0, 0, 0) != 0) {
            ADD_FAILURE() << lua_tostring(L, -1);
            lua_pop(L, 1);
        }
    }

    // A page scene "book" of three pages and a few screen hotspots, made
    // current.
    GameScene* MakeBook() {
        Check(R"(
            scene{name='book'}
            beginscene('book')
            page{name='p1'} page{name='p2'} page{name='p3'}
            hotspot{name='Door', rect='100,100,200,200', visible=true}
            hotspot{name='knob', rect='50,50,10,10', parent='Door', visible=true}
            hotspot{name='lock', rect='5,5,10,10', parent='Door', visible=true}
            endscene()
        )");
        GameScene* s = ListFindByName(engine->scenes, "book");
        engine->currentScene = s;
        return s;
    }

    // A cube scene "room" with three map hotspots painted into the map:
    // hotspot n covers yaw 10n .. 10n + 4 at pitch 0.
    GameScene* MakeRoom() {
        Check(R"(
            scene{name='room', viewtype=2}
            beginscene('room')
            hotspot{name='a'} hotspot{name='b'} hotspot{name='c'}
            endscene()
        )");
        GameScene* s = ListFindByName(engine->scenes, "room");
        engine->currentScene = s;
        EXPECT_TRUE(PrepareHotspotMap());
        ImageData* map = HotspotMapImage();
        for (int n = 1; n <= 3; ++n)
            for (int yaw = 10 * n; yaw < 10 * n + 5; ++yaw) map->pixels[yaw + 90 * kHotspotMapWidth] = uint8_t(n);
        return s;
    }
};

TEST_F(SceneWorldTest, PagesAreSetCountedNamedAndWrap) {
    MakeBook();
    Check(R"(
        assert(ge_getpagecount() == 3 and ge_getpageno() == 1 and ge_getpagename() == 'p1')
        ge_setpage(2)               assert(ge_getpageno() == 2)
        ge_setpage('P3')            assert(ge_getpagename() == 'p3')
        ge_setnextpage()            assert(ge_getpageno() == 1, 'next wraps to the first')
        ge_setprevpage()            assert(ge_getpageno() == 3, 'previous wraps to the last')
        ge_setprevpage()            assert(ge_getpageno() == 2)
        ge_setlastpage()            assert(ge_getpageno() == 3)
        ge_setpage('nothing')       assert(ge_getpageno() == 0 and ge_getpagename() == nil)
        ge_setprevpage()            assert(ge_getpageno() == 3, 'no page: previous is the last')
        local list = ge_getpagelist()
        assert(#list == 3 and ge_getpagename(scene_get(0)) == 'p3')
        ge_setpage(1)
        assert(ge_getpagecount(scene_get('book')) == 3)
        assert(ge_getpagecount(list[1]) == 0 and ge_getpagename(list[1]) == nil, 'a page is no scene')
    )");
    engine->currentScene = nullptr;
    Check(R"(
        assert(select('#', ge_getpagelist()) == 0)
        assert(ge_getpagename() == nil and ge_getpagecount() == 0 and ge_getpageno() == 0)
        ge_setnextpage() ge_setprevpage() ge_setlastpage() ge_setpage(1)
    )");
}

TEST_F(SceneWorldTest, PagesTurnOnlyToAPageOfAPageScene) {
    GameScene* book = MakeBook();
    engine->executingStatement = true;
    // Far before the first page from no page at all: nothing turns (and
    // nothing overflows); a waiting statement goes on at once.
    Check("ge_setpage('nothing') ge_pagein(-2147483648)");
    EXPECT_EQ(engine->pageTurn, 0);
    EXPECT_TRUE(engine->statementReady);
    EXPECT_FALSE(engine->transitionByStatement);
    // Past the last page: the page stays, the statement goes on.
    Check("ge_setpage(2)");
    engine->statementReady = false;
    Check("ge_pagein(4) ge_pagein(2147483647)");
    EXPECT_EQ(engine->pageTurn, 0);
    EXPECT_TRUE(engine->statementReady);
    EXPECT_EQ(book->nextPage, nullptr);
    // A cube scene has no pages to turn: nothing would ever end the turn.
    MakeRoom();
    engine->statementReady = false;
    Check("ge_pagein(1) ge_pagein('p1')");
    EXPECT_EQ(engine->pageTurn, 0);
    EXPECT_TRUE(engine->statementReady);
    EXPECT_FALSE(engine->transitionByStatement);
    // A real turn still waits for its end.
    engine->currentScene = book;
    engine->statementReady = false;
    Check("ge_pagein(3)");
    EXPECT_EQ(engine->pageTurn, 1);
    EXPECT_FALSE(engine->statementReady);
    EXPECT_TRUE(engine->transitionByStatement);
    engine->executingStatement = false;
    engine->pageTurn = 0;
}

TEST_F(SceneWorldTest, ASwitchWithoutANameSwitchesNothing) {
    MakeBook();
    Check("ge_switchscene(nil) ge_switchscene('') ge_switchscene() ge_setscene()");
    EXPECT_FALSE(engine->switchPending);
    EXPECT_TRUE(script_test::Logged("[WARNING] : scene switch without a scene name ignored"));
    // From a statement nothing is left to wait for: the sequence goes on.
    engine->executingStatement = true;
    Check("ge_switchscene() ge_dissolve('') ge_zoomin(nil)");
    EXPECT_TRUE(engine->statementReady);
    EXPECT_FALSE(engine->transitionByStatement);
    engine->executingStatement = false;
    Check("ge_switchscene('Room')");
    EXPECT_TRUE(engine->switchPending);
    EXPECT_STREQ(engine->targetName, "room");
    engine->switchPending = false;
}

TEST_F(SceneWorldTest, ObjectsByNameAndLists) {
    MakeBook();
    Check(R"(
        local door = hs_get('DOOR')
        assert(door and hs_getname(door) == 'Door')
        assert(hs_get(nil, 'knob') == hs_get('knob'), 'the name is the last argument')
        assert(hs_get('none') == nil and point_get('x') == nil and pobject_get('x') == nil)
        assert(pobject_get ~= point_get, 'two functions, two values')
        assert(mesh_get('x') == nil and patch_get('x') == nil and fx_get('x') == nil)
        local names = ge_gethotspotslist()
        assert(#names == 3 and names[1] == 'Door' and names[3] == 'lock')
        local kids = ge_gethotspotslist(door)
        assert(#kids == 2 and kids[1] == hs_get('knob') and kids[2] == hs_get('lock'))
        assert(ge_gethotspotslist(hs_get('knob')) == nil, 'no children: nil')
        assert(ge_getsceneslist()[1] == 'book')
        assert(ge_getmesheslist() == nil and ge_getpatcheslist() == nil)
        local all = ge_getsceneobjectslist()
        assert(#all == 6 and all[1] == door and all[6] == ge_getpagelist()[3], 'hotspots first, pages last')
        assert(#ge_getsceneobjectslist('book') == 6 and #ge_getsceneobjectslist('nothing') == 0)
        assert(#ge_getglobalhotspotslist() == 0)
    )");
    // Global hotspots: only those without a parent are listed.
    Check(R"(
        local top = hotspot{name='menu', rect='0,0,10,10'}
        hotspot{name='item', rect='0,0,5,5', parent=top}
        local list = ge_getglobalhotspotslist()
        assert(#list == 1 and list[1] == top)
    )");
    engine->currentScene = nullptr;
    Check(R"(
        assert(hs_get('Door') == nil and ge_getmesheslist() == nil and #ge_gethotspotslist() == 0)
    )");
}

TEST_F(SceneWorldTest, HotspotGeometryNamesAndTree) {
    MakeBook();
    Check(R"(
        local door, knob, lock = hs_get('Door'), hs_get('knob'), hs_get('lock')
        hs_moveto(knob, 150, 150)
        assert(select(1, hs_getsize0(knob)) == 10)
        local x, y = hs_getposition(knob)
        assert(x == 150 and y == 150, 'moveto places the absolute position')
        hs_move(knob, 5, -5)          x, y = hs_getposition(knob) assert(x == 155 and y == 145)
        hs_resize(knob, 30, 40)       local w, h = hs_getsize(knob) assert(w == 30 and h == 40)
        assert(select('#', hs_getsize(nil)) == 2 and hs_getsize(nil) == 0)

        local other = rect_const(1, 2, 3, 4, 1)
        local r = hs_getrect(door, 10, 20)
        local rx, ry, rw, rh = rect_get(r)
        assert(rx == 110 and ry == 120 and rw == 200 and rh == 200)
        assert(select(1, rect_get(other)) == 1, 'slot 1 is left alone')

        hs_setvisible(door, false)
        assert(hs_getvisible(knob) == true and hs_getvisible(door) == false, 'own flag only')
        assert(hs_getparent(knob) == door and hs_getparent(door) == nil)
        assert(hs_nextchild(door) == knob and hs_nextchild(knob) == lock and hs_nextchild(lock) == nil)
        assert(select('#', hs_nextchild(nil)) == 0)

        hs_setname(knob) assert(hs_getname(knob) == 'knob', 'no name: nothing')
        hs_setname(knob, 'Handle') assert(hs_get('handle') == knob)
        hs_setenable(lock, false) hs_render(door, 'ff808080')
    )");
    HotSpot* lock = ListFindByName(engine->currentScene->hotspots, "lock");
    ASSERT_NE(lock, nullptr);
    EXPECT_FALSE(lock->enabled);
}

TEST_F(SceneWorldTest, HandlerBitsFollowTheGlobalsOfAnyNameLength) {
    GameScene* s = MakeBook();
    const std::string long_name(300, 'x');
    Check("hs_setname(hs_get('lock'), '" + long_name + "') " + long_name +
          "_MouseEnter = function() end "
          "Door_MouseClick = function() end Door_MouseLeave = function() end "
          "hs_checkevents(hs_get('Door'))");
    HotSpot* door = s->hotspots.head;
    EXPECT_EQ(door->event_flags & kHotspotHandlerMask, uint32_t(kHotspotMouseClick | kHotspotMouseLeave));
    EXPECT_EQ(s->hotspots.tail->event_flags & kHotspotHandlerMask, uint32_t(kHotspotMouseEnter));
    // Read again (the handler names kept from the first time; a name as
    // long as that one is never kept): the globals as they are now, through
    // a metatable of _G while it has one, under a new name once renamed.
    Check("hs_setname(hs_get('" + long_name + "'), 'lock') hs_checkevents(hs_get('Door')) "
          "Door_MouseClick = nil Door_MouseDown = function() end hs_checkevents(hs_get('Door'))");
    EXPECT_EQ(door->event_flags & kHotspotHandlerMask, uint32_t(kHotspotMouseDown | kHotspotMouseLeave));
    Check("setmetatable(_G, {__index = function(t, k) if k == 'Door_MouseUp' then return print end end}) "
          "hs_checkevents(hs_get('Door'))");
    EXPECT_EQ(door->event_flags & kHotspotHandlerMask, uint32_t(kHotspotMouseDown | kHotspotMouseLeave | kHotspotMouseUp));
    Check("setmetatable(_G, nil) hs_checkevents(hs_get('Door'))");
    EXPECT_EQ(door->event_flags & kHotspotHandlerMask, uint32_t(kHotspotMouseDown | kHotspotMouseLeave));
    Check("hs_setname(hs_get('Door'), 'Gate') Gate_MouseMove = function() end hs_checkevents(hs_get('Gate'))");
    EXPECT_EQ(door->event_flags & kHotspotHandlerMask, uint32_t(kHotspotMouseMove));
    // A nameless hotspot gets no bits, even with a global named "_MouseUp".
    Check("_MouseUp = function() end hotspot{rect='0,0,1,1'} hs_checkevents()");
    ASSERT_NE(engine->globalHotspots.head, nullptr);
    EXPECT_EQ(engine->globalHotspots.head->event_flags & kHotspotHandlerMask, 0u);
}

TEST_F(SceneWorldTest, HandlerBitsOfLongListsKeepNothingInTheLuaHeap) {
    GameScene* s = MakeBook();
    Check("Door_MouseUp = function() end hs_checkevents(hs_get('Door'))");
    uint32_t bits = 0;
    ASSERT_TRUE(ReadHandlerBitsRaw(L, s->hotspots.head->name, &bits));  // a short list's keys are kept
    EXPECT_EQ(bits, uint32_t(kHotspotMouseUp));
    Check(R"(
        beginscene('book') for i = 1, 8000 do hotspot{name = 'h' .. i, rect = '0,0,1,1'} end endscene()
        h5000_MouseClick = function() end h7999_MouseEnter = function() end
        collectgarbage('collect') collectgarbage('collect')
        before = collectgarbage('count')
        hs_checkevents(hs_get('h1')) hs_checkevents(hs_get('h1'))
        collectgarbage('collect') collectgarbage('collect')
        grown = collectgarbage('count') - before
    )");
    EXPECT_EQ(ListFindByName(s->hotspots, "h5000")->event_flags & kHotspotHandlerMask, uint32_t(kHotspotMouseClick));
    EXPECT_EQ(ListFindByName(s->hotspots, "h7999")->event_flags & kHotspotHandlerMask, uint32_t(kHotspotMouseEnter));
    EXPECT_EQ(ListFindByName(s->hotspots, "h4097")->event_flags & kHotspotHandlerMask, 0u);
    // Nothing is kept for them in the Lua heap (8,000 kept names took 4 MB),
    // and the short list's keys still serve it.
    lua_getglobal(L, "grown");
    EXPECT_LT(lua_tonumber(L, -1), 64.0) << "KiB";
    lua_pop(L, 1);
    EXPECT_LE(KeptHandlerNames(L), kMaxKeptHandlerNames);
    EXPECT_TRUE(ReadHandlerBitsRaw(L, s->hotspots.head->name, &bits));
}

TEST_F(SceneWorldTest, RemovingAMapHotspotRenumbersTheMap) {
    MakeRoom();
    Check(R"(
        local a, b, c = hs_get('a'), hs_get('b'), hs_get('c')
        assert(ge_gethotspotat(12, 0) == a and ge_gethotspotat(22, 0) == b and ge_gethotspotat(32, 0) == c)
        assert(ge_gethotspotat(0, 0) == nil and ge_gethotspotat(360, 0) == nil and ge_gethotspotat(0, 90) == nil)
        hs_remove(b)
        assert(ge_gethotspotat(12, 0) == a and ge_gethotspotat(22, 0) == nil and ge_gethotspotat(32, 0) == c)
        assert(hs_getname(b) == nil, 'the handle is stale')
        hs_remove(b)
    )");
    EXPECT_EQ(HotspotMapCell(12, 0), 1);
    EXPECT_EQ(HotspotMapCell(22, 0), 0);
    EXPECT_EQ(HotspotMapCell(32, 0), 2);
    EXPECT_EQ(ListCount(engine->currentScene->hotspots), 2u);

    // A hotspot of another scene leaves the map alone.
    Check("scene{name='hall'} beginscene('hall') hotspot{name='far'} endscene()");
    GameScene* hall = ListFindByName(engine->scenes, "hall");
    ASSERT_NE(hall, nullptr);
    engine->hoveredHotspot = hall->hotspots.head;
    Check("hs_remove(scene_get('hall') and ge_getsceneobjectslist('hall')[1])");
    EXPECT_EQ(hall->hotspots.head, nullptr);
    EXPECT_EQ(engine->hoveredHotspot, nullptr);
    EXPECT_EQ(HotspotMapCell(32, 0), 2);

    FreeHotspotMap();
    Check("assert(ge_gethotspotat(12, 0) == nil, 'no map')");

    // A global hotspot hanging under a scene hotspot lets go of it.
    Check("g = hotspot{name='tip', rect='0,0,1,1', parent=hs_get('a')} hs_remove(hs_get('a'))");
    ASSERT_NE(engine->globalHotspots.head, nullptr);
    EXPECT_EQ(engine->globalHotspots.head->parent, nullptr);
    Check("assert(hs_getparent(g) == nil) hs_moveto(g, 1, 1) assert(hs_getposition(g) == 1)");
}

// Removing or replacing a hotspot, whichever list holds it, leaves no list,
// parent, child or engine pointer into it.
TEST_F(SceneWorldTest, RemovedOrReplacedHotspotsLeaveNoLinkBehind) {
    GameScene* book = MakeBook();
    // A global object hotspot removed: out of the object list too.
    Check(R"(
        local v = ge_newobject('hotspot', 'victim')
        hs_remove(v)
        assert(#ge_getobjectslist(true) == 0 and hs_getname(v) == nil)
    )");
    EXPECT_EQ(engine->objects.head, nullptr);
    EXPECT_EQ(engine->objects.tail, nullptr);

    // A page hotspot moved under a global object, then the object made
    // again by name: the child lets go of the old one.
    Check(R"(
        menu = ge_newobject('hotspot', 'menu')
        ge_setproperty(hs_get('lock'), 'parent', 'menu')
        assert(hs_getparent(hs_get('lock')) == menu)
        tip = hotspot{name='tip', rect='0,0,1,1', parent=menu}
    )");
    HotSpot* lock = ListFindByName(book->hotspots, "lock");
    HotSpot* door = ListFindByName(book->hotspots, "Door");
    HotSpot* knob = ListFindByName(book->hotspots, "knob");
    ASSERT_TRUE(lock && door && knob);
    EXPECT_EQ(door->first_child, knob);
    EXPECT_EQ(knob->next_sibling, nullptr);
    engine->hoveredHotspot = static_cast<HotSpot*>(engine->objects.head);
    Check(R"(
        local again = ge_newobject('hotspot', 'menu')
        assert(again ~= menu and hs_getname(menu) == nil)
        assert(hs_getparent(hs_get('lock')) == nil and hs_getparent(tip) == nil)
        assert(hs_nextchild(again) == nil)
    )");
    EXPECT_EQ(lock->parent, nullptr);
    EXPECT_EQ(engine->globalHotspots.head->parent, nullptr);
    EXPECT_EQ(engine->hoveredHotspot, nullptr);
    EXPECT_TRUE(HotSpot::IsVisible(lock));

    // A hotspot of another scene hanging under a removed one, and the
    // removed one's own children.
    Check(R"(
        local door = hs_get('Door')
        scene{name='hall'} beginscene('hall')
        hotspot{name='far', rect='0,0,1,1', parent=door}
        endscene()
        hs_remove(door)
        assert(hs_getparent(hs_get('knob')) == nil)
    )");
    GameScene* hall = ListFindByName(engine->scenes, "hall");
    ASSERT_NE(hall, nullptr);
    ASSERT_NE(hall->hotspots.head, nullptr);
    EXPECT_EQ(hall->hotspots.head->parent, nullptr);
    EXPECT_EQ(knob->parent, nullptr);
    EXPECT_EQ(knob->next_sibling, nullptr);

    // A whole scene freed: a global hotspot under one of its hotspots.
    Check("hint = hotspot{name='hint', rect='0,0,1,1', parent=hs_get('knob')}");
    ClearSceneObjects(book);
    Check("assert(hs_getparent(hint) == nil)");
}

TEST_F(SceneWorldTest, ScenesAreCreatedAddressedAndNamed) {
    Check(R"(
        scene_create('Stage1\\House\\Cellar')
        local cellar = scene_get('stage1/house/cellar')
        assert(cellar and ge_getsceneslist()[1] == 'stage1/house/cellar')
        assert(scene_get('nothing') == nil)
        assert(type(scene_get(0)) == 'userdata' and scene_get(0) == scene_get(1), 'no scene: the null handle')
    )");
    GameScene* cellar = ListFindByName(engine->scenes, "stage1/house/cellar");
    ASSERT_NE(cellar, nullptr);
    engine->currentScene = cellar;
    Check(R"(
        assert(scene_get(0) == scene_get('stage1/house/cellar'))
        assert(scene_get(-1) == scene_get('stage1/house') and scene_get(-2) == scene_get('stage1'))
        -- above a top-level scene stands the tree's root node, then nothing
        local root = scene_get(-3)
        assert(type(root) == 'userdata' and root ~= scene_get(1) and root ~= scene_get('stage1'))
        assert(type(scene_get(1)) == 'userdata' and scene_get(-4) == scene_get(1) and scene_get(-2147483648) == scene_get(1))
        assert(scene_name() == 'stage1/house/cellar' and scene_name(1) == 'stage1' and scene_name(2) == 'stage1/house')
        assert(scene_name(3) == 'stage1/house/cellar' and scene_name(-1) == 'stage1/house')
        assert(scene_name(-2) == 'stage1' and scene_name(-3) == '')
        -- a name without "/" gives nothing: the caller gets its own last argument back
        local stage = scene_get('stage1')
        assert(scene_fullname() == 'cellar' and scene_fullname(stage) == stage)
        assert(scene_fullname(scene_get('stage1/house')) == 'house')
        assert(scene_viewtype() == '3d' and ge_scriptscope() == 'stage1/house/cellar')
    )");
    engine->currentScene = nullptr;
    Check("assert(scene_name() == '' and scene_viewtype() == nil and ge_scriptscope() == nil) scene_reload()");
}

TEST_F(SceneWorldTest, CubeFaceSetsAreChosenByName) {
    MakeRoom();
    GameScene* s = engine->currentScene;
    Check("beginscene('room') cubefaces{name='day'} cubefaces{name='night'} endscene()");
    // Sets without images are dropped by the constructor; make two by hand.
    if (!s->cubeFaceSets.head) {
        auto* day = ListAppendNew(s->cubeFaceSets);
        day->name = CommonStrings().Intern("day");
        auto* night = ListAppendNew(s->cubeFaceSets);
        night->name = CommonStrings().Intern("night");
    }
    Check(R"(
        scene_setcubeface('NIGHT') scene_setcubetransition('day', 0.25)
        scene_setcubeface('none') scene_setcubetransition('none', 0.75)
    )");
    ASSERT_NE(s->cubeFaces, nullptr);
    EXPECT_STREQ(s->cubeFaces->name, "night");
    ASSERT_NE(s->transitionFaces, nullptr);
    EXPECT_STREQ(s->transitionFaces->name, "day");
    EXPECT_FLOAT_EQ(s->transitionValue, 0.25f);
    // Deleting the set clears both references.
    Check("ge_deleteobject(ge_getsceneobjectslist()[4])");
    EXPECT_EQ(s->transitionFaces, nullptr);
}

TEST_F(SceneWorldTest, UnloadingAndResettingLeaveNothingDangling) {
    MakeBook();
    engine->hoveredHotspot = engine->currentScene->hotspots.head;
    engine->selectedObject = engine->currentScene->hotspots.tail;
    engine->BuildRenderList();
    Check(R"(
        door, book = hs_get('Door'), scene_get('book')
        ge_pagein(2)
        scene_reset()
        assert(scene_get('book') ~= nil and hs_getname(door) == nil and hs_get('Door') == nil)
        assert(ge_getpagecount() == 0 and #ge_getsceneslist() == 1 and ge_geteditorobject() == nil)
    )");
    EXPECT_EQ(engine->hoveredHotspot, nullptr);
    EXPECT_EQ(engine->pageTurn, 0);
    ASSERT_NE(engine->currentScene, nullptr);
    EXPECT_STREQ(engine->currentScene->name, "book");

    Check(R"(
        scene_create('a/b')
        scene_unloadall()
        assert(ge_getsceneslist() == nil and scene_name() == '' and select('#', ge_getdrawlist()) == 0)
        assert(ge_getpagename(book) == nil and ge_getnextfx() == nil)
    )");
    EXPECT_EQ(engine->currentScene, nullptr);
    EXPECT_EQ(engine->renderList ? engine->renderList[0] : nullptr, nullptr);
    EXPECT_EQ(SceneRootNode()->parent, nullptr);
}

TEST_F(SceneWorldTest, SceneQueriesWalkTheListsAndRenderList) {
    MakeBook();
    Check(R"(
        local list = ge_getdrawlist()
        assert(#list == 6, 'the pages and the hotspots')
        assert(ge_getordermin() == 2 and ge_getordermax() == 3, 'pages 2, hotspots 3 by default')
        ge_setproperty(hs_get('knob'), 'order', 9)
        assert(ge_getordermin() == 2 and ge_getordermax() == 9)
        assert(ge_getnextfx() == nil and ge_getnextpoint() == nil and ge_getnextmesh() == nil)
        local door = hs_get('Door')
        assert(ge_getnextmesh(door) == hs_get('knob') and ge_getnextmesh(hs_get('lock')) == nil)
        assert(select('#', point_getposition(door)) == 0)
        local r = ge_getnextresource() local n = 0
        while r and n < 100000 do n = n + 1 r = ge_getnextresource(r) end
        assert(r == nil)
        assert(ge_getnextresource(door) == nil, 'an object is no resource record')
        scene_setcenter(1, 2, 3)
    )");
    EXPECT_FLOAT_EQ(g_walkOffset[1], 2.0f);
    g_walkOffset[0] = g_walkOffset[1] = g_walkOffset[2] = 0;
    engine->currentScene = nullptr;
    Check("assert(select('#', ge_getordermin()) == 0 and select('#', ge_getdrawlist()) == 0)");
}

// Finalisers that free the scene world, objects, boxes or texts while a
// script function walks, pushes or converts (finaliser_cases.h): results
// are what was there before or what is left after, never freed memory.
GameText* g_txt = nullptr;

TEST_F(SceneWorldTest, FinalisersInsideAFunctionFreeNothingItStillUses) {
    lua_register(L, "rebuild", [](lua_State* L) {
        Engine* e = CurrentEngine();
        e->currentScene = nullptr;
        DeleteAllScenes(e);
        ScriptRun("scene{name='book'} beginscene('book') page{name='p1'} page{name='p2'} page{name='p3'} "
                  "hotspot{name='Door', rect='1,1,9,9'} hotspot{name='knob', parent='Door'} "
                  "hotspot{name='lock', parent='Door'} endscene()");
        e->currentScene = ListFindByName(e->scenes, "book");
        ScriptRun(R"(
            ge_newsceneobject('patch', 'pa') ge_newsceneobject('patch', 'pb') ge_newsceneobject('mesh', 'ma')
            door = hs_get('Door')
            for _, h in ipairs(ge_getglobalhotspotslist()) do hs_remove(h) end
            menu = hotspot{name='menu', rect='0,0,5,5'}
            ge_newobject('view', 'g1') ge_newobject('view', 'g2')
            if box then edit_destroy(box) end
            box = edit_create(rect_const(0, 0, 10, 10, 0)) edit_settext(box, 'boxed')
            edit_keydown(box, 16) for _ = 1, 3 do edit_keydown(box, 39) end  -- "box" selected
            txt = gtext_new('t1') gtext_settext(txt, 'hello'))");
        lua_getglobal(L, "txt");
        g_txt = ScriptArgGameTextObject(L, -1);
        lua_pop(L, 1);
        return 0;
    });
    // Whether the text of the last rebuild() was freed and nothing wrote
    // into it since: a write into a freed text shows in any build.
    lua_register(L, "txt_freed_untouched", [](lua_State* L) {
        lua_pushboolean(L, script_test::FreedBlockUntouched(g_txt, sizeof(GameText)));
        return 1;
    });
    Check(std::string(scriptapi_test::kFinaliserCases) + R"(
        local function names(t) return t and table.concat(t, ',') end
        local unload = scene_unloadall
        local function list(n, call) local _, t = case(n, unload, call) return t end
        -- Names and texts are the ones the call found: copied before anything is pushed.
        assert(names(list(1, ge_getsceneslist)) == 'book' and names(list(2, ge_getsceneslist)) == 'book')
        assert(names(list(1, ge_getpatcheslist)) == 'pa,pb' and names(list(2, ge_getpatcheslist)) == 'pa,pb')
        assert(names(list(1, ge_getmesheslist)) == 'ma' and names(list(2, ge_getmesheslist)) == 'ma')
        assert(names(list(1, ge_gethotspotslist)) == 'Door,knob,lock' and names(list(2, ge_gethotspotslist)) == 'Door,knob,lock')
        assert(list(1, of(ge_gethotspotslist, 'door')) == nil and #list(2, of(ge_gethotspotslist, 'door')) == 2)
        local function kind_list(kind) return function() return ge_getsceneobjectlist(kind) end end
        assert(list(1, kind_list('patch')) == nil and #list(2, kind_list('hotspot')) == 3)
        assert(#list(1, ge_getsceneobjectslist) == 0 and #list(2, ge_getsceneobjectslist) == 9)
        assert(case(1, unload, ge_getpagelist) == 0 and case(1, unload, ge_getdrawlist) == 0)
        local keys = list(1, of(ge_getpropertylist, 'door'))
        assert(#keys > 5 and keys[1] == 'name')
        assert(case(1, unload, of(ge_getproperty, 'door', 1)) == 0)
        local count, rect, x = case(1, unload, of(ge_getproperty, 'door', 'rect'))
        assert(count == 5 and rect == '1,1,9,9' and x == 1)
        assert(case(1, unload, function() return Scene[1] end) == 1)
        for n = 1, 3 do
            case(n, unload, of(ge_setproperty, 'door', 'rect', 5))
            case(n, unload, of(hs_setname, 'door', 7))
            case(n, unload, of(hs_render, 'door', 7))
            case(n, unload, of(hs_checkevents, 'door'))
            case(n, unload, function() scene_setcubeface(5) end)
            case(n, unload, function() scene_setcubetransition(5, 1) end)
            case(n, gtext_freeall, of(gtext_setname, 'txt', 5))
            assert(n > 1 or txt_freed_untouched(), 'gtext_setname wrote into the text it freed')
            case(n, gtext_freeall, of(gtext_settext, 'txt', 5))
        end
        local _, all = case(1, function() ge_newobject('view', 'g1') end, ge_getobjectslist)
        assert(#all == 2 and gtext_name(all[1]) == 'g2' and gtext_name(all[2]) == 'g1', 'g1 made anew')
        local function unmenu() hs_remove(menu) end
        assert(#select(2, case(1, unmenu, ge_getglobalhotspotslist)) == 0)

        local function unbox() edit_destroy(box) end
        assert(select(2, case(1, unbox, of(edit_gettext, 'box'))) == 'boxed')
        assert(select(2, case(2, unbox, of(edit_gettext, 'box'))) == 'boxed')
        assert(select(2, case(1, unbox, of(edit_getseltext, 'box'))) == 'box')
        assert(select(2, case(2, unbox, of(edit_getseltext, 'box'))) == 'box')
        for _, f in ipairs({edit_settext, edit_inserttext, edit_setseltext, edit_cmd, edit_importfile, edit_savetofile}) do
            case(1, unbox, of(f, 'box', 5))
        end
        assert(select(2, case(1, gtext_freeall, of(gtext_text, 'txt'))) == 'hello')
        assert(select(2, case(2, gtext_freeall, of(gtext_text, 'txt'))) == 'hello')
        assert(select(2, case(2, gtext_freeall, of(gtext_name, 'txt'))) == 't1')
        rebuild()
    )");
    EXPECT_EQ(ListCount(engine->scenes), 1u) << "the game went on after every case";
    // Texts too long to be copied in the function's frame: a game text and a
    // name list are copied elsewhere, a box's text is pushed from the box,
    // which keeps its text while a finaliser changes or destroys it.
    Check(std::string(scriptapi_test::kFinaliserCases) + R"(
        local world = rebuild
        local long = string.rep('0123456789', 300)
        local pa, pb = string.rep('p', 1500) .. 'a', string.rep('p', 1500) .. 'b'
        function rebuild()
            world()
            ge_newsceneobject('patch', pa) ge_newsceneobject('patch', pb)
            if lbox then edit_destroy(lbox) end
            lbox = edit_create(rect_const(0, 0, 10, 10, 0)) edit_settext(lbox, long)
            edit_keydown(lbox, 36) edit_keydown(lbox, 16) edit_keydown(lbox, 35) edit_keyup(lbox, 16)
            ltxt = gtext_new('t2') gtext_settext(ltxt, long)
        end
        rebuild()
        assert(edit_getseltext(lbox) == long)
        local function change() edit_settext(lbox, 'x') edit_sendchar(lbox, 65) edit_cmd(lbox, 'undo') end
        local function destroy() edit_settext(lbox, 'y') edit_destroy(lbox) end
        -- A push of the same text inside the push, then changes.
        local function nested() assert(edit_gettext(lbox) == long) change() assert(#edit_gettext(lbox) == 1) end
        for n = 1, 3 do
            for _, action in ipairs({change, destroy, nested}) do
                assert(select(2, case(n, action, of(edit_gettext, 'lbox'))) == long)
                assert(select(2, case(n, action, of(edit_getseltext, 'lbox'))) == long)
            end
            assert(select(2, case(n, gtext_freeall, of(gtext_text, 'ltxt'))) == long)
            local _, names = case(n, scene_unloadall, ge_getpatcheslist)
            assert(table.concat(names, ',') == 'pa,pb,' .. pa .. ',' .. pb)
        end
        rebuild()
        edit_destroy(lbox)
    )");
}

TEST_F(SceneWorldTest, EditorSelectsDeletesSwapsAndSendsKeys) {
    MakeBook();
    GameScene* s = engine->currentScene;
    Check(R"(
        local door, knob = hs_get('Door'), hs_get('knob')
        seteditormode(2) assert(geteditormode() == 2)
        ge_seteditorobject(door) assert(ge_geteditorobject() == door)
        ge_seteditorobject(scene_get('book')) assert(ge_geteditorobject() == door, 'a scene is no scene object')
        ge_seteditorobject(nil) assert(ge_geteditorobject() == door)
        seteditormode(0) assert(ge_geteditorobject() == nil, 'mode 0 clears the selection')
        ge_selectobject(knob) assert(ge_geteditorobject() == knob)
        ge_selectobject(nil) assert(ge_geteditorobject() == nil)
        setpositionmode(true) assert(getpositionmode() == true)
        setsceneedited() assert(getsceneedited() == true)
        assert(setscenerotated(true) == true, 'the caller gets its own argument back')
    )");
    EXPECT_TRUE(s->rotated);
    Check("assert(setscenerotated(false) == false)");
    EXPECT_FALSE(s->rotated);
    Check("setscenerotated(true)");
    EXPECT_EQ(engine->buttonsDown & 1u, 0u);

    // Arrow keys move the selected screen hotspot, not while the console is open.
    HotSpot* door = s->hotspots.head;
    Check("ge_selectobject(hs_get('Door')) ge_sendeditorinput(0x27, 0)");
    EXPECT_EQ(door->rect[0], 101);
    console->Toggle();
    Check("ge_sendeditorinput(0x27, 0)");
    EXPECT_EQ(door->rect[0], 101);
    console->Toggle();

    // A parent and its child exchange names, rectangles and handlers; the
    // list and the tree keep their places, so the tree has no cycle. A
    // hotspot and a page stay as they are.
    Check(R"(
        Door_MouseClick = function() end hs_checkevents(hs_get('Door'))
        local door, lock = hs_get('Door'), hs_get('lock')
        ge_swap_object(door, lock)
        assert(hs_getname(door) == 'lock' and hs_getname(lock) == 'Door')
        assert(ge_gethotspotslist()[1] == 'lock')
        assert(hs_getparent(lock) == door and hs_nextchild(door) == hs_get('knob'))
        ge_swap_object(door, ge_getpagelist()[1])
        assert(hs_getname(door) == 'lock')
    )");
    EXPECT_EQ(s->hotspots.head, door);
    EXPECT_EQ(door->rect[2], 10);
    EXPECT_EQ(door->event_flags & kHotspotHandlerMask, 0u);
    EXPECT_EQ(s->hotspots.tail->event_flags & kHotspotHandlerMask, uint32_t(kHotspotMouseClick));
    // Two texts: the hotspot shows the one now where its text was, and
    // finds that one again by name once the texts are made anew. Two
    // videos: the engine's playing video is the one whose player runs; two
    // hotspots: the hovered one and the selection stay with the place.
    Check(R"(
        local one, two, h = gtext_new('one'), gtext_new('two'), hs_get('knob')
        ge_setproperty(h, 'text', one)
        ge_swap_object(one, two)
        assert(gtext_name(ge_getproperty(h, 'text')) == 'two')
        gtext_freeall() gtext_settext(gtext_new('one'), 'Uno') gtext_settext(gtext_new('two'), 'Dos')
        assert(gtext_text(ge_getproperty(h, 'text')) == 'Dos')
    )");
    Check("v1, v2 = ge_newsceneobject('video', 'v1'), ge_newsceneobject('video', 'v2')");
    ASSERT_NE(engine->videos.head, engine->videos.tail);
    engine->currentVideo = engine->videos.head;
    engine->hoveredHotspot = ListNext(door);
    Check("ge_selectobject(hs_get('knob')) ge_swap_object(v1, v2) ge_swap_object(hs_get('knob'), hs_get('Door'))");
    EXPECT_EQ(engine->currentVideo, engine->videos.tail);
    EXPECT_EQ(engine->hoveredHotspot, ListNext(door));
    EXPECT_EQ(engine->selectedObject, ListNext(door));
    EXPECT_STREQ(s->hotspots.tail->name, "knob");
    engine->currentVideo = nullptr;
    engine->hoveredHotspot = nullptr;
    Check("ge_swap_object(hs_get('knob'), hs_get('Door'))");
    // Every walk of the tree ends.
    Check(R"(
        for _, h in ipairs(ge_getsceneobjectslist()) do
            hs_moveto(h, 1, 1) hs_getposition(h) hs_getrect(h) hs_getvisible(h)
        end
    )");

    // Deleting: stale handles and objects of other scenes are refused.
    Check(R"(
        scene{name='other'} beginscene('other') hotspot{name='x', rect='0,0,1,1'} endscene()
        local x = ge_getsceneobjectslist('other')[1]
        ge_deleteobject(x) assert(hs_getname(x) == 'x')
        local knob = hs_get('knob')
        ge_selectobject(knob)
        ge_deleteobject(knob)
        assert(hs_get('knob') == nil and ge_geteditorobject() == nil and hs_getname(knob) == nil)
        ge_deleteobject(knob)
        assert(#ge_getdrawlist() == 5, 'three pages and two hotspots')
        -- back to the defaults: shown and enabled again
        local lock = hs_get('lock')
        hs_setvisible(lock, false) hs_setenable(lock, false)
        ge_initobject(lock)
        assert(hs_getvisible(lock) == true and ge_getproperty(lock, 'enabled') == true)
    )");
    EXPECT_TRUE(engine->sceneModified);

    // A global hotspot is selectable, with or without a current scene.
    HotSpot* menu = ListAppendNew(engine->globalHotspots);
    ASSERT_NE(menu, nullptr);
    menu->name = CommonStrings().Intern("menu");
    lua_pushlightuserdata(L, menu->Handle());
    lua_setglobal(L, "menu");
    Check("ge_seteditorobject(menu) assert(ge_geteditorobject() == menu)");
    engine->selectedObject = nullptr;
    engine->currentScene = nullptr;
    Check("ge_seteditorobject(menu) assert(ge_geteditorobject() == menu)");
    engine->selectedObject = nullptr;
    engine->currentScene = s;
}

// Points and meshes: found by name, walked, listed, and moved by the
// editor's wheel.
TEST_F(SceneWorldTest, PointsAndMeshesByNameWalkAndEditorWheel) {
    MakeBook();
    Check(R"(
        local lamp = ge_newsceneobject('point', 'lamp', 'book')
        local m = ge_newsceneobject('mesh', 'statue', 'book')
        assert(point_get('LAMP') == lamp and pobject_get('lamp') == lamp and mesh_get('Statue') == m)
        assert(ge_getnextpoint() == lamp and ge_getnextpoint(lamp) == nil and ge_getnextmesh() == m)
        assert(ge_getmesheslist()[1] == 'statue')
        local x, y, z = point_getposition(lamp)
        assert(x == 0 and y == 0 and z == 0, 'no distance yet')
        ge_selectobject(lamp) ge_sendeditorinput(0, 1)
        x, y, z = point_getposition(lamp)
        assert(math.abs(x * x + y * y + z * z - 100 * 100) < 1e-3, 'one wheel step is 100 units')
        ge_selectobject(m) ge_sendeditorinput(0, -1)
        ge_deleteobject(lamp)
        assert(point_get('lamp') == nil and ge_getnextpoint() == nil and ge_getnextpoint(lamp) == nil)
    )");
    GameMesh* mesh = engine->currentScene->meshes.head;
    ASSERT_NE(mesh, nullptr);
    EXPECT_FLOAT_EQ(mesh->distance, -100.0f);
}

TEST_F(SceneWorldTest, AStatementThatStopsTheQueueKeepsWhatItQueuesAfter) {
    Check(R"(
        ge_task("ge_stoptasks() ge_task('done = true');never = true")
        assert(havetask() == true)
    )");
    ASSERT_TRUE(engine->RunQueuedStatement());
    Check("assert(never == nil and havetask() == true, 'the old queue is gone, the new task waits')");
    ASSERT_NE(engine->statementHead, nullptr);
    engine->statementReady = true;
    engine->RunQueuedStatement();
    Check("assert(done == true)");
    // The queue is empty; the sequence ends in the next frame that is ready.
    engine->statementReady = true;
    engine->RunQueuedStatement();
    Check("assert(havetask() == false) ge_settask() assert(havetask() == true) ge_stoptasks() assert(havetask() == false)");
    EXPECT_FALSE(engine->statementReady);
    Check("ge_nexttask()");
    EXPECT_TRUE(engine->statementReady);
}

// A statement released early (ge_nexttask) or dropped (ge_stoptasks) takes
// its wait along: the end of its transition does not release a later one.
TEST_F(SceneWorldTest, AWaitBelongsToTheStatementThatStartedIt) {
    Check("Gameplay = {dissolvefxtime = 100}");
    auto end_dissolve = [this] {
        engine->dissolveState = 3;
        engine->dissolveTime = 1000;
        engine->TransitionStep();
        ASSERT_EQ(engine->dissolveState, 0);
    };
    Check(R"lua(ge_task("ge_dissolve('s2') ge_nexttask();two = true;three = true"))lua");
    engine->RunQueuedStatement();
    EXPECT_TRUE(engine->transitionByStatement);
    EXPECT_TRUE(engine->statementReady);
    engine->RunQueuedStatement();
    Check("assert(two == true and three == nil)");
    end_dissolve();
    engine->RunQueuedStatement();
    Check("assert(three == nil, 'the dissolve belonged to the first statement')");
    EXPECT_FALSE(engine->statementReady);

    // Dropped while its dissolve runs: the next sequence waits as its own.
    Check("ge_stoptasks() three = nil");
    Check(R"lua(ge_task("ge_dissolve('s3')"))lua");
    engine->RunQueuedStatement();
    EXPECT_TRUE(engine->transitionByStatement);
    Check(R"lua(ge_stoptasks() ge_task("one = true;four = true"))lua");
    EXPECT_FALSE(engine->transitionByStatement);
    EXPECT_EQ(engine->waitedSound, nullptr);
    engine->RunQueuedStatement();
    Check("assert(one == true)");
    end_dissolve();
    engine->RunQueuedStatement();
    Check("assert(four == nil, 'the dissolve belonged to the dropped sequence')");
    Check("ge_stoptasks()");
}

TEST_F(SceneWorldTest, InputSwitchesKeysAndFrozenFrames) {
    Check(R"(
        assert(issceneenabled() == false) enablescene(false, true) assert(issceneenabled() == true)
        assert(ge_getkey(-1) == false and ge_getkey(256) == false and ge_getkey(2^40) == false)
        ge_setmousebutton(5) assert(ge_getmousebutton() == 5)
        ge_setmousesense(2.5)
        -- no cursor image anywhere: a null handle, not nil
        local cursor = ge_getcursor()
        assert(type(cursor) == 'userdata' and cursor == scene_get(1))
    )");
    EXPECT_EQ(g_mouseSensitivity, 2.5f);
    g_mouseSensitivity = 0;
    engine->postFxLast = 3;
    Check("freezescene(false)");
    EXPECT_EQ(engine->postFxLast, 3u);
    Check("freezescene(true)");
    EXPECT_EQ(engine->freezeState, 1);
    Check("freezescene(false)");
    EXPECT_EQ(engine->freezeState, 0);
    EXPECT_EQ(engine->postFxLast, 2u);
}

}  // namespace
