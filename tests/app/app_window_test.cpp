#include "app/app_window.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "render/d3d_render_device.h"
#include "render/display_mode.h"
#include "scene/hotspot_map.h"

namespace {

int64_t g_now = 0;
int64_t g_step = 0;

// A counter the test moves: each read advances it by g_step.
int64_t FakeCounter() {
    const int64_t t = g_now;
    g_now += g_step;
    return t;
}

std::vector<std::string> g_events;

void OnKeyDown(int k) {
    g_events.push_back("keydown " + std::to_string(k));
}
void OnChar(int c) {
    g_events.push_back("char " + std::to_string(c));
}
void OnMouseDown(int x, int y, int b) {
    g_events.push_back("down " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(b));
}
void OnMouseUp(int, int, int b) {
    g_events.push_back("up " + std::to_string(b));
}
void OnMouseMove(int x, int y, int) {
    g_events.push_back("move " + std::to_string(x) + "," + std::to_string(y));
}
void OnWheel(int d) {
    g_events.push_back("wheel " + std::to_string(d));
}

}  // namespace

TEST(AppWindowTiming, LimiterAt25FramesPerSecond) {
    AppWindow w;
    g_now = 1000;
    g_step = 997;
    w.SetCounter(FakeCounter, 3579545);
    w.SetFrameLimit(25);
    EXPECT_EQ(w.frameLimitTicks, 143181);
    for (uint32_t frame = 1; frame <= 30; ++frame) {
        w.frameStart = FakeCounter();  // as BeginFrame, without the mouse
        EXPECT_EQ(w.EndFrame(), 0);
        EXPECT_GE(w.frameEnd - w.frameStart, 143181);
        EXPECT_LT(w.frameEnd - w.frameStart, 143181 + 997);
        EXPECT_EQ(w.framesPerSecond, 25u);
        EXPECT_FLOAT_EQ(w.frameTime, 40);
        EXPECT_FLOAT_EQ(w.GetFrameTime(), 40);
        EXPECT_EQ(w.GetFrameCount(), frame);  // not reset while the limit holds
    }
    // Off again: frames per second come from counting.
    w.SetFrameLimit(0);
    EXPECT_EQ(w.frameLimitTicks, 0);
    w.SetFrameLimit(-5);
    EXPECT_EQ(w.frameLimitTicks, 0);
    // However slow a rate is asked for (a movie's header claiming a frame a
    // minute, or one in 1,000 s), no frame is held past the longest period.
    const int64_t longest = 3579545LL * AppWindow::kLongestFrameMs / 1000;
    for (float fps : {0.5f, 1.0f / 60.0f, 1.0f / 1000.0f, 1e-30f}) {
        w.SetFrameLimit(fps);
        EXPECT_EQ(w.frameLimitTicks, longest) << fps;
        w.frameStart = FakeCounter();
        w.EndFrame();
        EXPECT_LT(w.frameEnd - w.frameStart, longest + 997) << fps;
        EXPECT_NEAR(w.frameTime, AppWindow::kLongestFrameMs, 1) << fps;
    }
}

TEST(AppWindowTiming, FramesPerSecondRefreshAfterOneSecond) {
    AppWindow w;
    g_now = 0;
    g_step = 0;
    w.SetCounter(FakeCounter, 1000);  // one tick a millisecond
    for (int i = 0; i < 9; ++i) {
        w.frameStart = g_now;
        g_now += 100;
        w.EndFrame();
        EXPECT_FLOAT_EQ(w.GetRawFrameTime(), 100);
        EXPECT_FLOAT_EQ(w.GetFrameTime(), 100);  // no limiter: the raw time
    }
    EXPECT_EQ(w.GetFrameCount(), 9u);
    EXPECT_EQ(w.framesPerSecond, 0u);
    w.frameStart = g_now;
    g_now += 100;
    w.EndFrame();
    EXPECT_EQ(w.framesPerSecond, 10u);
    EXPECT_EQ(w.GetFrameCount(), 0u);
    EXPECT_EQ(w.accumulatedTime, 0);
}

