#include "platform/window.h"

#include "platform/gpu/direct3d.h"
#include "platform/gpu/driver_modules.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "platform/input.h"

namespace plat {

struct Window {
    SDL_Window* sdl = nullptr;
    WindowProc proc = nullptr;
};

namespace {

// The window class the desktop sees ("QUILD App"): SDL's X11 driver reads
// it once, when video starts, so it is set before anything can start it.
// A value the user set stays.
[[maybe_unused]] const bool g_windowClassSet = setenv("SDL_VIDEO_X11_WMCLASS", "QUILD App", 0) == 0;

// A queued message with the key change it stands for (vk 0: none).
struct Queued {
    Message message;
    int vk = 0;
    bool down = false;
};

Window* g_window = nullptr;  // the one application window
std::deque<Queued> g_queue;
bool g_quitPosted = false;

// The window system's connection, for a thread that asks whether events
// wait without taking them: X11's socket; kEventsUnseen where they cannot
// be seen (they may wait), kNoEvents with no window or one off-screen.
constexpr int kNoEvents = -1, kEventsUnseen = -2;
std::atomic<int> g_eventsFd{kNoEvents};

void WatchWindowEvents(SDL_Window* sdl) {
    int fd = kEventsUnseen;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver && (!std::strcmp(driver, "offscreen") || !std::strcmp(driver, "dummy"))) fd = kNoEvents;
#if defined(SDL_VIDEO_DRIVER_X11)
    if (SDL_GetWindowWMInfo(sdl, &info) && info.subsystem == SDL_SYSWM_X11) fd = ConnectionNumber(info.info.x11.display);
#else
    (void)sdl;
#endif
    g_eventsFd.store(fd, std::memory_order_relaxed);
}
int g_quitCode = 0;
// The keys as the events read so far left them (auto-repeat, Ctrl+letter),
// and as the messages taken from the queue so far left them: a handler
// asks for the state at its own message, as GetKeyState answers, not
// after keys that are still queued behind it.
uint8_t g_keys[256] = {};
uint8_t g_messageKeys[256] = {};

void Post(uint32_t message, uintptr_t wParam, intptr_t lParam, int vk = 0, bool down = false) {
    g_queue.push_back(Queued{Message{g_window, message, wParam, lParam}, vk, down});
}

// Keys whose code does not follow from a range: scancode, virtual key.
constexpr struct {
    int scancode, vk;
} kKeyTable[] = {
    {SDL_SCANCODE_0, '0'},
    {SDL_SCANCODE_RETURN, VK_RETURN},
    {SDL_SCANCODE_KP_ENTER, VK_RETURN},
    {SDL_SCANCODE_ESCAPE, VK_ESCAPE},
    {SDL_SCANCODE_BACKSPACE, VK_BACK},
    {SDL_SCANCODE_TAB, VK_TAB},
    {SDL_SCANCODE_SPACE, VK_SPACE},
    {SDL_SCANCODE_MINUS, 0xBD},
    {SDL_SCANCODE_EQUALS, 0xBB},
    {SDL_SCANCODE_LEFTBRACKET, 0xDB},
    {SDL_SCANCODE_RIGHTBRACKET, 0xDD},
    {SDL_SCANCODE_BACKSLASH, 0xDC},
    {SDL_SCANCODE_SEMICOLON, 0xBA},
    {SDL_SCANCODE_APOSTROPHE, 0xDE},
    {SDL_SCANCODE_GRAVE, 0xC0},
    {SDL_SCANCODE_COMMA, 0xBC},
    {SDL_SCANCODE_PERIOD, 0xBE},
    {SDL_SCANCODE_SLASH, 0xBF},
    {SDL_SCANCODE_NONUSBACKSLASH, 0xE2},
    {SDL_SCANCODE_CAPSLOCK, 0x14},
    {SDL_SCANCODE_PRINTSCREEN, 0x2C},
    {SDL_SCANCODE_SCROLLLOCK, 0x91},
    {SDL_SCANCODE_PAUSE, 0x13},
    {SDL_SCANCODE_INSERT, 0x2D},
    {SDL_SCANCODE_HOME, 0x24},
    {SDL_SCANCODE_PAGEUP, 0x21},
    {SDL_SCANCODE_DELETE, 0x2E},
    {SDL_SCANCODE_END, 0x23},
    {SDL_SCANCODE_PAGEDOWN, 0x22},
    {SDL_SCANCODE_RIGHT, 0x27},
    {SDL_SCANCODE_LEFT, 0x25},
    {SDL_SCANCODE_DOWN, 0x28},
    {SDL_SCANCODE_UP, 0x26},
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x90},
    {SDL_SCANCODE_KP_DIVIDE, 0x6F},
    {SDL_SCANCODE_KP_MULTIPLY, 0x6A},
    {SDL_SCANCODE_KP_MINUS, 0x6D},
    {SDL_SCANCODE_KP_PLUS, 0x6B},
    {SDL_SCANCODE_KP_0, 0x60},
    {SDL_SCANCODE_KP_PERIOD, 0x6E},
    {SDL_SCANCODE_APPLICATION, 0x5D},
    {SDL_SCANCODE_LGUI, 0x5B},
    {SDL_SCANCODE_RGUI, 0x5C},
    {SDL_SCANCODE_LSHIFT, VK_LSHIFT},
    {SDL_SCANCODE_RSHIFT, VK_RSHIFT},
    {SDL_SCANCODE_LCTRL, VK_LCONTROL},
    {SDL_SCANCODE_RCTRL, VK_RCONTROL},
    {SDL_SCANCODE_LALT, VK_LMENU},
    {SDL_SCANCODE_RALT, VK_RMENU},
};

