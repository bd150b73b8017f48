// Input routing on an engine with a page scene and a real window: clicks
// pushed as SDL events reach the hotspot handlers and "OnGameHotspotClick",
// hover events, picking rules and deletion of hotspots from handlers.
#include <SDL.h>
#include <gtest/gtest.h>

extern "C" {
#include <lua.h>
}

#include "app/app_window.h"
#include "app/console.h"
#include "app/engine_input.h"
#include "render/display_mode.h"
#include "scene/game_video.h"
#include "scene/scene_fixture.h"
#include "scene/scene_page.h"
#include "script/engine_work.h"
#include "script/lua_host.h"

using namespace scene_test;

namespace {

class EngineInputTest;
EngineInputTest* g_input_test = nullptr;

class EngineInputTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        engine.screenRect.Set(0, 0, 1280, 960);
        engine.virtualRect.Set(0, 0, 1024, 768);
        g_requestedDisplayMode = {1280, 960, false, "QUILD input test"};
        g_mouseSensitivity = 0;
        g_mouseButtons = 0;
        InstallEngineInputCallbacks();
        window = new AppWindow;
        ASSERT_TRUE(window->Create());
        window->PumpMessages();
        window->PollMouse();  // centred: (640, 480) on the screen

        scene = Scene("room");
        scene->viewtype = kViewPage;
        scene->currentPage = Add(scene->pages, "p1");
        door = Hotspot("door", 400, 300, 100, 100);
        shelf = Hotspot("shelf", 600, 300, 100, 100);
        engine.currentScene = scene;
        engine.sceneInputEnabled = engine.hotspotEventsEnabled = true;
        engine.BuildRenderList();
        Lua(R"(
            T = {}
            local function t(s) T[#T + 1] = s end
            for _, n in ipairs({"door", "shelf"}) do
              _G[n .. "_MouseDown"] = function(x, y, b) t(n .. " down " .. x .. "," .. y .. "," .. b) end
              _G[n .. "_MouseUp"] = function(x, y, b) t(n .. " up " .. x .. "," .. y .. "," .. b) end
              _G[n .. "_MouseEnter"] = function(s) t(s .. " enter") end
              _G[n .. "_MouseLeave"] = function(s) t(s .. " leave") end
            end
            function OnGameHotspotClick(h) t("click " .. (h == DOOR and "door" or h == SHELF and "shelf" or "?")) end
            function OnGameMouseDown(x, y, b) t("game down " .. x .. "," .. y .. "," .. b) end
            function OnGameMouseLeave(h) t("game leave") end
            function trace() local s = table.concat(T, "|") T = {} return s end
        )");
        Handle("DOOR", door);
        Handle("SHELF", shelf);
        UpdateGameHandlerBits();
        HotSpot::RebuildHandlerBitsOfList(scene->hotspots.head, [](HotSpot* h) { return ListNext(h); });
    }
    void TearDown() override {
        // Buttons left down stay down in SDL for the next test's window.
        engine.currentScene = nullptr;
        Button(SDL_BUTTON_LEFT, false);
        Button(SDL_BUTTON_RIGHT, false);
        delete window;
        g_inputCallbacks = InputCallbacks{};
        g_requestedDisplayMode = {};
        engine.currentScene = nullptr;
        SceneTest::TearDown();
    }

public:
    HotSpot* Hotspot(const char* name, int x, int y, int w, int h) {
        HotSpot* hs = Add(scene->hotspots, name);
        hs->SetDefaults();
        hs->owner = &scene->hotspots;
        hs->rect[0] = x, hs->rect[1] = y, hs->rect[2] = w, hs->rect[3] = h;
        return hs;
    }
protected:
    void Handle(const char* global, HotSpot* h) {
        lua_pushlightuserdata(ScriptState(), h->Handle());
        lua_setglobal(ScriptState(), global);
    }
    // Moves the pointer to a screen point and runs one frame's input.
    void MoveTo(int x, int y) {
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        e.motion.xrel = x - int(g_mouseX);
        e.motion.yrel = y - int(g_mouseY);
        SDL_PushEvent(&e);
        Frame();
    }
    void Button(uint8_t button, bool down) {
        SDL_Event e{};
        e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        e.button.button = button;
        SDL_PushEvent(&e);
        Frame();
    }
    void Frame() {
        window->PollMouse();
        engine.UpdateHover();
    }
    std::string Trace() {
        Lua("TRACE = trace()");
        return Text("TRACE");
    }

