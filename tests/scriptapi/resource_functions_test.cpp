// Scene caching, releasing every scene and resource, script removal, the
// shader switch and mesh conversion, run as Lua chunks.
#include <gtest/gtest.h>
#include <unistd.h>

#include "app/console.h"
#include "app/scene_switch.h"
#include "base/memory.h"
#include "media/text/game_text.h"
#include "media/mesh/mesh_device.h"
#include "media/mesh/mesh_texts.h"
#include "scene/scene_fixture.h"
#include "scene/scene_page.h"
#include "script/script_cache.h"

namespace {

class ResourceFunctions : public scene_test::SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        // Scripts record what the engine calls back.
        Lua("calls = '' function loadscene_initials(n) calls = calls .. 'initials:' .. n .. ' ' end "
            "function initnodetrigger(n) calls = calls .. 'trigger:' .. n .. ' ' end");
    }
    static bool Exists(const char* path) { return access(path, F_OK) == 0; }
};

TEST_F(ResourceFunctions, SceneCacheLoadsOnceAndGivesTheSceneBack) {
    Write("stages/hall/data.lua", "data_runs = (data_runs or 0) + 1");
    GameScene* room = Scene("room");
    engine.currentScene = room;
    Lua("scene_cache('Hall')");
    GameScene* hall = ListFindByName(engine.scenes, "hall");
    ASSERT_NE(hall, nullptr);
    EXPECT_TRUE(hall->dataLoaded);
    EXPECT_TRUE(hall->resourcesLoaded);
    EXPECT_NE(hall->parent, nullptr);  // in the node tree
    EXPECT_EQ(engine.currentScene, room);
    EXPECT_EQ(Text("calls"), "initials:hall trigger:room ");
    // Loaded already: only the trigger runs again; the current scene's own
    // name when it is the one cached.
    Lua("calls = '' scene_cache('hall') scene_cache('room')");
    EXPECT_EQ(Number("data_runs"), 1);
    EXPECT_EQ(Text("calls"), "trigger:room initials:room trigger:room ");
    // No scene before: no trigger, and none after.
    engine.currentScene = nullptr;
    Lua("calls = '' scene_cache('hall') scene_cache('') scene_cache()");
    EXPECT_EQ(Text("calls"), "");
    EXPECT_EQ(engine.currentScene, nullptr);
}

TEST_F(ResourceFunctions, SceneCacheSurvivesScriptsThatFreeEveryScene) {
    Write("stages/cellar/data.lua", "removeAllResources()");
    engine.currentScene = Scene("room");
    Lua("scene_cache('cellar')");
    // The previous scene and the cached one are gone; nothing points at them.
    EXPECT_EQ(engine.scenes.head, nullptr);
    EXPECT_EQ(engine.currentScene, nullptr);
    EXPECT_EQ(Text("calls"), "trigger:room ");
}

TEST_F(ResourceFunctions, RemoveAllResourcesLeavesNothingPointingIntoScenes) {
    Lua("removeAllResources()");  // no current scene: nothing
    GameScene* room = Scene("room");
    Scene("hall");
    HotSpot* door = Add(room->hotspots, "door");
    Write("./pic.png", scene_test::SolidPng(2, 2, 0xFF0000));
    ResourceRecord* pic = Resources().DeclareImage("pic", 0);
    ASSERT_NE(pic, nullptr);
    engine.currentScene = room;
    engine.hoveredHotspot = engine.pressedHotspot = engine.rawPickedHotspot = door;
    engine.selectedObject = door;
    Lua("removeAllResources()");
    EXPECT_EQ(engine.scenes.head, nullptr);
    EXPECT_EQ(engine.currentScene, nullptr);
    EXPECT_EQ(engine.hoveredHotspot, nullptr);
    EXPECT_EQ(engine.pressedHotspot, nullptr);
    EXPECT_EQ(engine.rawPickedHotspot, nullptr);
    EXPECT_EQ(engine.selectedObject, nullptr);
    EXPECT_EQ(pic->object, nullptr);  // unloaded, still declared
    EXPECT_EQ(Resources().FindByName("pic"), pic);
}

TEST_F(ResourceFunctions, RemoveAllResourcesIsRefusedWhileASceneLoads) {
    // The load goes on using its scene after the data script returns.
    Write("stages/trap/data.lua", "page{name='t'} removeAllResources()");
    engine.currentScene = Scene("trap");
    LoadScene();
    ASSERT_EQ(engine.currentScene, ListFindByName(engine.scenes, "trap"));
    EXPECT_EQ(ListCount(engine.currentScene->pages), 1u);
    EXPECT_TRUE(scene_test::Logged("[WARNING] : removeAllResources refused while a scene is switched, loaded or drawn"));
}

const EObject* g_kept = nullptr;

