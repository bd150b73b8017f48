// Scene switching inside the test process: the engine made without a
// "main", a headless device, scene folders written by the generator.
// clang-format off
#include "render/render_fixture.h"
#include "engine_run.h"
#include "support/test_support.h"
// clang-format on

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "app/engine.h"
#include "app/post_effects.h"
#include "app/scene_switch.h"
#include "base/byte_stream.h"
#include "base/file_stream.h"
#include "base/log.h"
#include "base/string_pool.h"
#include "render/camera.h"
#include "render/shader_program.h"
#include "scene/cube_faces.h"
#include "scene/game_scene.h"
#include "scene/game_video.h"
#include "media/text/game_font.h"
#include "script/script_var.h"
#include "scene/hot_spot.h"
#include "scene/hotspot_map.h"
#include "media/image/image_data.h"
#include "media/resource_manager.h"
#include "scene/scene_page.h"
#include "script/lua_host.h"
#include "script/script_handles.h"
#include "scriptapi/scene_constructors.h"

namespace {

std::vector<std::string>& LogLines() {
    static std::vector<std::string> lines;
    return lines;
}

// Runs "return <expr>" and gives the result as text.
std::string Eval(const std::string& expr) {
    lua_State* L = ScriptState();
    std::string code = "return tostring(" + expr + ")";
    if (luaL_loadstring(L, code.c_str()) != 0 || lua_pcall(L, 0, 1, 0) != 0) {
        std::string err = lua_tostring(L, -1);
        lua_pop(L, 1);
        return "error: " + err;
    }
    std::string out = lua_tostring(L, -1) ? lua_tostring(L, -1) : "nil";
    lua_pop(L, 1);
    return out;
}

constexpr int kW = 128, kH = 96;

class SceneSwitchTest : public render_test::RenderTest {
protected:
    void SetUp() override {
        Open(kW, kH);
        saved_device_ = g_renderDevice;
        g_renderDevice = dev;
        // Tests run as parallel processes: each gets a folder of its own.
        root_ = quild_test::BuildOutputPath(std::string("scene_roots/in_process_") +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_EQ(RunSceneGen(root_, "palette cube cube 64 map cube 350 359 -10 10 1 map cube 0 9 -10 10 1 "
                                     "mask masked 64 cube masked 64 pages book 3 64 48"),
                  0);
        char cwd[4096];
        old_cwd_ = getcwd(cwd, sizeof cwd) ? cwd : ".";
        ASSERT_EQ(chdir(root_.c_str()), 0);
        e = GetEngine();  // no "main": the engine stays without a display
        ASSERT_NE(e, nullptr);
        LogLines().clear();
        SetLogSink([](const char* line, unsigned) { LogLines().push_back(line); });
        e->screenRect.Set(0, 0, kW, kH);
        e->virtualRect.Set(0, 0, kW, kH);
        if (!e->dissolveBuffer) e->dissolveBuffer = dev->CreateTexture(kW, kH, TEXKIND_RENDER_TARGET, nullptr, 0);
        if (!e->defaultCamera) e->defaultCamera = new Camera();
        e->activeCamera = e->defaultCamera;
        e->walkState = e->dissolveState = e->pageTurn = 0;
        e->switchPending = false;
        ASSERT_EQ(ScriptRun("DIR_STAGES = 'stages' Display = {fov = 90, aspect = 1.3333} "
                            "Gameplay = {dissolvefxtime = 1000, pagefxtime = 500}"),
                  0);
    }
    void TearDown() override {
        if (e) {
            e->currentScene = nullptr;
            DeleteAllScenes(e);
            dev->ReleaseTexture(e->dissolveBuffer);
            e->dissolveBuffer = nullptr;
            dev->ReleaseTexture(e->renderTarget);
            e->renderTarget = nullptr;
        }
        // Textures go with this test's device.
        FreeHotspotPreview();
        Resources().Clear();
        SetLogSink(nullptr);
        g_renderDevice = saved_device_;
        if (e) {
            // Each test has an engine of its own, none left for the next:
            // its scripts, compiled ones and globals would leak into another
            // folder's.
            SetCurrentEngine(e);
            e->Shutdown();
            e = nullptr;
        }
        ASSERT_EQ(chdir(old_cwd_.c_str()), 0);
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
        Close();
    }

    // Frames go to the build folder's frames/, outside the data root.
    void SaveFrame(const std::vector<uint32_t>& px, const std::string& name) {
        ASSERT_EQ(chdir(old_cwd_.c_str()), 0);
        SavePng(px, kW, kH, name);
        ASSERT_EQ(chdir(root_.c_str()), 0);
    }

    Engine* e = nullptr;
    std::string root_;
    std::string old_cwd_;
    RenderDevice* saved_device_ = nullptr;
};

TEST(SceneTransitionMath, FadeAlphaIsClampedAndNeverDividesByZero) {
    // 1000 ms at 50 Hz: the colour alpha 255 - a is 250 in the first fading
    // frame and 0 in the fiftieth.
    EXPECT_EQ(255 - TransitionAlpha(20, 1000), 250);
    EXPECT_EQ(255 - TransitionAlpha(1000, 1000), 0);
    EXPECT_EQ(TransitionAlpha(1020, 1000), 255);
    EXPECT_EQ(TransitionAlpha(500, 1000), 127);
    EXPECT_EQ(TransitionAlpha(5, 0), 255);
    EXPECT_EQ(TransitionAlpha(5, -40), 255);
    EXPECT_EQ(TransitionAlpha(-100, 1000), 0);
    // Large times do not overflow 32 bits.
    EXPECT_EQ(TransitionAlpha(2000000000, 2100000000), 242);
}

TEST(SceneTransitionMath, SceneNamesAreLowerCasedOnACopyAndBounded) {
    const char* original = CommonStrings().Intern("House/Kitchen");
    EXPECT_STREQ(InternSceneName(original), "house/kitchen");
    EXPECT_STREQ(original, "House/Kitchen");
    EXPECT_EQ(InternSceneName(""), nullptr);
    EXPECT_EQ(InternSceneName(nullptr), nullptr);
    EXPECT_EQ(InternSceneName(std::string(300, 'a').c_str()), nullptr);
    EXPECT_NE(InternSceneName(std::string(255, 'a').c_str()), nullptr);
}

TEST(SceneTransitionMath, AShortDepthFileIsFilledWithFF) {
    std::vector<uint8_t> out(kDepthBufferBytes, 0);
    uint8_t bytes[100];
    std::memset(bytes, 7, sizeof bytes);
    ByteStream s;
    s.Borrow(bytes, sizeof bytes);
    EXPECT_EQ(ReadDepthBuffer(s, out.data()), 100u);
    EXPECT_EQ(out[99], 7);
    EXPECT_EQ(out[100], 0xFF);
    EXPECT_EQ(out.back(), 0xFF);
}

TEST(SceneTransitionMath, WalkWithoutDurationEndsAtOnceInADissolve) {
    Engine local;
    g_lookYaw = 90;
    g_lookPitch = 0;
    local.StartWalk("Next", 100, 0);
    EXPECT_EQ(local.walkState, 1);
    EXPECT_NEAR(local.walkDirection[0], 1.0f, 1e-5f);
    local.TransitionStep();
    EXPECT_EQ(local.walkState, 0);
    EXPECT_EQ(local.dissolveState, 1);
    EXPECT_STREQ(local.targetName, "next");
    for (float v : g_walkOffset) EXPECT_TRUE(std::isfinite(v));
    // A second walk while one runs is ignored; so is a dissolve to nowhere.
    Engine other;
    other.StartWalk("a", 10, 100);
    other.StartWalk("b", 10, 100);
    EXPECT_STREQ(other.targetName, "a");
    other.StartDissolve("", 0);
    EXPECT_EQ(other.dissolveState, 0);
    const std::string too_long(300, 'x');
    other.RequestSceneSwitch(too_long.c_str(), false);
    EXPECT_FALSE(other.switchPending);  // refused, not a switch to nowhere
    other.RequestSceneSwitch("x", false);
    other.RequestSceneSwitch("y", true);
    EXPECT_STREQ(other.targetName, "x");
    EXPECT_FALSE(other.runLeaveHandlers);
    g_lookYaw = 0;
}

TEST_F(SceneSwitchTest, WalkMovesAlongTheLookAndBobs) {
    g_lookYaw = 0;
    g_lookPitch = 0;
    e->StartWalk("cube", 100, 1000);
    e->TransitionStep();  // time 0
    e->TransitionStep();  // time one frame
    const float dt = SceneFrameMs();
    EXPECT_NEAR(g_walkOffset[2], 100 * dt / 1000, 1e-4);
    EXPECT_NEAR(g_walkOffset[1], std::sin(dt * 3.1415925f / 500) * 5, 1e-4);
    EXPECT_NEAR(g_walkOffset[0], 0, 1e-5);

    // A walk asked for while a dissolve fades the new node in is refused:
    // the view is not left pushed forward once the fade has ended. A frame's
    // script asks for it here (no node switch runs), and the log says so.
    e->walkState = 0;
    e->StartDissolve("book", 0);
    e->dissolveState = 2;  // captured
    e->TransitionStep();
    ASSERT_EQ(e->dissolveState, 3);
    LogLines().clear();
    ASSERT_EQ(ScriptRun("ge_walk('gallery', 100)"), 0);
    e->StartWalk("cube", 100, 100);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"[WARNING] : switch to gallery refused: a dissolve is running",
                                                    "[WARNING] : switch to cube refused: a dissolve is running"}));
    for (int i = 0; i < 500 && (e->walkState || e->dissolveState); ++i) e->TransitionStep();
    EXPECT_EQ(e->walkState, 0);
    EXPECT_EQ(e->dissolveState, 0);
    EXPECT_STREQ(e->currentScene->name, "book");
    for (float v : g_walkOffset) EXPECT_EQ(v, 0.0f);
}