    AppWindow* window = nullptr;
    GameScene* scene = nullptr;
    HotSpot* door = nullptr;
    HotSpot* shelf = nullptr;
};

TEST_F(EngineInputTest, AClickOnOneHotspotRunsItsHandlersAndTheGameClick) {
    // (562, 437) on a 1280 x 960 screen is (449, 349) on the virtual one:
    // 49, 49 inside the door.
    MoveTo(562, 437);
    EXPECT_EQ(engine.hoveredHotspot, door);
    EXPECT_EQ(Trace(), "door enter");
    Button(SDL_BUTTON_LEFT, true);
    Button(SDL_BUTTON_LEFT, false);
    EXPECT_EQ(Trace(), "game down 449,349,1|door down 49,49,1|door up 49,49,1|click door");
    EXPECT_EQ(engine.pressedHotspot, nullptr);

    // Pressed on the door, released on the shelf: no click.
    Button(SDL_BUTTON_LEFT, true);
    MoveTo(812, 437);
    Button(SDL_BUTTON_LEFT, false);
    EXPECT_EQ(Trace(), "game down 449,349,1|door down 49,49,1|game leave|door leave|shelf enter|shelf up 49,49,1");
    EXPECT_EQ(engine.pressedHotspot, nullptr);

    // The right button calls the handlers but makes no click.
    Button(SDL_BUTTON_RIGHT, true);
    Button(SDL_BUTTON_RIGHT, false);
    EXPECT_EQ(Trace(), "game down 649,349,2|shelf down 49,49,2|shelf up 49,49,2");

    // A right-button press and release while the left is held keeps the
    // left button's click.
    Button(SDL_BUTTON_LEFT, true);
    Button(SDL_BUTTON_RIGHT, true);
    Button(SDL_BUTTON_RIGHT, false);
    EXPECT_EQ(engine.pressedHotspot, shelf);
    Button(SDL_BUTTON_LEFT, false);
    EXPECT_EQ(Trace(),
              "game down 649,349,1|shelf down 49,49,1|game down 649,349,2|shelf down 49,49,2|shelf up 49,49,2|"
              "shelf up 49,49,1|click shelf");
    EXPECT_EQ(engine.pressedHotspot, nullptr);

    // A handler that saves a file reads it back whole: the close does not
    // wait for the handler's call to end.
    Lua("function shelf_MouseUp(x, y, b) local f = fopenWrite('saved.lua') fobjectPrint(f, SHELF) fclose(f) "
        "local g = io.open('saved.lua', 'rb') saved = g:read('*a') g:close() end");
    Button(SDL_BUTTON_LEFT, true);
    Button(SDL_BUTTON_LEFT, false);
    EXPECT_NE(Text("saved").find("shelf"), std::string::npos) << Text("saved");
}

// A failing hotspot handler is logged with its whole call signature.
TEST_F(EngineInputTest, HandlerErrorsNameTheCallSignature) {
    Lua(R"(
        function door_MouseEnter(s) error("enter failed") end
        function door_MouseDown(x, y, b) error("down failed") end
        function door_MouseMove(x, y, b) error("move failed") end
    )");
    HotSpot::RebuildHandlerBitsOfList(scene->hotspots.head, [](HotSpot* h) { return ListNext(h); });
    MoveTo(562, 437);
    Button(SDL_BUTTON_LEFT, true);
    Button(SDL_BUTTON_LEFT, false);
    auto line = [](const char* start) {
        for (const std::string& l : LogLines())
            if (l.rfind(start, 0) == 0) return l;
        return std::string("(none)");
    };
    EXPECT_NE(line("[LUA RT ERROR in door_MouseEnter(%s)] : ").find("enter failed"), std::string::npos);
    EXPECT_NE(line("[LUA RT ERROR in door_MouseDown(%d,%d,%d)] : ").find("down failed"), std::string::npos);
    EXPECT_NE(line("[LUA RT ERROR in door_MouseMove(%d,%d,%d)] : ").find("move failed"), std::string::npos);
}