// Virtual-key code of a key: letters and digits by what the layout prints,
// everything else by position.
int VirtualKey(const SDL_Keysym& key) {
    if (key.sym >= 'a' && key.sym <= 'z') return key.sym - 'a' + 'A';
    if (key.sym >= '0' && key.sym <= '9') return key.sym;
    const int sc = key.scancode;
    if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return 'A' + (sc - SDL_SCANCODE_A);
    if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return '1' + (sc - SDL_SCANCODE_1);
    if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return 0x70 + (sc - SDL_SCANCODE_F1);
    if (sc >= SDL_SCANCODE_F13 && sc <= SDL_SCANCODE_F24) return 0x7C + (sc - SDL_SCANCODE_F13);
    if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9) return 0x61 + (sc - SDL_SCANCODE_KP_1);
    for (const auto& k : kKeyTable)
        if (k.scancode == sc) return k.vk;
    return 0;
}

// The generic code of a left/right modifier (160..165), else the key.
int GenericKey(int vk) {
    if (vk == VK_LSHIFT || vk == VK_RSHIFT) return VK_SHIFT;
    if (vk == VK_LCONTROL || vk == VK_RCONTROL) return VK_CONTROL;
    if (vk == VK_LMENU || vk == VK_RMENU) return VK_MENU;
    return vk;
}

bool Down(int vk) {
    return g_keys[vk] & 0x80;
}

void SetKey(uint8_t* keys, int vk, bool down) {
    keys[vk] = down ? 0x80 : 0;
    const int generic = GenericKey(vk);
    if (generic == vk) return;
    const int left = VK_LSHIFT + 2 * (generic - VK_SHIFT);  // 160, 162, 164
    keys[generic] = ((keys[left] | keys[left + 1]) & 0x80) ? 0x80 : 0;
}

bool CtrlOnly() {
    return Down(VK_CONTROL) && !Down(VK_MENU);
}

// Characters that produce no text: Backspace, Tab, Enter, Escape and
// Ctrl+letter.
int ControlCharacter(int vk) {
    if (vk == VK_BACK || vk == VK_TAB || vk == VK_RETURN || vk == VK_ESCAPE) return vk;
    if (vk >= 'A' && vk <= 'Z' && CtrlOnly()) return vk - 'A' + 1;
    return -1;
}