TEST_F(SceneSwitchTest, ConstructorsBuildThePageSceneAndItsDefaults) {
    NodeSwitch("book", false);
    GameScene* s = e->currentScene;
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->viewtype, kViewPage);
    EXPECT_EQ(ListCount(s->pages), 3u);
    EXPECT_EQ(s->currentPage, s->pages.head);
    EXPECT_EQ(s->pages.head->bgcolor, 0xFFFF00FFu);
    // Unnamed pages are numbered by their place; the current page stays.
    ASSERT_EQ(ScriptRun("beginscene('book') page{} h = hotspot{name='x'} endscene()"), 0);
    EXPECT_STREQ(s->pages.tail->name, "Page4");
    EXPECT_EQ(s->currentPage, s->pages.head);
    HotSpot* h = s->hotspots.head;
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->hs_type, kHotspotRect);  // no rect in a page scene
    EXPECT_EQ(h->page, 1);                // more than one page: the current page's place
    EXPECT_TRUE(h->visible && h->enabled && !h->itemusable && !h->scalable);
    EXPECT_EQ(h->color, 0xFFFFFFFFu);
    // Without a scene being loaded: always a new global hotspot.
    ASSERT_EQ(ScriptRun("hotspot{name='ui'} hotspot{name='ui', cursor='arrow'}"), 0);
    EXPECT_EQ(ListCount(e->globalHotspots), 2u);
    EXPECT_TRUE(e->globalHotspots.head->scalable);
    // beginscene with an unknown name leaves no scene being loaded.
    ASSERT_EQ(ScriptRun("beginscene('nowhere') page{}"), 0);
    EXPECT_EQ(SceneBeingLoaded(), nullptr);
    EXPECT_EQ(ListCount(s->pages), 4u);
    EXPECT_EQ(Eval("ge_getpageno()"), "1");
}