// The lookup of a hotspot's handler and the pushes of its arguments run
// protected: a finalizer raising at their collection step is logged, and
// the game goes on.
TEST_F(EngineInputTest, AFinalizerRaisingAtAHandlerLookupIsLogged) {
    MoveTo(562, 437);
    MoveTo(100, 100);  // the game's own calls are known now, and push nothing that allocates
    EXPECT_EQ(Trace(), "door enter|game leave|door leave");
    ArmRaisingFinalizers();
    MoveTo(562, 437);
    DisarmFinalizers();
    EXPECT_EQ(engine.hoveredHotspot, door);
    EXPECT_GE(Number("raised"), 1);
    EXPECT_TRUE(script_test::Logged("[LUA RT ERROR in door_MouseEnter(%s)] : armed"));
    EXPECT_EQ(Trace(), "");
    MoveTo(812, 437);
    EXPECT_EQ(Trace(), "game leave|door leave|shelf enter");
}

// The key whose handler opens the console does not type its character
// into the edit line; the keys after it do, and a key that makes no
// character holds nothing back.
TEST_F(EngineInputTest, TheConsoleKeyIsNotTypedIntoTheConsole) {
    Console console;
    Lua("function OnGameKeyDown(k) if k == 192 or k == 112 then ge_toggleconsole() end end");
    UpdateGameHandlerBits();
    // A key as the window sees it: down, its text, up.
    auto key = [&](SDL_Scancode code, SDL_Keycode sym, const char* text) {
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.state = SDL_PRESSED;
        e.key.keysym.scancode = code;
        e.key.keysym.sym = sym;
        SDL_PushEvent(&e);
        if (text) {
            SDL_Event t{};
            t.type = SDL_TEXTINPUT;
            SDL_strlcpy(t.text.text, text, sizeof t.text.text);
            SDL_PushEvent(&t);
        }
        e.type = SDL_KEYUP;
        e.key.state = SDL_RELEASED;
        SDL_PushEvent(&e);
        window->PumpMessages();
    };
    key(SDL_SCANCODE_GRAVE, SDLK_BACKQUOTE, "`");
    ASSERT_TRUE(console.IsVisible());
    key(SDL_SCANCODE_A, SDLK_a, "a");
    EXPECT_STREQ(console.Line(), "a");
    key(SDL_SCANCODE_GRAVE, SDLK_BACKQUOTE, "`");  // closes it again
    EXPECT_FALSE(console.IsVisible());
    console.ClearLine();
    key(SDL_SCANCODE_F1, SDLK_F1, nullptr);  // no character
    ASSERT_TRUE(console.IsVisible());
    key(SDL_SCANCODE_B, SDLK_b, "b");
    EXPECT_STREQ(console.Line(), "b");
}

TEST_F(EngineInputTest, SequencesEditorModeAndVideosHoldInputBack) {
    MoveTo(562, 437);
    Trace();
    // While a statement sequence runs only the game handlers hear clicks
    // and the hover stays as it was.
    engine.sequenceRunning = true;
    Button(SDL_BUTTON_LEFT, true);
    Button(SDL_BUTTON_LEFT, false);
    MoveTo(812, 437);
    EXPECT_EQ(Trace(), "game down 449,349,1");
    EXPECT_EQ(engine.hoveredHotspot, door);
    engine.sequenceRunning = false;

    // Editor mode: nothing without TAB; position mode only ends.
    engine.editorMode = 2;
    engine.positionMode = 1;
    Button(SDL_BUTTON_LEFT, true);
    EXPECT_EQ(engine.positionMode, 0);
    Button(SDL_BUTTON_LEFT, false);
    Button(SDL_BUTTON_LEFT, true);
    Button(SDL_BUTTON_LEFT, false);
    g_keyTable[9] = 1;
    Button(SDL_BUTTON_LEFT, true);
    g_keyTable[9] = 0;
    engine.editorMode = 0;
    EXPECT_EQ(Trace(), "game leave|door leave|shelf enter|game down 649,349,1|shelf down 49,49,1");
}

