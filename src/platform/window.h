#pragma once
// The application window and its message queue, shaped like the Win32 ones
// the engine was written against: events of the system become Windows
// messages (activation, key down/up with virtual-key codes, characters as
// Windows-1252 bytes, close) that the engine's window procedure handles.
#include <cstdint>

namespace plat {

// Message numbers.
constexpr uint32_t WM_ACTIVATE = 6;  // wParam 1 active, 0 inactive
constexpr uint32_t WM_CLOSE = 16;
constexpr uint32_t WM_QUIT = 18;
constexpr uint32_t WM_ACTIVATEAPP = 28;
constexpr uint32_t WM_KEYDOWN = 256;  // wParam virtual key; lParam bit 30: key was already down
constexpr uint32_t WM_KEYUP = 257;
constexpr uint32_t WM_CHAR = 258;  // wParam Windows-1252 byte
constexpr uint32_t WM_SYSCOMMAND = 274;
constexpr uint32_t WM_ENTERMENULOOP = 529;
constexpr uint32_t WM_EXITMENULOOP = 530;
constexpr uintptr_t SC_SCREENSAVE = 0xF140;
constexpr uintptr_t SC_MONITORPOWER = 0xF170;

// Virtual keys the engine names. Shift, Ctrl and Alt arrive in messages as
// the generic 16, 17, 18; the key state answers those and the left/right
// codes 160 to 165.
constexpr int VK_BACK = 8, VK_TAB = 9, VK_RETURN = 13, VK_SHIFT = 16, VK_CONTROL = 17, VK_MENU = 18,
              VK_ESCAPE = 27, VK_SPACE = 32, VK_LSHIFT = 160, VK_RSHIFT = 161, VK_LCONTROL = 162,
              VK_RCONTROL = 163, VK_LMENU = 164, VK_RMENU = 165;

struct Window;
using WindowProc = intptr_t (*)(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

struct Message {
    Window* window = nullptr;
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

struct WindowDesc {
    const char* title = "";
    int width = 640;  // client area
    int height = 480;
    bool fullScreen = false;
    WindowProc proc = nullptr;
};

// Creates, centres, shows and focuses a window with an OpenGL context
// surface. Null on failure (WindowError says why).
Window* CreateAppWindow(const WindowDesc& desc);
// Null is ignored.
void DestroyAppWindow(Window* window);
// New client size and full-screen state, recentred, shown and focused.
bool SetWindowMode(Window* window, int width, int height, bool fullScreen);
// The system window (an SDL_Window*) for the device layer.
void* NativeWindowHandle(Window* window);
const char* WindowError();
// The last CreateAppWindow failed because no display could be reached (the
// off-screen driver is taken only when SDL_VIDEODRIVER asks for it);
// WindowError then begins with "no display: ".
bool NoDisplay();

// Reads pending system events into the message queue and the mouse
// (Acquire'd mouse devices, see input.h).
void PumpEvents();
// Removes the next message; false when the queue is empty. A posted quit
// comes out as WM_QUIT once the queue has nothing else.
bool PeekMessage(Message* out);
// Hands the message to its window's procedure; returns the result.
intptr_t DispatchMessage(const Message& msg);
void PostQuitMessage(int exitCode);
// True when a close of the window or a quit waits among the pending events;
// nothing is taken from the queues (for code that holds the main thread
// and cannot pump messages).
bool CloseRequestPending();
// True when the window system may have events for the game (safe from any
// thread; nothing is read): with X11, its socket has data.
bool WindowEventsWaiting();
// Default handling: nothing (a close request does not destroy the window).
intptr_t DefWindowProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// 0x80 while the virtual key is down, else 0: as the messages taken from
// the queue so far left it (a handler of a key message sees the keys as
// they were at that key, not after the ones still queued).
uint8_t GetKeyState(int vk);

struct DisplayMode {
    int width = 0, height = 0, refresh = 0;
};
// The primary display's modes, largest first; a fixed list when the driver
// reports none.
int GetDisplayModeCount();
bool GetDisplayMode(int index, DisplayMode* out);

}  // namespace plat