TEST_F(SceneSwitchTest, PageRequestsPickTheirPageAndDirection) {
    NodeSwitch("book", false);
    GameScene* s = e->currentScene;
    ASSERT_EQ(ScriptRun("ge_pagein(3)"), 0);
    EXPECT_EQ(e->pageTurn, 1);
    EXPECT_EQ(s->nextPage, s->pages.tail);
    // One turn at a time.
    ASSERT_EQ(ScriptRun("ge_pagein('page1')"), 0);
    EXPECT_EQ(s->nextPage, s->pages.tail);
    e->pageTurn = 0;
    s->currentPage = s->pages.tail;
    ASSERT_EQ(ScriptRun("ge_pagein('page1')"), 0);
    EXPECT_EQ(e->pageTurn, -1);
    EXPECT_EQ(s->nextPage, s->pages.head);
    // Before the first page nothing turns, and a waiting sequence goes on.
    e->pageTurn = 0;
    s->currentPage = s->pages.head;
    e->executingStatement = true;
    e->statementReady = false;
    ASSERT_EQ(ScriptRun("ge_pagein(-1)"), 0);
    EXPECT_EQ(e->pageTurn, 0);
    EXPECT_TRUE(e->statementReady);
    EXPECT_FALSE(e->transitionByStatement);
    ASSERT_EQ(ScriptRun("ge_pagein(2)"), 0);
    EXPECT_TRUE(e->transitionByStatement);
    e->executingStatement = false;
    e->transitionByStatement = false;
}