TEST_F(EngineInputTest, ASkippableVideoTakesTheClickOrKeyAndStops) {
    Lua("function OnGameKeyDown(k) T[#T + 1] = 'key ' .. k end");
    UpdateGameHandlerBits();
    GameVideo* video = Add(engine.videos, "intro");
    engine.currentVideo = video;
    engine.videoNotSkippable = true;
    engine.OnKeyDown(65);
    EXPECT_EQ(engine.videoFade, 0u);
    engine.videoNotSkippable = false;
    Button(SDL_BUTTON_LEFT, true);
    EXPECT_EQ(engine.videoFade, 1u);  // the fade-out has begun
    engine.OnKeyDown(66);
    Button(SDL_BUTTON_LEFT, false);
    // Only the key pressed while the video could not be skipped got through.
    EXPECT_EQ(Trace(), "key 65");
    engine.currentVideo = nullptr;
}

TEST_F(EngineInputTest, PickingFollowsVisibilityPagesGlobalsAndTheEventSwitch) {
    const int x = 450 * 1280 / 1024, y = 350 * 960 / 768;
    EXPECT_EQ(engine.PickHotspot(x, y), door);
    // A hidden parent hides its children from picking.
    HotSpot* frame = Hotspot("frame", 0, 0, 10, 10);
    door->parent = frame;
    door->RelinkToParent();
    frame->visible = false;
    engine.BuildRenderList();
    EXPECT_EQ(engine.PickHotspot(x, y), nullptr);
    frame->visible = true;
    // A child is placed after its parent.
    frame->rect[0] = 100;
    EXPECT_EQ(engine.PickHotspot(x, y), nullptr);
    EXPECT_EQ(engine.PickHotspot(550 * 1280 / 1024, y), door);
    frame->rect[0] = 0;
    // A door on another page than the current one.
    door->parent = nullptr;
    door->RelinkToParent();
    door->page = 2;
    EXPECT_EQ(engine.PickHotspot(x, y), nullptr);
    door->page = 1;
    EXPECT_EQ(engine.PickHotspot(x, y), door);
    // Scene hotspots wait for a page turn.
    engine.pageTurn = 1;
    EXPECT_EQ(engine.PickHotspot(x, y), nullptr);
    engine.pageTurn = 0;
    // Events off: the raw pick stays readable.
    engine.hotspotEventsEnabled = false;
    EXPECT_EQ(engine.PickHotspot(x, y), nullptr);
    EXPECT_EQ(engine.rawPickedHotspot, door);
    engine.hotspotEventsEnabled = true;
    // A global hotspot wins over the scene, even with scene input off; it
    // is tested in screen pixels.
    HotSpot* bar = ListAppendNew(engine.globalHotspots);
    bar->name = Intern("bar");
    bar->SetDefaults();
    bar->owner = &engine.globalHotspots;
    bar->rect[0] = x - 5, bar->rect[1] = y - 5, bar->rect[2] = bar->rect[3] = 10;
    engine.sceneInputEnabled = false;
    EXPECT_EQ(engine.PickHotspot(x, y), bar);
    EXPECT_EQ(engine.PickHotspot(x + 20, y), nullptr);
}

HotSpot* g_doomed = nullptr;