// What a node's data frees while the node loads (inside the engine's work)
// is gone at once for scripts and files: a closed file is whole on the disk,
// a removed text, box or hotspot and a deleted mesh's matrix are stale.
// Only the memory waits for the load to end.
TEST_F(ResourceFunctions, WhatANodeLoadFreesIsGoneAtOnceOnlyItsMemoryWaits) {
    lua_register(L, "keep", [](lua_State* L) {
        g_kept = ObjectFromHandle(lua_touserdata(L, 1));
        return 0;
    });
    lua_register(L, "kept_freed", [](lua_State* L) {
        lua_pushboolean(L, ObjectPool::IsFreed(g_kept, sizeof(GameText)));
        return 1;
    });
    Write("stages/room/data.lua", R"(
        local f = fopenWrite('saved.lua')
        fobjectPrint(f, gtext_new('greeting'))
        fclose(f)
        local g = io.open('saved.lua', 'rb') readback = g:read('*a') g:close()
        ge_copyfile('saved.lua', 'copy.lua')
        local t = gtext_new('gone') keep(t) gtext_remove(t)
        text_gone = gtext_get('gone') == nil and gtext_name(t) == nil and gtext_next(gtext_next()) == nil
        text_waits = not kept_freed()
        keep(gtext_next()) gtext_freeall()
        all_gone = gtext_next() == nil and not kept_freed()
        local b = edit_create(rect_const(0, 0, 10, 10, 0)) edit_settext(b, 'x') edit_destroy(b)
        box_gone = edit_gettext(b) == b
        local h = hotspot{name = 'h', rect = '0,0,1,1'} hs_remove(h)
        hotspot_gone = hs_getname(h) == nil and hs_get('h') == nil
        local m = ge_newsceneobject('mesh', 'm') local w = mesh_gettransform(m) ge_deleteobject(m)
        matrix_gone = select('#', matrix_getrow(w, 0)) == 0
    )");
    engine.currentScene = Scene("room");
    LoadScene();
    EXPECT_NE(Text("readback").find("greeting"), std::string::npos) << Text("readback");
    EXPECT_EQ(quild_test::ReadFile(Path("copy.lua")), Text("readback"));
    Lua("assert(text_gone, 'text') assert(text_waits, 'text memory') assert(all_gone, 'all texts') "
        "assert(box_gone, 'box') assert(hotspot_gone, 'hotspot') assert(matrix_gone, 'matrix')");
    g_kept = nullptr;
}

TEST_F(ResourceFunctions, RemoveScriptDropsTheFileAndItsCompiledChunk) {
    Console console;
    Write("./a.lua", "a_runs = (a_runs or 0) + 1");
    Write("./b.lua", "b_runs = 1");
    ASSERT_EQ(RunScript("a"), 0);
    ASSERT_NE(g_compiled_scripts.Find("a"), nullptr);
    Lua("removescript(7) removescript() removescript('a.lua') removescript('b')");
    EXPECT_FALSE(Exists("a.lua"));
    EXPECT_FALSE(Exists("b.lua"));
    EXPECT_EQ(g_compiled_scripts.Find("a"), nullptr);
    // Without the source or the chunk there is nothing left to run.
    RunScript("a");
    EXPECT_EQ(Number("a_runs"), 1);
    const Console::HistoryEntry& last = console.History(console.WriteIndex() - 1);
    EXPECT_STREQ(last.text, "[DELETED] b.lua");
    EXPECT_EQ(last.colour, 0xFFFFFFFFu);
    // Only when the last argument is a string: a number names no script.
    Write("./c.lua", "");
    Write("./7.lua", "");
    Lua("removescript('c', nil) removescript(7) removescript('c', 7)");
    EXPECT_TRUE(Exists("c.lua"));
    EXPECT_TRUE(Exists("7.lua"));
    Lua("removescript('7')");
    EXPECT_FALSE(Exists("7.lua"));
}

TEST_F(ResourceFunctions, ShaderSwitchRunsTheScriptOnChangesOnly) {
    Lua("DIR_SCRIPTS = 'scripts'");
    Write("scripts/shaders.lua", "shader_runs = (shader_runs or 0) + 1");
    Lua("ge_enableshaders(true)");  // the device has none
    EXPECT_FALSE(engine.shadersOn);
    engine.shadersSupported = true;
    Lua("ge_enableshaders(true) ge_enableshaders(true)");
    EXPECT_TRUE(engine.shadersOn);
    EXPECT_EQ(Number("shader_runs"), 1);
    Lua("ge_enableshaders(false) ge_enableshaders()");
    EXPECT_FALSE(engine.shadersOn);
    EXPECT_EQ(Number("shader_runs"), 2);
}

TEST_F(ResourceFunctions, MeshToMshWritesTheCacheBesideTheText) {
    media_test::MeshDeviceScope scope;
    Write("./cube.x", media_test::kCubeX);
    Lua("mesh_tomsh('cube') mesh_tomsh('none') mesh_tomsh()");
    EXPECT_TRUE(Exists("cube.msh"));
    EXPECT_FALSE(Exists("none.msh"));
    EXPECT_EQ(scope.device.live_buffers, 0);  // the temporary mesh is gone
}

}  // namespace