// A page turn belongs to the scene it started in.
TEST_F(SceneSwitchTest, ANodeSwitchEndsARunningPageTurn) {
    NodeSwitch("book", false);
    GameScene* book = e->currentScene;
    e->executingStatement = true;
    ASSERT_EQ(ScriptRun("ge_pagein(2)"), 0);
    e->executingStatement = false;
    ASSERT_EQ(e->pageTurn, 1);
    e->statementReady = false;
    NodeSwitch("cube", false);
    EXPECT_EQ(e->pageTurn, 0);  // else the cube's hotspots stay dead: picking waits for the turn
    EXPECT_TRUE(e->statementReady);
    EXPECT_FALSE(e->transitionByStatement);
    EXPECT_EQ(book->nextPage, nullptr);
    EXPECT_EQ(book->currentPage, book->pages.head);
    // Started again in the book, the turn runs its course there.
    NodeSwitch("book", false);
    ASSERT_EQ(ScriptRun("ge_pagein(3)"), 0);
    for (int i = 0; i < 100 && e->pageTurn; ++i) AdvancePageTurn(e);
    EXPECT_EQ(Eval("ge_getpageno()"), "3");
}

// The scripts a node switch runs cannot redirect it: such a request is
// refused, as it always was, but now says so. A one-statement task does it
// in the next frame.
TEST_F(SceneSwitchTest, RequestsDuringANodeSwitchAreRefusedAloud) {
    auto count = [](const std::string& part) {
        int n = 0;
        for (const std::string& l : LogLines()) n += l.find(part) != std::string::npos;
        return n;
    };
    ASSERT_EQ(ScriptRun("function OnGameSceneStart(to) ge_switchscene('cube') end"), 0);
    e->RequestSceneSwitch("book", false);
    e->TransitionStep();
    EXPECT_STREQ(e->currentScene->name, "book");
    EXPECT_FALSE(e->switchPending);
    EXPECT_EQ(count("[WARNING] : switch to cube refused: a node switch is running"), 1);

    ASSERT_EQ(ScriptRun("function OnGameSceneStart(to) ge_dissolve('masked') ge_walk('masked', 10, 100) end"), 0);
    e->StartDissolve("cube", 0);
    e->dissolveState = 2;  // captured
    e->TransitionStep();
    EXPECT_STREQ(e->currentScene->name, "cube");
    EXPECT_EQ(e->walkState, 0);
    EXPECT_EQ(count("[WARNING] : switch to masked refused: a node switch is running"), 2);
    e->dissolveState = 0;

    // Outside a node switch a refused request stays silent.
    LogLines().clear();
    e->switchPending = true;
    e->RequestSceneSwitch("masked", false);
    e->switchPending = false;
    EXPECT_EQ(count("refused"), 0);

    ASSERT_EQ(ScriptRun("function OnGameSceneStart(to) if to == 'book' then ge_task(\"ge_switchscene('masked')\") end end"), 0);
    e->RequestSceneSwitch("book", false);
    e->TransitionStep();
    EXPECT_STREQ(e->currentScene->name, "book");
    e->RunQueuedStatement();
    e->TransitionStep();
    EXPECT_STREQ(e->currentScene->name, "masked");
    EXPECT_EQ(count("refused"), 0);
    e->ClearStatements();
    ASSERT_EQ(ScriptRun("OnGameSceneStart = nil"), 0);
}

TEST_F(SceneSwitchTest, WalkTakesItsDefaultDurationOnlyFromANumber) {
    ASSERT_EQ(ScriptRun("Gameplay.walkfxtime = 750"), 0);
    g_walk_fx_time.Get();  // loaded once; ge_walk reads it as it stands
    ASSERT_EQ(ScriptRun("Gameplay.walkfxtime = 9 ge_walk('cube', 10, '5')"), 0);
    EXPECT_EQ(e->walkDuration, 750.0f);
    e->walkState = 0;
    ASSERT_EQ(ScriptRun("ge_walk('cube', 10, 40)"), 0);
    EXPECT_EQ(e->walkDuration, 40.0f);
    EXPECT_EQ(Eval("ge_istranstionfx()"), "true");
    e->walkState = 0;
}