TEST_F(EngineInputTest, HandlersThatDeleteHotspotsLeaveNoStalePointers) {
    lua_register(ScriptState(), "delete_doomed", [](lua_State*) -> int {
        CurrentEngine()->DeleteObject(g_doomed);
        return 0;
    });
    Lua(R"(
        function OnGameMouseLeave(h) T[#T + 1] = "game leave" delete_doomed() end
        function shelf_MouseDown(x, y, b) T[#T + 1] = "shelf down" delete_doomed() end
    )");
    MoveTo(562, 437);
    // The leave handler deletes the door: its own leave handler is not
    // called on freed memory.
    g_doomed = door;
    MoveTo(812, 437);
    EXPECT_EQ(Trace(), "door enter|game leave|shelf enter");
    for (EObject** p = engine.renderList; *p; ++p) EXPECT_NE(*p, static_cast<EObject*>(door));
    // The press deletes the shelf: no up handler, no click.
    g_doomed = shelf;
    Button(SDL_BUTTON_LEFT, true);
    EXPECT_EQ(engine.pressedHotspot, nullptr);
    EXPECT_EQ(engine.hoveredHotspot, nullptr);
    Button(SDL_BUTTON_LEFT, false);
    EXPECT_EQ(Trace(), "game down 649,349,1|shelf down");
    EXPECT_EQ(scene->hotspots.head, nullptr);
    g_doomed = nullptr;
}

// Handlers that remove the hotspot the hover holds and make another, which
// the pool may place where the removed one was: the engine finds a held
// hotspot by its handle, never by its address, and what the handlers free
// waits until the hover is done.
TEST_F(EngineInputTest, TheHoverFindsItsHotspotsByHandleNotByAddress) {
    // make(name): a hotspot far from the pointer, listening to every event.
    PushScriptFunction(ScriptState(), [](lua_State* L) -> int {
        EngineInputTest* t = g_input_test;
        HotSpot* h = t->Hotspot(lua_tostring(L, 1), 1000, 700, 10, 10);
        h->event_flags |= kHotspotHandlerMask;
        lua_pushlightuserdata(L, h->Handle());
        return 1;
    });
    lua_setglobal(ScriptState(), "make");
    g_input_test = this;
    Lua(R"(
        function zed_MouseLeave(s) T[#T + 1] = "zed leave" end
        function zed_MouseEnter(s) T[#T + 1] = "zed enter" end
        function shelf_MouseMove()
          if not DOOR then return end
          hs_remove(DOOR)
          if hs_getsize(DOOR) ~= 0 then T[#T + 1] = "door still found" end
          DOOR = nil
          ZED = make("zed")
        end
        function OnGameMouseLeave(h) T[#T + 1] = h == ZED and "game leave zed" or "game leave" end
    )");
    HotSpot::RebuildHandlerBitsOfList(scene->hotspots.head, [](HotSpot* h) { return ListNext(h); });
    MoveTo(562, 437);
    EXPECT_EQ(Trace(), "door enter");
    // The shelf's move handler removes the door (its handle is stale at
    // once) and makes a hotspot: the door's leave names the door, not the
    // new one, and its own leave handler is not called.
    MoveTo(812, 437);
    EXPECT_EQ(Trace(), "game leave|shelf enter");
    // The game's leave handler removes the shelf and makes another: its
    // leave handler is not called in the shelf's place.
    Lua("function OnGameMouseLeave(h) T[#T + 1] = 'game leave' hs_remove(h) make('zed') end");
    MoveTo(100, 100);
    EXPECT_EQ(Trace(), "game leave");
    g_input_test = nullptr;
}

TEST_F(EngineInputTest, HandlerNamesAreTakenAsTheyStand) {
    HotSpot* odd = Hotspot("a%d(b", 0, 0, 50, 50);
    engine.BuildRenderList();
    Lua(R"(_G["a%d(b_MouseDown"] = function(x, y, b) T[#T + 1] = "odd " .. x .. "," .. y end)");
    Lua(R"(_G["a%d(b_MouseClick"] = 1)");
    HotSpot::RebuildHandlerBitsOfList(scene->hotspots.head, [](HotSpot* h) { return ListNext(h); });
    MoveTo(25, 25);
    Trace();
    Button(SDL_BUTTON_LEFT, true);
    EXPECT_EQ(Trace(), "game down 20,20,1|odd 20,20");
    odd->ClearEventHandlers();
    Lua(R"(assert(_G["a%d(b_MouseDown"] == nil and _G["a%d(b_MouseClick"] == nil))");
    EXPECT_EQ(odd->event_flags & kHotspotHandlerMask, 0u);
}

TEST_F(EngineInputTest, MousePositionIsVirtualAndCappedInPageScenes) {
    int32_t x, y;
    MoveTo(1280, 960);
    engine.GetMousePos(&x, &y);
    EXPECT_EQ(x, 1024);
    EXPECT_EQ(y, 768);
    scene->viewtype = kViewCube;
    engine.GetMousePos(&x, &y);
    EXPECT_EQ(x, 1280);
    // No display yet: sizes of 0 never divide.
    engine.screenRect.Set(0, 0, 0, 0);
    scene->viewtype = kViewPage;
    engine.GetMousePos(&x, &y);
    int32_t a = 7, b = 9;
    engine.VirtualToScreen(&a, &b);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(door->HitTest(450, 350), door);
}

}  // namespace

