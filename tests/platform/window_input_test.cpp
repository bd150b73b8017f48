#include <SDL.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/input.h"
#include "platform/window.h"

using namespace plat;

namespace {

std::vector<Message> g_seen;
std::vector<uint8_t> g_shift_seen;  // GetKeyState(VK_SHIFT) at each message

intptr_t RecordingProc(Window* w, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    g_seen.push_back(Message{w, msg, wParam, lParam});
    g_shift_seen.push_back(GetKeyState(VK_SHIFT));
    if (msg == WM_CLOSE) PostQuitMessage(0);
    return 0;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_seen.clear();
        g_shift_seen.clear();
        WindowDesc d;
        d.title = "test";
        d.width = 320;
        d.height = 200;
        d.proc = RecordingProc;
        window = CreateAppWindow(d);
        ASSERT_NE(window, nullptr) << WindowError();
        Drain();
        g_seen.clear();
    }
    void TearDown() override { DestroyAppWindow(window); }

    // Pumps and dispatches everything; true when a quit came out.
    bool Drain() {
        Message m;
        while (PeekMessage(&m)) {
            if (m.message == WM_QUIT) return true;
            DispatchMessage(m);
        }
        return false;
    }

    static void PushKey(SDL_Scancode sc, SDL_Keycode sym, bool down, bool repeat = false) {
        SDL_Event e{};
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.key.repeat = repeat;
        e.key.keysym.scancode = sc;
        e.key.keysym.sym = sym;
        SDL_PushEvent(&e);
    }
    static void PushText(const char* utf8) {
        SDL_Event e{};
        e.type = SDL_TEXTINPUT;
        SDL_strlcpy(e.text.text, utf8, sizeof(e.text.text));
        SDL_PushEvent(&e);
    }
    std::vector<uintptr_t> Seen(uint32_t msg) const {
        std::vector<uintptr_t> v;
        for (const Message& m : g_seen)
            if (m.message == msg) v.push_back(m.wParam);
        return v;
    }

    // The system mouse, exclusive and foreground on the window.
    void OpenMouse(DirectInput** di, MouseDevice** mouse) {
        ASSERT_EQ(DirectInputCreate(di), DI_OK);
        ASSERT_EQ(CreateMouseDevice(*di, mouse), DI_OK);
        ASSERT_EQ(SetCooperativeLevel(*mouse, window, DISCL_EXCLUSIVE | DISCL_FOREGROUND), DI_OK);
    }

    Window* window = nullptr;
};

}  // namespace

TEST_F(WindowTest, HasANativeHandleAndChangesMode) {
    EXPECT_NE(NativeWindowHandle(window), nullptr);
    EXPECT_TRUE(SetWindowMode(window, 400, 300, false));
    int w = 0, h = 0;
    SDL_GetWindowSize(static_cast<SDL_Window*>(NativeWindowHandle(window)), &w, &h);
    EXPECT_EQ(w, 400);
    EXPECT_EQ(h, 300);
    EXPECT_FALSE(SetWindowMode(window, 0, 300, false));
    WindowDesc second;
    EXPECT_EQ(CreateAppWindow(second), nullptr);  // one window at a time
}

TEST_F(WindowTest, KeysBecomeVirtualKeyMessagesAndKeyState) {
    PushKey(SDL_SCANCODE_TAB, SDLK_TAB, true);
    PushKey(SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, true);
    PushKey(SDL_SCANCODE_A, SDLK_a, true);
    PushKey(SDL_SCANCODE_A, SDLK_a, true, true);  // auto-repeat
    Drain();
    EXPECT_EQ(Seen(WM_KEYDOWN), (std::vector<uintptr_t>{9, 16, 'A', 'A'}));
    EXPECT_EQ(GetKeyState(VK_TAB), 0x80);
    EXPECT_EQ(GetKeyState(VK_SHIFT), 0x80);
    EXPECT_EQ(GetKeyState(VK_LSHIFT), 0x80);
    EXPECT_EQ(GetKeyState(VK_RSHIFT), 0);
    EXPECT_EQ(GetKeyState(-1), 0);
    EXPECT_EQ(GetKeyState(256), 0);
    // The repeat says the key was already down.
    std::vector<intptr_t> downs;
    for (const Message& m : g_seen)
        if (m.message == WM_KEYDOWN) downs.push_back(m.lParam);
    ASSERT_EQ(downs.size(), 4u);
    EXPECT_EQ(downs[2] & (1 << 30), 0);
    EXPECT_NE(downs[3] & (1 << 30), 0);

    g_seen.clear();
    PushKey(SDL_SCANCODE_RSHIFT, SDLK_RSHIFT, true);
    PushKey(SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, false);
    Drain();
    EXPECT_EQ(GetKeyState(VK_SHIFT), 0x80);  // right still held
    PushKey(SDL_SCANCODE_RSHIFT, SDLK_RSHIFT, false);
    PushKey(SDL_SCANCODE_TAB, SDLK_TAB, false);
    PushKey(SDL_SCANCODE_A, SDLK_a, false);
    Drain();
    EXPECT_EQ(GetKeyState(VK_SHIFT), 0);
    EXPECT_EQ(GetKeyState(VK_TAB), 0);
    EXPECT_EQ(Seen(WM_KEYUP), (std::vector<uintptr_t>{16, 16, 9, 'A'}));

    // Shift down, a key, Shift up, all read in one pump: the key's handler
    // still sees Shift down (~ typed on the ` key), the state moves on with
    // the messages taken.
    g_seen.clear();
    g_shift_seen.clear();
    PushKey(SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, true);
    PushKey(SDL_SCANCODE_GRAVE, SDLK_BACKQUOTE, true);
    PushKey(SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, false);
    PushKey(SDL_SCANCODE_GRAVE, SDLK_BACKQUOTE, false);
    Drain();
    ASSERT_EQ(g_seen.size(), 4u);
    EXPECT_EQ(g_seen[1].wParam, 0xC0u);
    EXPECT_EQ(g_shift_seen, (std::vector<uint8_t>{0x80, 0x80, 0, 0}));
    EXPECT_EQ(GetKeyState(0xC0), 0);
}