TEST_F(SceneSwitchTest, VideoAndFontDeclarations) {
    ASSERT_EQ(ScriptRun("video{name='intro', rect='1,2,3,4'} font{name='big'} font{name='small', fontw=8}"), 0);
    GameVideo* v = ListFindByName(e->videos, "intro");
    ASSERT_NE(v, nullptr);
    EXPECT_TRUE(v->fixedRect);
    EXPECT_EQ(v->rect[2], 3);
    EXPECT_EQ(v->bgcolor, 0xFF000000u);
    ASSERT_EQ(ScriptRun("video{name='INTRO'}"), 0);
    EXPECT_EQ(ListCount(e->videos), 1u);
    EXPECT_FALSE(v->fixedRect);
    EXPECT_STREQ(e->currentFont->name, "big");
    EXPECT_EQ(ListFindByName(e->fonts, "small")->fontW, 8);
}

TEST_F(SceneSwitchTest, CubeFacesFallbackAndRemovalUseTheSceneBeingLoaded) {
    NodeSwitch("cube", false);
    GameScene* s = e->currentScene;
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->viewtype, kViewCube);
    ASSERT_NE(s->cubeFaces, nullptr);
    EXPECT_STREQ(s->cubeFaces->name, "base");
    EXPECT_EQ(s->cubeMasks, nullptr);  // no a_0n images here
    // A map hotspot in a panoramic scene without a rect.
    ASSERT_EQ(ScriptRun("beginscene() hotspot{name='door'} hotspot{name='sign', bgimage='x'} endscene()"), 0);
    EXPECT_EQ(s->hotspots.head->hs_type, kHotspotMap);

    // A scene with no face images, loaded while "cube" is current: its own
    // set is removed, the current scene's are untouched.
    ASSERT_EQ(ScriptRun("scene{name='empty'} beginscene('empty') page{} cubefaces{name='base'} endscene()"), 0);
    GameScene* empty = ListFindByName(e->scenes, "empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->cubeFaceSets.head, nullptr);
    EXPECT_EQ(empty->viewtype, kViewPage);
    EXPECT_NE(s->cubeFaces, nullptr);
    EXPECT_EQ(ListCount(s->cubeFaceSets), 1u);
}

// The map file is read at every visit while the hotspot list is made once:
// a hotspot removed before leaving stays removed in the map read on return,
// and the ones after it keep their areas.
TEST_F(SceneSwitchTest, ARemovedHotspotStaysOutOfTheMapReadOnReturn) {
    ASSERT_TRUE(PrepareHotspotMap());
    ImageData* map = HotspotMapImage();
    for (int yaw = 40; yaw < 50; ++yaw) map->pixels[yaw + 90 * kHotspotMapWidth] = 1;
    for (int yaw = 130; yaw < 140; ++yaw) map->pixels[yaw + 90 * kHotspotMapWidth] = 2;
    ASSERT_TRUE(SaveHotspotMapFile("stages/cube/hotspots.bin"));
    NodeSwitch("cube", false);
    ASSERT_EQ(ScriptRun("beginscene() h1 = hotspot{name='h1'} h2 = hotspot{name='h2'} endscene()"), 0);
    auto at = [] { return Eval("ge_gethotspotat(45, 0) == h2") + Eval("ge_gethotspotat(135, 0) == h2"); };
    ASSERT_EQ(Eval("ge_gethotspotat(45, 0) == h1"), "true");
    ASSERT_EQ(ScriptRun("hs_remove(h1)"), 0);
    EXPECT_EQ(at(), "falsetrue");
    for (int visit = 0; visit < 2; ++visit) {
        NodeSwitch("book", false);
        NodeSwitch("cube", false);
        ASSERT_EQ(ListCount(e->currentScene->hotspots), 1u);
        EXPECT_EQ(HotspotMapCell(45, 0), 0) << "visit " << visit;
        EXPECT_EQ(HotspotMapCell(135, 0), 1) << "visit " << visit;
        EXPECT_EQ(at(), "falsetrue");
    }
    // Once the scene's objects are made again from its files, the file's
    // numbering holds as it is.
    ClearSceneObjects(e->currentScene);
    EXPECT_FALSE(e->currentScene->hotspotMapRenumbered);
}

TEST_F(SceneSwitchTest, DefaultMasksComeFromTheMaskImages) {
    NodeSwitch("masked", false);
    GameScene* s = e->currentScene;
    ASSERT_NE(s, nullptr);
    ASSERT_NE(s->cubeMasks, nullptr);
    EXPECT_STREQ(s->cubeMasks->name, "mask");
    EXPECT_TRUE(s->cubeMasks->mask);
    EXPECT_FALSE(s->cubeFaces->mask);
}