void OnKey(const SDL_KeyboardEvent& e) {
    const int vk = VirtualKey(e.keysym);
    if (vk == 0) return;
    const bool down = e.type == SDL_KEYDOWN;
    const bool wasDown = Down(vk);
    SetKey(g_keys, vk, down);
    const intptr_t lParam = (static_cast<intptr_t>(e.keysym.scancode & 0xFF) << 16) | 1 |
                            (down ? (wasDown || e.repeat ? 1 << 30 : 0) : (1 << 30 | 1u << 31));
    Post(down ? WM_KEYDOWN : WM_KEYUP, static_cast<uintptr_t>(GenericKey(vk)), lParam, vk, down);
    if (!down) return;
    const int ch = ControlCharacter(vk);
    if (ch >= 0) Post(WM_CHAR, static_cast<uintptr_t>(ch), lParam);
}

// Windows-1252 byte of a code point; '?' for what it cannot show.
int CodePage1252(uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    static const uint16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                       0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] && kHigh[i] == cp) return 0x80 + i;
    return '?';
}

void OnText(const char* text) {
    if (CtrlOnly()) return;  // Ctrl+letter was sent with its key
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = s + SDL_strlen(text);
    while (s < end) {
        uint32_t cp;
        int len;
        if (*s < 0x80)
            cp = *s, len = 1;
        else if ((*s & 0xE0) == 0xC0)
            cp = *s & 0x1F, len = 2;
        else if ((*s & 0xF0) == 0xE0)
            cp = *s & 0x0F, len = 3;
        else if ((*s & 0xF8) == 0xF0)
            cp = *s & 0x07, len = 4;
        else {
            ++s;  // stray continuation byte
            continue;
        }
        if (end - s < len) break;
        bool ok = true;
        for (int i = 1; i < len; ++i) {
            ok = ok && (s[i] & 0xC0) == 0x80;
            cp = cp << 6 | (s[i] & 0x3F);
        }
        s += ok ? len : 1;
        if (!ok || cp < 0x20 || cp == 0x7F) continue;
        Post(WM_CHAR, static_cast<uintptr_t>(CodePage1252(cp)), 1);
    }
}

int MouseButtonIndex(uint8_t button) {
    switch (button) {
        case SDL_BUTTON_LEFT:
            return 0;
        case SDL_BUTTON_RIGHT:
            return 1;
        case SDL_BUTTON_MIDDLE:
            return 2;
        case SDL_BUTTON_X1:
            return 3;
        case SDL_BUTTON_X2:
            return 4;
        default:
            return -1;
    }
}

void OnFocus(bool gained) {
    MouseInputFocus(gained);
    if (gained) {
        Post(WM_ACTIVATEAPP, 1, 0);
        Post(WM_ACTIVATE, 1, 0);
    } else {
        Post(WM_ACTIVATE, 0, 0);
        Post(WM_ACTIVATEAPP, 0, 0);
    }
}

void Translate(const SDL_Event& e) {
    switch (e.type) {
        case SDL_QUIT:
            if (g_window)
                Post(WM_CLOSE, 0, 0);
            else
                PostQuitMessage(0);
            break;
        case SDL_WINDOWEVENT:
            if (e.window.event == SDL_WINDOWEVENT_CLOSE) Post(WM_CLOSE, 0, 0);
            if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) OnFocus(true);
            if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST) OnFocus(false);
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            OnKey(e.key);
            break;
        case SDL_TEXTINPUT:
            OnText(e.text.text);
            break;
        case SDL_MOUSEMOTION:
            MouseInputMotion(e.motion.xrel, e.motion.yrel);
            break;
        case SDL_MOUSEWHEEL: {
            const int64_t notches = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -int64_t(e.wheel.y) : e.wheel.y;
            MouseInputWheel(int(std::clamp<int64_t>(notches * 120, INT32_MIN, INT32_MAX)));
            break;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            MouseInputButton(MouseButtonIndex(e.button.button), e.type == SDL_MOUSEBUTTONDOWN);
            break;
        default:
            break;
    }
}

// SDL falls back to its off-screen driver when it reaches no display; the
// window would then be invisible and the game would run unseen for ever.
// The off-screen and dummy drivers are used only when SDL_VIDEODRIVER names
// them.
bool VideoDriverWanted() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || (SDL_strcmp(driver, "offscreen") != 0 && SDL_strcmp(driver, "dummy") != 0)) return true;
    const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    return asked && SDL_strstr(asked, driver);
}

bool g_noDisplay = false;