TEST_F(WindowTest, CharactersAsWindows1252) {
    PushKey(SDL_SCANCODE_RETURN, SDLK_RETURN, true);
    PushKey(SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE, true);
    PushKey(SDL_SCANCODE_ESCAPE, SDLK_ESCAPE, true);
    PushKey(SDL_SCANCODE_TAB, SDLK_TAB, true);
    PushText("a\xC3\xA9\xE2\x82\xAC\xE4\xB8\xAD");  // a, e-acute, euro sign, a CJK character
    PushText("\xC3");                               // cut short: dropped
    Drain();
    EXPECT_EQ(Seen(WM_CHAR), (std::vector<uintptr_t>{13, 8, 27, 9, 'a', 0xE9, 0x80, '?'}));

    g_seen.clear();
    PushKey(SDL_SCANCODE_LCTRL, SDLK_LCTRL, true);
    PushKey(SDL_SCANCODE_C, SDLK_c, true);
    PushText("c");  // some drivers also send text: not a second character
    PushKey(SDL_SCANCODE_LCTRL, SDLK_LCTRL, false);
    PushKey(SDL_SCANCODE_C, SDLK_c, false);
    Drain();
    EXPECT_EQ(Seen(WM_CHAR), (std::vector<uintptr_t>{3}));
    EXPECT_EQ(Seen(WM_KEYDOWN), (std::vector<uintptr_t>{17, 'C'}));
}

TEST_F(WindowTest, CloseRequestBecomesQuitAndWindowStays) {
    EXPECT_FALSE(CloseRequestPending());
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    SDL_PushEvent(&e);
    // Seen without being taken: the message loop still gets it.
    EXPECT_TRUE(CloseRequestPending());
    EXPECT_TRUE(CloseRequestPending());
    EXPECT_TRUE(Drain());
    EXPECT_EQ(Seen(WM_CLOSE).size(), 1u);
    g_seen.clear();
    EXPECT_FALSE(CloseRequestPending());
    e.type = SDL_QUIT;
    SDL_PushEvent(&e);
    EXPECT_TRUE(CloseRequestPending());
    EXPECT_TRUE(Drain());
    EXPECT_EQ(Seen(WM_CLOSE).size(), 1u);
    EXPECT_NE(NativeWindowHandle(window), nullptr);
    EXPECT_FALSE(Drain());  // the quit is delivered once
}

TEST_F(WindowTest, FocusMessages) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    SDL_PushEvent(&e);
    e.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
    SDL_PushEvent(&e);
    Drain();
    ASSERT_EQ(g_seen.size(), 4u);
    EXPECT_EQ(g_seen[0].message, WM_ACTIVATE);
    EXPECT_EQ(g_seen[0].wParam, 0u);
    EXPECT_EQ(g_seen[1].message, WM_ACTIVATEAPP);
    EXPECT_EQ(g_seen[1].wParam, 0u);
    EXPECT_EQ(g_seen[2].message, WM_ACTIVATEAPP);
    EXPECT_EQ(g_seen[2].wParam, 1u);
}