TEST_F(SceneSwitchTest, ShaderReplacedUnderThePostEffectChainIsHandedOver) {
    const char* vs = "float4 vs_main(float4 p : POSITION0) : POSITION0 { return p; }";
    const char* ps = "float4 ps_main() : COLOR0 { return float4(1, 0, 0, 1); }";
    lua_State* L = ScriptState();
    lua_pushstring(L, vs);
    lua_setglobal(L, "VS");
    lua_pushstring(L, ps);
    lua_setglobal(L, "PS");
    e->shadersOn = true;
    ASSERT_EQ(ScriptRun("shader{name='blur', vs=VS, ps=PS}"), 0);
    ShaderProgram* first = dev->FindShaderProgram("blur");
    ASSERT_NE(first, nullptr);
    GetPostEffects().shader = first;
    ASSERT_EQ(ScriptRun("shader{name='blur', vs=VS, ps=PS}"), 0);
    ShaderProgram* second = dev->FindShaderProgram("blur");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetPostEffects().shader, second);
    GetPostEffects().shader = nullptr;
}

TEST_F(SceneSwitchTest, DeletingObjectsClearsEveryPointerIntoThem) {
    NodeSwitch("book", false);
    GameScene* s = e->currentScene;
    ASSERT_EQ(ScriptRun("beginscene() a = hotspot{name='a', rect='0,0,10,10'} "
                        "b = hotspot{name='b', rect='1,1,2,2', parent=a} endscene()"),
              0);
    HotSpot* a = ListFindByName(s->hotspots, "a");
    HotSpot* b = ListFindByName(s->hotspots, "b");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b->parent, a);
    EObject* list[3] = {a, b, nullptr};
    EObject** kept = e->renderList;
    e->renderList = list;
    e->selectedObject = e->hoveredHotspot = e->pressedHotspot = e->rawPickedHotspot = a;
    void* handle = a->Handle();
    e->DeleteObject(a);
    EXPECT_FALSE(IsScriptHandle(handle, ScriptHandleKind::kObject));
    EXPECT_EQ(e->selectedObject, nullptr);
    EXPECT_EQ(e->hoveredHotspot, nullptr);
    EXPECT_EQ(e->pressedHotspot, nullptr);
    EXPECT_EQ(e->rawPickedHotspot, nullptr);
    EXPECT_EQ(list[0], b);
    EXPECT_EQ(list[1], nullptr);
    EXPECT_EQ(b->parent, nullptr);
    EXPECT_EQ(ListCount(s->hotspots), 1u);
    e->renderList = kept;
    // A stale handle reads as no object.
    lua_pushlightuserdata(ScriptState(), handle);
    lua_setglobal(ScriptState(), "stale");
    EXPECT_EQ(Eval("ge_getpageno(stale)"), "0");

    // Deleting a page that is current leaves the scene without one.
    ScenePage* page = s->currentPage;
    e->DeleteObject(page);
    EXPECT_EQ(s->currentPage, nullptr);
}

TEST_F(SceneSwitchTest, CollectedObjectsComeInListOrder) {
    NodeSwitch("book", false);
    GameScene* s = e->currentScene;
    ASSERT_EQ(ScriptRun("beginscene() hotspot{name='h'} endscene()"), 0);
    SceneObjectChain chain;
    CollectSceneObjects(s, chain);
    std::vector<void*> handles;
    for (SceneObjectRecord* r = chain.head; r; r = r->link) handles.push_back(r->handle);
    ASSERT_EQ(handles.size(), 4u);
    EXPECT_EQ(handles[0], s->hotspots.head->Handle());
    EXPECT_EQ(handles[1], s->pages.head->Handle());
    EXPECT_EQ(handles[3], s->pages.tail->Handle());
    ChainRemove(chain, chain.tail);
    ChainRemove(chain, chain.head);
    EXPECT_EQ(chain.head->handle, handles[1]);
    EXPECT_EQ(chain.tail->handle, handles[2]);
    FreeSceneObjectChain(chain);
    EXPECT_EQ(chain.head, nullptr);
    EXPECT_EQ(ListAt(s->pages, 2), s->pages.tail);
    EXPECT_EQ(ListAt(s->pages, 3), nullptr);
    EXPECT_EQ(ListAt(s->pages, -1), nullptr);
}