void NoDisplayError() {
    g_noDisplay = true;
    const char* x11 = SDL_getenv("DISPLAY");
    const char* wayland = SDL_getenv("WAYLAND_DISPLAY");
    const char* hint = "SDL_VIDEODRIVER=offscreen runs without a window";
    if ((!x11 || !*x11) && (!wayland || !*wayland))
        SDL_SetError("no display: DISPLAY and WAYLAND_DISPLAY are not set (%s)", hint);
    else
        SDL_SetError("no display: cannot reach DISPLAY=\"%s\" WAYLAND_DISPLAY=\"%s\" (%s)", x11 ? x11 : "",
                     wayland ? wayland : "", hint);
}

}  // namespace

bool NoDisplay() {
    return g_noDisplay;
}

Window* CreateAppWindow(const WindowDesc& desc) {
    g_noDisplay = false;
    if (g_window || desc.width <= 0 || desc.height <= 0) {
        SDL_SetError(g_window ? "a window exists already" : "window size %d by %d pixels", desc.width, desc.height);
        return nullptr;
    }
    // Without WAYLAND_DISPLAY there is no Wayland compositor to find; SDL
    // would probe for one all the same (and libwayland complains on stderr
    // where XDG_RUNTIME_DIR is unset), so the drivers that need none are
    // tried, unless SDL_VIDEODRIVER chose.
    const char* wayland = SDL_getenv("WAYLAND_DISPLAY");
    if ((!wayland || !*wayland) && !SDL_GetHint(SDL_HINT_VIDEODRIVER)) SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,kmsdrm");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        // No driver would start: with the drivers narrowed above that is no
        // display as well.
        if (!SDL_getenv("SDL_VIDEODRIVER")) NoDisplayError();
        return nullptr;
    }
    if (!VideoDriverWanted()) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        NoDisplayError();
        return nullptr;
    }
    gpu::SetGLWindowAttributes();
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN;
    if (desc.fullScreen) flags |= SDL_WINDOW_FULLSCREEN;
    SDL_Window* sdl = SDL_CreateWindow(desc.title ? desc.title : "", SDL_WINDOWPOS_CENTERED,
                                       SDL_WINDOWPOS_CENTERED, desc.width, desc.height, flags);
    if (!sdl) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return nullptr;
    }
    gpu::KeepGLDriverModulesLoaded();
    auto* w = new Window{sdl, desc.proc};
    g_window = w;
    WatchWindowEvents(sdl);
    SDL_RaiseWindow(sdl);
    SDL_StartTextInput();
    return w;
}