TEST(AppWindowTiming, MillisecondsWithoutOverflowAndNamedTimers) {
    AppWindow w;
    g_step = 0;
    w.SetCounter(FakeCounter, 1000000000);
    // 146 years of nanoseconds: times 1000 would overflow 64 bits.
    w.frameStart = int64_t{1} << 62;
    EXPECT_EQ(w.GetTimeMs(), static_cast<int64_t>((static_cast<__int128>(1) << 62) * 1000 / 1000000000));
    g_now = 5'000'000'000;
    w.StartTimer(31);
    g_now += 250'000'000;
    EXPECT_EQ(w.GetTimerMs(31), 250.0);
    w.StartTimer(32);  // out of range: ignored
    w.StartTimer(-1);
    EXPECT_EQ(w.GetTimerMs(32), 0.0);
    // The real clock.
    AppWindow real;
    EXPECT_GT(real.counterFrequency, 0);
    EXPECT_GE(real.GetTimerMs(0), 0.0);
}

class AppWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_events.clear();
        g_requestedDisplayMode = {640, 480, false, "QUILD test"};
        g_mouseSensitivity = 0;
        g_inputCallbacks = InputCallbacks{};
        g_inputCallbacks.keyDown = OnKeyDown;
        g_inputCallbacks.character = OnChar;
        g_inputCallbacks.mouseDown = OnMouseDown;
        g_inputCallbacks.mouseUp = OnMouseUp;
        g_inputCallbacks.mouseMove = OnMouseMove;
        g_inputCallbacks.wheel = OnWheel;
        window = new AppWindow;
        ASSERT_TRUE(window->Create());
        window->PumpMessages();
        window->PollMouse();
        g_events.clear();
    }
    void TearDown() override {
        delete window;
        g_inputCallbacks = InputCallbacks{};
        g_requestedDisplayMode = {};
    }

    static void PushMotion(int dx, int dy) {
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        e.motion.xrel = dx;
        e.motion.yrel = dy;
        SDL_PushEvent(&e);
    }
    static void PushButton(uint8_t button, bool down) {
        SDL_Event e{};
        e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        e.button.button = button;
        SDL_PushEvent(&e);
    }
    static void PushKey(SDL_Scancode sc, SDL_Keycode sym) {
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.keysym.scancode = sc;
        e.key.keysym.sym = sym;
        SDL_PushEvent(&e);
        e.type = SDL_KEYUP;
        SDL_PushEvent(&e);
    }
    static void PushFocus(bool gained) {
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.event = gained ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST;
        SDL_PushEvent(&e);
    }

    AppWindow* window = nullptr;
};

TEST_F(AppWindowTest, CreatesCentredMouseAndStartsActive) {
    EXPECT_EQ(g_appWindow, window);
    EXPECT_NE(g_windowHandle, nullptr);
    EXPECT_NE(window->mouse, nullptr);
    EXPECT_EQ(g_mouseX, 320);
    EXPECT_EQ(g_mouseY, 240);
    EXPECT_EQ(g_mouseSensitivity, 1.0f);
    EXPECT_TRUE(g_appActive);
    PushFocus(false);
    EXPECT_TRUE(window->PumpMessages());
    EXPECT_FALSE(g_appActive);
    PushFocus(true);
    window->PumpMessages();
    EXPECT_TRUE(g_appActive);
}

TEST_F(AppWindowTest, PointerClampsAtBothEnds) {
    PushMotion(1000, 10);
    window->PollMouse();
    EXPECT_EQ(g_mouseX, 640);
    EXPECT_EQ(g_mouseY, 250);
    PushMotion(-5000, -5000);
    window->PollMouse();
    EXPECT_EQ(g_mouseX, 0);
    EXPECT_EQ(g_mouseY, 0);
    EXPECT_EQ(g_events, (std::vector<std::string>{"move 640,250", "move 0,0"}));
    // Sensitivity scales the movement.
    g_mouseSensitivity = 2;
    PushMotion(10, 20);
    window->PollMouse();
    EXPECT_EQ(g_mouseX, 20);
    EXPECT_EQ(g_mouseY, 40);
}