// Script deletions and resets followed by frames: nothing the frame reads
// may point into what was freed (the sanitizers watch).
TEST_F(SceneSwitchTest, ScriptDeletionsThenFrames) {
    NodeSwitch("cube", false);
    ASSERT_EQ(ScriptRun("beginscene() hotspot{name='a'} hotspot{name='b', rect='10,10,20,20', visible=true} "
                        "hotspot{name='c', rect='1,1,2,2', parent='b', visible=true} endscene()"),
              0);
    GameScene* s = e->currentScene;
    ASSERT_NE(s, nullptr);
    e->hoveredHotspot = e->rawPickedHotspot = ListFindByName(s->hotspots, "a");
    e->pressedHotspot = ListFindByName(s->hotspots, "c");
    e->selectedObject = ListFindByName(s->hotspots, "b");
    e->BuildRenderList();
    ASSERT_EQ(ScriptRun("hs_remove(hs_get('a')) ge_deleteobject(hs_get('b'))"), 0);
    EXPECT_EQ(e->hoveredHotspot, nullptr);
    EXPECT_EQ(e->selectedObject, nullptr);
    RenderCurrentScene(e);
    e->UpdateHover();
    ASSERT_EQ(ScriptRun("hs_remove(hs_get('c'))"), 0);
    EXPECT_EQ(e->pressedHotspot, nullptr);
    RenderCurrentScene(e);

    ASSERT_EQ(ScriptRun("scene_reset()"), 0);
    ASSERT_NE(e->currentScene, nullptr);
    EXPECT_EQ(e->currentScene->viewtype, kViewCube);  // loaded again from its files
    RenderCurrentScene(e);
    e->UpdateHover();

    // Two loaded scenes, each with hotspots, are not exchanged: their
    // hotspots, child nodes and the engine point back at them. Unloading
    // them all afterwards frees each object once.
    ASSERT_EQ(ScriptRun("beginscene() hotspot{name='d'} endscene()"), 0);
    NodeSwitch("book", false);
    ASSERT_EQ(ScriptRun("beginscene() hotspot{name='e', rect='0,0,5,5'} endscene() "
                        "ge_swap_object(scene_get('cube'), scene_get('book'))"),
              0);
    EXPECT_EQ(Eval("gtext_name(scene_get('book')) .. ge_gethotspotslist()[1]"), "booke");
    EXPECT_EQ(LogLines().back(), "[WARNING] : scenes cube and book not swapped: what points at them would not follow");
    RenderCurrentScene(e);
    ASSERT_EQ(ScriptRun("scene_unloadall()"), 0);
    EXPECT_EQ(e->currentScene, nullptr);
    RenderCurrentScene(e);
    e->UpdateHover();

    // A scene file that deletes scenes while it is loaded is refused: the
    // load goes on with the scene.
    ASSERT_EQ(RunSceneGen(root_, "data trap 'page{name=\"t\"} scene_unloadall() scene_reset() scene_reload()'", true), 0);
    NodeSwitch("trap", false);
    ASSERT_NE(e->currentScene, nullptr);
    EXPECT_STREQ(e->currentScene->name, "trap");
    EXPECT_EQ(ListCount(e->currentScene->pages), 1u);
    RenderCurrentScene(e);
    bool refused = false;
    for (const std::string& line : LogLines()) refused |= line.find("scene_unloadall refused") != std::string::npos;
    EXPECT_TRUE(refused);

    // So is an update handler that the drawing of the scene calls.
    ASSERT_EQ(ScriptRun("function On2DSceneUpdate() scene_reset() scene_unloadall() end"), 0);
    GameScene* trap = e->currentScene;
    RenderCurrentScene(e);
    EXPECT_EQ(e->currentScene, trap);
    ASSERT_EQ(ScriptRun("On2DSceneUpdate = nil"), 0);
}