TEST_F(WindowTest, MouseAccumulatesBetweenReads) {
    DirectInput* di = nullptr;
    MouseDevice* mouse = nullptr;
    OpenMouse(&di, &mouse);
    ASSERT_NE(mouse, nullptr);
    MouseState s;
    EXPECT_EQ(GetDeviceState(mouse, &s), DIERR_NOTACQUIRED);
    ASSERT_EQ(Acquire(mouse), DI_OK);

    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.xrel = 5;
    e.motion.yrel = -3;
    SDL_PushEvent(&e);
    SDL_PushEvent(&e);
    e = {};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.y = -2;
    SDL_PushEvent(&e);
    e = {};
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.button = SDL_BUTTON_RIGHT;
    SDL_PushEvent(&e);
    ASSERT_EQ(GetDeviceState(mouse, &s), DI_OK);
    EXPECT_EQ(s.x, 10);
    EXPECT_EQ(s.y, -6);
    EXPECT_EQ(s.z, -240);
    EXPECT_EQ(s.buttons[0], 0);
    EXPECT_EQ(s.buttons[1], 0x80);
    // Movement is consumed by the read; buttons stay as they are.
    ASSERT_EQ(GetDeviceState(mouse, &s), DI_OK);
    EXPECT_EQ(s.x, 0);
    EXPECT_EQ(s.z, 0);
    EXPECT_EQ(s.buttons[1], 0x80);
    // A pointer warped across the int range (a script's huge position)
    // moves far: the sums stop at the range's ends.
    e = {};
    e.type = SDL_MOUSEMOTION;
    e.motion.xrel = INT_MAX;
    e.motion.yrel = INT_MIN;
    SDL_PushEvent(&e);
    SDL_PushEvent(&e);
    e = {};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.y = INT_MAX / 60;  // each turn held to the range, and their sum
    SDL_PushEvent(&e);
    SDL_PushEvent(&e);
    ASSERT_EQ(GetDeviceState(mouse, &s), DI_OK);
    EXPECT_EQ(s.x, INT_MAX);
    EXPECT_EQ(s.y, INT_MIN);
    EXPECT_EQ(s.z, INT_MAX);

    // A focus loss takes the device away once; it comes back on Acquire.
    e = {};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    SDL_PushEvent(&e);
    EXPECT_EQ(GetDeviceState(mouse, &s), DIERR_INPUTLOST);
    EXPECT_EQ(GetDeviceState(mouse, &s), DIERR_NOTACQUIRED);
    EXPECT_EQ(Acquire(mouse), DIERR_INPUTLOST);  // still in the background
    e.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
    SDL_PushEvent(&e);
    PumpEvents();
    EXPECT_EQ(Acquire(mouse), DI_OK);
    ASSERT_EQ(GetDeviceState(mouse, &s), DI_OK);
    EXPECT_EQ(s.buttons[1], 0);  // released while away

    ReleaseMouseDevice(mouse);
    ReleaseDirectInput(di);
}

TEST_F(WindowTest, AClickBetweenReadsIsReadDownOnce) {
    DirectInput* di = nullptr;
    MouseDevice* mouse = nullptr;
    OpenMouse(&di, &mouse);
    ASSERT_NE(mouse, nullptr);
    ASSERT_EQ(Acquire(mouse), DI_OK);
    auto push = [](uint8_t button, bool down) {
        SDL_Event e{};
        e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        e.button.button = button;
        SDL_PushEvent(&e);
    };
    MouseState s;
    // Five quick clicks, each over before the read: each reads down, then up.
    for (int i = 0; i < 5; ++i) {
        push(SDL_BUTTON_LEFT, true);
        push(SDL_BUTTON_LEFT, false);
        ASSERT_EQ(GetDeviceState(mouse, &s), DI_OK);
        EXPECT_EQ(s.buttons[0], 0x80) << "click " << i;
        ASSERT_EQ(GetDeviceState(mouse, &s), DI_OK);
        EXPECT_EQ(s.buttons[0], 0) << "click " << i;
    }
    // A held button stays down; a quick middle click beside it is its own.
    push(SDL_BUTTON_RIGHT, true);
    push(SDL_BUTTON_MIDDLE, true);
    push(SDL_BUTTON_MIDDLE, false);
    ASSERT_EQ(GetDeviceState(mouse, &s), DI_OK);
    EXPECT_EQ(s.buttons[1], 0x80);
    EXPECT_EQ(s.buttons[2], 0x80);
    ASSERT_EQ(GetDeviceState(mouse, &s), DI_OK);
    EXPECT_EQ(s.buttons[1], 0x80);
    EXPECT_EQ(s.buttons[2], 0);
    // A press that a focus loss interrupts is not reported afterwards.
    push(SDL_BUTTON_LEFT, true);
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    SDL_PushEvent(&e);
    EXPECT_EQ(GetDeviceState(mouse, &s), DIERR_INPUTLOST);
    e.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
    SDL_PushEvent(&e);
    PumpEvents();
    ASSERT_EQ(Acquire(mouse), DI_OK);
    ASSERT_EQ(GetDeviceState(mouse, &s), DI_OK);
    EXPECT_EQ(s.buttons[0], 0);
    EXPECT_EQ(s.buttons[1], 0);

    ReleaseMouseDevice(mouse);
    ReleaseDirectInput(di);
}

TEST(DisplayModes, ListIsNeverEmpty) {
    const int n = GetDisplayModeCount();
    ASSERT_GT(n, 0);
    DisplayMode m;
    ASSERT_TRUE(GetDisplayMode(0, &m));
    EXPECT_GT(m.width, 0);
    EXPECT_GT(m.height, 0);
    EXPECT_FALSE(GetDisplayMode(n, &m));
    EXPECT_FALSE(GetDisplayMode(-1, &m));
}