TEST_F(AppWindowTest, WheelThenMoveThenButtonsInBitOrder) {
    PushButton(SDL_BUTTON_RIGHT, true);
    PushButton(SDL_BUTTON_LEFT, true);
    PushMotion(3, 4);
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.y = 1;
    SDL_PushEvent(&e);
    window->BeginFrame();
    EXPECT_EQ(g_events,
              (std::vector<std::string>{"wheel 120", "move 323,244", "down 323,244 1", "down 323,244 2"}));
    EXPECT_EQ(g_mouseButtons, 3u);
    g_events.clear();
    PushButton(SDL_BUTTON_LEFT, false);
    PushButton(SDL_BUTTON_RIGHT, false);
    window->PollMouse();
    EXPECT_EQ(g_events, (std::vector<std::string>{"up 1", "up 2"}));
    EXPECT_EQ(g_mouseButtons, 0u);
}

TEST_F(AppWindowTest, QuickClicksBetweenPollsReachTheGame) {
    // Five clicks, each pressed and released between two polls (a tap, or a
    // click shorter than a frame): each gives a down, then an up one poll
    // later.
    for (int i = 0; i < 5; ++i) {
        PushButton(SDL_BUTTON_LEFT, true);
        PushButton(SDL_BUTTON_LEFT, false);
        window->PollMouse();
        window->PollMouse();
    }
    ASSERT_EQ(g_events.size(), 10u);
    for (int i = 0; i < 10; i += 2) {
        EXPECT_EQ(g_events[i], "down 320,240 1");
        EXPECT_EQ(g_events[i + 1], "up 1");
    }
}

TEST_F(AppWindowTest, LostMouseRecentresWithoutCallbacks) {
    PushMotion(100, 100);
    PushButton(SDL_BUTTON_LEFT, true);
    window->PollMouse();
    EXPECT_EQ(g_mouseButtons, 1u);
    g_events.clear();
    PushFocus(false);
    window->PollMouse();
    EXPECT_EQ(g_mouseX, 320);
    EXPECT_EQ(g_mouseY, 240);
    EXPECT_EQ(g_mouseButtons, 0u);
    EXPECT_TRUE(g_events.empty());
    // Back in front, the window procedure acquires it again.
    PushFocus(true);
    window->PumpMessages();
    PushMotion(1, 0);
    window->PollMouse();
    EXPECT_EQ(g_mouseX, 321);
}

TEST_F(AppWindowTest, KeysAndCharactersReachTheCallbacks) {
    PushKey(SDL_SCANCODE_TAB, SDLK_TAB);
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.scancode = SDL_SCANCODE_TAB;
    e.key.keysym.sym = SDLK_TAB;
    SDL_PushEvent(&e);
    EXPECT_TRUE(window->PumpMessages());
    EXPECT_EQ(g_keyTable[9], 1);
    g_events.clear();
    PushKey(SDL_SCANCODE_RETURN, SDLK_RETURN);
    PushKey(SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE);
    PushKey(SDL_SCANCODE_ESCAPE, SDLK_ESCAPE);
    e = {};
    e.type = SDL_TEXTINPUT;
    SDL_strlcpy(e.text.text, "\xC3\xA9", sizeof(e.text.text));  // e-acute
    SDL_PushEvent(&e);
    window->PumpMessages();
    EXPECT_EQ(g_events, (std::vector<std::string>{"keydown 13", "char 13", "keydown 8", "char 8",
                                                  "keydown 27", "char 27", "char 233"}));
    // TAB is still down; its window going releases it.
    EXPECT_EQ(g_keyTable[9], 1);
    window->Destroy();
    EXPECT_EQ(g_keyTable[9], 0);
}