// A script saves the scene under its stage folder, and a reload reads the
// scene's files into an emptied scene: nothing is made twice.
TEST_F(SceneSwitchTest, ScriptSavesAndReloadsTheScene) {
    // Saving returns to the start folder first: here, the data root.
    char saved_start[sizeof g_current_directory];
    std::memcpy(saved_start, g_current_directory, sizeof saved_start);
    std::snprintf(g_current_directory, sizeof g_current_directory, "%s", root_.c_str());
    NodeSwitch("book", false);
    ASSERT_EQ(ScriptRun("beginscene() hotspot{name='note', rect='5,5,10,10'} endscene() ge_setpage(2) scene_save()"), 0);
    std::memcpy(g_current_directory, saved_start, sizeof saved_start);
    FileStream f;
    ASSERT_TRUE(f.OpenRead("stages/book/data.lua"));
    std::string text(f.Size(), '\0');
    ASSERT_EQ(f.Read(text.data(), f.Size()), f.Size());
    EXPECT_NE(text.find("name=\"note\""), std::string::npos) << text;
    EXPECT_NE(text.find("currentPage=\"page2\""), std::string::npos) << text;

    // The generated data file again, read twice.
    std::filesystem::remove(root_ + "/stages/book/data.lua");
    ASSERT_EQ(RunSceneGen(root_, "pages book 3 64 48", true), 0);
    ASSERT_EQ(ScriptRun("scene_unloadall()"), 0);
    NodeSwitch("book", false);
    EXPECT_EQ(Eval("ge_getpagecount()"), "3");
    ASSERT_EQ(ScriptRun("ge_setpage(3) beginscene() hotspot{name='extra', rect='0,0,1,1'} endscene() scene_reload()"), 0);
    EXPECT_EQ(Eval("ge_getpagecount()"), "3");
    EXPECT_EQ(Eval("ge_getpageno()"), "1");
    EXPECT_EQ(Eval("hs_get('extra')"), "nil");
    dev->Clear(0);
    RenderCurrentScene(e);
    std::vector<uint32_t> px = Read();
    SaveFrame(px, "scene_page_reloaded");
    EXPECT_EQ(At(px, 2, 2), 0xC03030u);  // page 1 again
}

// Frames of a cube scene and of a page, looked at as PNG files.
TEST_F(SceneSwitchTest, CubeAndPageFramesShowTheirImages) {
    NodeSwitch("cube", false);
    ASSERT_NE(e->currentScene, nullptr);
    g_lookYaw = 0;
    g_lookPitch = 0;
    dev->Clear(0);
    RenderCurrentScene(e);
    std::vector<uint32_t> px = Read();
    SaveFrame(px, "scene_cube_front");
    // Looking along +z at the red front face (its grid lines are white).
    uint32_t centre = At(px, kW / 2 + 3, kH / 2 + 3);
    EXPECT_GT(centre >> 16 & 0xFF, 0x90u) << std::hex << centre;
    EXPECT_LT(centre & 0xFF, 0x60u) << std::hex << centre;

    g_lookYaw = 90;  // the green right face
    dev->Clear(0);
    RenderCurrentScene(e);
    px = Read();
    SaveFrame(px, "scene_cube_right");
    centre = At(px, kW / 2 + 3, kH / 2 + 3);
    EXPECT_GT(centre >> 8 & 0xFF, 0x90u) << std::hex << centre;
    EXPECT_LT(centre >> 16 & 0xFF, 0x60u) << std::hex << centre;
    g_lookYaw = 0;

    // The switch draws the new page once off screen, so its first frame
    // builds no GL program of its own.
    e->renderTarget = dev->CreateTexture(kW, kH, TEXKIND_RENDER_TARGET, nullptr, 0);
    plat::gpu::Device* gl = dev->GetDevice();
    gl->ResetStats();
    NodeSwitch("book", false);
    EXPECT_GT(gl->GetStats().drawCalls, 0u);
    gl->ResetStats();
    dev->Clear(0);
    RenderCurrentScene(e);
    EXPECT_GT(gl->GetStats().drawCalls, 0u);
    EXPECT_EQ(gl->GetStats().programLinks, 0u);
    px = Read();
    SaveFrame(px, "scene_page_one");
    EXPECT_EQ(At(px, 2, 2), 0xC03030u);  // page 1 is red
    EXPECT_EQ(At(px, 2, 60), 0x000000u); // below the 64 x 48 image
}

TEST_F(SceneSwitchTest, DissolveDrawsTheCaptureFadingOut) {
    NodeSwitch("book", false);
    e->StartDissolve("cube", 0);
    ASSERT_TRUE(CaptureDissolve(e));
    EXPECT_EQ(e->dissolveState, 2);
    e->TransitionStep();  // the switch
    EXPECT_STREQ(e->currentScene->name, "cube");
    EXPECT_EQ(e->dissolveState, 3);
    dev->Clear(0xFF000000);
    e->TransitionStep();  // first fading frame: the captured page almost opaque
    std::vector<uint32_t> px = Read();
    SaveFrame(px, "scene_dissolve_first");
    uint32_t p = At(px, 2, 2);
    EXPECT_GE(p >> 16 & 0xFF, 0xB0u) << std::hex << p;
}

}  // namespace