void DestroyAppWindow(Window* window) {
    if (!window) return;
    if (g_window == window) g_window = nullptr;
    for (auto it = g_queue.begin(); it != g_queue.end();) {
        if (it->message.window != window) {
            ++it;
            continue;
        }
        if (it->vk) SetKey(g_messageKeys, it->vk, it->down);  // no key stays down for a lost message
        it = g_queue.erase(it);
    }
    g_eventsFd.store(kNoEvents, std::memory_order_relaxed);
    SDL_DestroyWindow(window->sdl);
    delete window;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool SetWindowMode(Window* window, int width, int height, bool fullScreen) {
    if (!window || width <= 0 || height <= 0) {
        SDL_SetError(window ? "window size %d by %d pixels" : "no window", width, height);
        return false;
    }
    if (SDL_SetWindowFullscreen(window->sdl, fullScreen ? SDL_WINDOW_FULLSCREEN : 0) != 0) return false;
    SDL_SetWindowBordered(window->sdl, fullScreen ? SDL_FALSE : SDL_TRUE);
    SDL_SetWindowSize(window->sdl, width, height);
    SDL_SetWindowPosition(window->sdl, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
    SDL_ShowWindow(window->sdl);
    SDL_RaiseWindow(window->sdl);
    return true;
}

void* NativeWindowHandle(Window* window) {
    return window ? window->sdl : nullptr;
}

const char* WindowError() {
    return SDL_GetError();
}

namespace {

// Set by a pump of the system's events, cleared when the message queue runs
// dry: the mouse poll pumps at the start of a frame, and the message pump
// that follows in the same frame then only takes what is queued.
bool g_freshPump = false;

void DrainEvents() {
    SDL_Event batch[16];
    int n;
    while ((n = SDL_PeepEvents(batch, 16, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT)) > 0)
        for (int i = 0; i < n; ++i) Translate(batch[i]);
}

}  // namespace

void PumpEvents() {
    if (!SDL_WasInit(SDL_INIT_EVENTS)) return;
    SDL_PumpEvents();
    DrainEvents();
    g_freshPump = true;
}

bool PeekMessage(Message* out) {
    if (g_queue.empty() && SDL_WasInit(SDL_INIT_EVENTS)) {
        if (!g_freshPump) SDL_PumpEvents();
        DrainEvents();
    }
    if (!g_queue.empty()) {
        const Queued& next = g_queue.front();
        if (next.vk) SetKey(g_messageKeys, next.vk, next.down);
        *out = next.message;
        g_queue.pop_front();
        return true;
    }
    g_freshPump = false;
    if (g_quitPosted) {
        g_quitPosted = false;
        *out = Message{nullptr, WM_QUIT, static_cast<uintptr_t>(g_quitCode), 0};
        return true;
    }
    return false;
}

intptr_t DispatchMessage(const Message& msg) {
    if (!msg.window || !msg.window->proc) return 0;
    return msg.window->proc(msg.window, msg.message, msg.wParam, msg.lParam);
}

bool WindowEventsWaiting() {
    const int fd = g_eventsFd.load(std::memory_order_relaxed);
    if (fd < 0) return fd == kEventsUnseen;
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

bool CloseRequestPending() {
    if (g_quitPosted) return true;
    for (const Queued& q : g_queue)
        if (q.message.message == WM_CLOSE) return true;
    if (!SDL_WasInit(SDL_INIT_EVENTS)) return false;
    SDL_PumpEvents();
    if (SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_QUIT, SDL_QUIT) > 0) return true;
    SDL_Event events[64];
    const int n = SDL_PeepEvents(events, 64, SDL_PEEKEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT);
    for (int i = 0; i < n; ++i)
        if (events[i].window.event == SDL_WINDOWEVENT_CLOSE) return true;
    return false;
}

void PostQuitMessage(int exitCode) {
    g_quitPosted = true;
    g_quitCode = exitCode;
}

intptr_t DefWindowProc(Window*, uint32_t, uintptr_t, intptr_t) {
    return 0;
}

uint8_t GetKeyState(int vk) {
    return vk >= 0 && vk < 256 ? g_messageKeys[vk] : 0;
}

namespace {

constexpr DisplayMode kFallbackModes[] = {{1920, 1080, 60}, {1280, 1024, 60}, {1280, 720, 60},
                                          {1024, 768, 60},  {800, 600, 60},   {640, 480, 60}};

// Runs f with the video subsystem up (it may not be, before any window).
template <typename F>
auto WithVideo(F f) {
    const bool up = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    auto r = f(up);
    if (up) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return r;
}

// The driver's mode count, 0 when it has none worth the name (the headless
// driver reports one of size 0).
int DriverModeCount(bool up) {
    const int n = up ? SDL_GetNumDisplayModes(0) : 0;
    SDL_DisplayMode first;
    if (n <= 0 || SDL_GetDisplayMode(0, 0, &first) != 0 || first.w <= 0 || first.h <= 0) return 0;
    return n;
}

constexpr int kFallbackCount = static_cast<int>(sizeof(kFallbackModes) / sizeof(kFallbackModes[0]));

}  // namespace

int GetDisplayModeCount() {
    return WithVideo([](bool up) {
        const int n = DriverModeCount(up);
        return n > 0 ? n : kFallbackCount;
    });
}

bool GetDisplayMode(int index, DisplayMode* out) {
    if (!out || index < 0) return false;
    return WithVideo([&](bool up) {
        const int n = DriverModeCount(up);
        if (n == 0) {
            if (index >= kFallbackCount) return false;
            *out = kFallbackModes[index];
            return true;
        }
        SDL_DisplayMode mode;
        if (index >= n || SDL_GetDisplayMode(0, index, &mode) != 0) return false;
        *out = DisplayMode{mode.w, mode.h, mode.refresh_rate};
        return true;
    });
}

}  // namespace plat