TEST_F(AppWindowTest, QuitEndsThePumpAndDestroyRunsTwice) {
    SDL_Event e{};
    e.type = SDL_QUIT;
    SDL_PushEvent(&e);
    EXPECT_FALSE(window->PumpMessages());
    EXPECT_NE(g_windowHandle, nullptr);  // the window stays until shut-down
    EXPECT_TRUE(window->Reset());
    // The editor's hotspot-map preview goes with the device (it leaked,
    // and pointed into the old device, when a display reset failed).
    ASSERT_TRUE(PrepareHotspotMap());
    ASSERT_TRUE(RebuildHotspotPreview());
    EXPECT_TRUE(window->Destroy());
    EXPECT_EQ(HotspotPreviewTexture(), nullptr);
    FreeHotspotMap();
    EXPECT_EQ(g_windowHandle, nullptr);
    EXPECT_EQ(window->mouse, nullptr);
    EXPECT_FALSE(window->Destroy());
    window->PollMouse();  // no mouse: logged, nothing else
}

TEST(AppWindowDevice, ADeviceMadeForTheModeListIsCreatedWithTheWindow) {
    g_requestedDisplayMode = {320, 240, false, "QUILD test"};
    {
        AppWindow w;
        // Asking for the display modes before any window makes the device.
        EXPECT_GT(GetDisplayModeCount(), 0);
        auto* device = static_cast<D3DRenderDevice*>(g_renderDevice);
        ASSERT_NE(device, nullptr);
        ASSERT_TRUE(w.Create());
        EXPECT_EQ(g_renderDevice, device);
        EXPECT_EQ(device->window, plat::NativeWindowHandle(g_windowHandle));
        EXPECT_EQ(device->width, 320);
        TextureRecord* target = device->CreateTexture(32, 32, 9, nullptr, 0);
        EXPECT_NE(target, nullptr);
        device->ReleaseTexture(target);

        // A second creation (after a half-finished display initialisation)
        // starts over with one window and a working device.
        g_requestedDisplayMode.width = 400;
        ASSERT_TRUE(w.Create());
        ASSERT_NE(g_renderDevice, nullptr);
        EXPECT_EQ(static_cast<D3DRenderDevice*>(g_renderDevice)->width, 400);
        target = g_renderDevice->CreateTexture(32, 32, 9, nullptr, 0);
        EXPECT_NE(target, nullptr);
        g_renderDevice->ReleaseTexture(target);
    }
    EXPECT_EQ(g_renderDevice, nullptr);
    EXPECT_EQ(g_windowHandle, nullptr);
    g_requestedDisplayMode = {};
}

TEST(AppWindowDevice, ADeviceSomeoneElseMadeStaysTheirs) {
    // A device made and opened off screen by its owner (a tool, a
    // benchmark) and set as the render device.
    auto* mine = new D3DRenderDevice();
    mine->width = 64;
    mine->height = 64;
    ASSERT_EQ(mine->Create(false), 0);
    g_renderDevice = mine;
    g_requestedDisplayMode = {320, 240, false, "QUILD test"};
    {
        AppWindow w;
        ASSERT_TRUE(w.Create());
        ASSERT_NE(g_renderDevice, nullptr);
        EXPECT_NE(g_renderDevice, mine);  // the window's own, on the window
        EXPECT_EQ(static_cast<D3DRenderDevice*>(g_renderDevice)->width, 320);
        w.Destroy();
        // Put back, and not deleted: it still makes textures.
        ASSERT_EQ(g_renderDevice, mine);
        EXPECT_EQ(g_d3dRenderDevice, mine);
        mine->GetDevice()->MakeCurrent();
        TextureRecord* t = mine->CreateTexture(16, 16, 9, nullptr, 0);
        EXPECT_NE(t, nullptr);
        mine->ReleaseTexture(t);
        // A second window and its destruction leave it alone as well.
        ASSERT_TRUE(w.Create());
    }
    EXPECT_EQ(g_renderDevice, mine);
    EXPECT_EQ(mine->width, 64);
    g_renderDevice = nullptr;
    delete mine;
    g_requestedDisplayMode = {};
}

TEST(AppWindowDevice, TheDesktopSeesTheWindowClass) {
    // SDL's X11 driver names the window's class from this when video starts.
    const char* cls = std::getenv("SDL_VIDEO_X11_WMCLASS");
    ASSERT_NE(cls, nullptr);
    EXPECT_STREQ(cls, "QUILD App");
}
