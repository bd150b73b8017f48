#pragma once
// The window object: the application window and its message pump, the
// mouse polled once per frame, the keyboard through window messages, the
// input callbacks that carry both to the engine, and the frame timing (a
// high-resolution frame clock, a frame limiter, frames per
// second and 32 named timers).
#include <cstdint>

#include "platform/input.h"
#include "platform/window.h"

// The engine's input handlers, in this order; each may be null.
struct InputCallbacks {
    void (*keyDown)(int key) = nullptr;
    void (*keyUp)(int key) = nullptr;
    void (*character)(int code) = nullptr;
    void (*mouseDown)(int x, int y, int button) = nullptr;
    void (*mouseUp)(int x, int y, int button) = nullptr;
    void (*mouseMove)(int x, int y, int buttons) = nullptr;
    void (*unused)() = nullptr;
    void (*wheel)(int delta) = nullptr;
};

class AppWindow {
public:
    static constexpr int kTimerCount = 32;
    // The longest a frame limit holds a frame, whatever rate is asked for
    // (a movie's header may claim a frame a minute): the loop goes on
    // answering the window and close requests.
    static constexpr int kLongestFrameMs = 250;
    using Counter = int64_t (*)();

    // Stores itself in g_appWindow. No window exists until Create.
    AppWindow();
    ~AppWindow();
    AppWindow(const AppWindow&) = delete;
    AppWindow& operator=(const AppWindow&) = delete;

    // Creates and shows the window for the requested display mode, then the
    // mouse. False (after a message box) on failure.
    bool Create();
    // Restyles and recentres the window for the requested mode.
    bool Reset();
    // Releases mouse, input and window; safe to run again. True when a
    // window was destroyed.
    bool Destroy();
    int32_t CreateMouse();
    // One mouse read: position, then wheel, move and button callbacks.
    void PollMouse();
    // Dispatches every queued message; false once the quit message came.
    bool PumpMessages();

    // 0 or less turns the limiter off; a rate below 1000 / kLongestFrameMs
    // holds frames kLongestFrameMs.
    void SetFrameLimit(float fps);
    int BeginFrame();
    // Present, count, time and wait for the limiter; the present result.
    int EndFrame();
    int64_t GetTimeMs() const;  // start of the current frame
    uint32_t GetFrameCount() const { return frameCounter; }
    float GetFrameTime() const { return frameTime > 0 ? frameTime : rawFrameTime; }
    float GetRawFrameTime() const { return rawFrameTime; }
    void StartTimer(int index);
    double GetTimerMs(int index) const;
    // Text or null when the device has nothing to say.
    const char* GetDeviceWarnings() const;

    // The clock the frame timing reads: the process's performance counter
    // unless a test puts in its own.
    void SetCounter(Counter counter, int64_t frequency);

    int64_t counterFrequency = 0;
    int64_t frameStart = 0;
    int64_t frameEnd = 0;
    int64_t frameLimitTicks = 0;  // 0: no limit
    int64_t timers[kTimerCount] = {};
    float frameTime = 0;        // the limiter's period, ms
    float rawFrameTime = 0;     // the last frame before the wait, ms
    float accumulatedTime = 0;  // towards the next frames-per-second refresh, ms
    uint32_t frameCounter = 0;
    uint32_t framesPerSecond = 0;
    plat::DirectInput* directInput = nullptr;
    plat::MouseDevice* mouse = nullptr;
    plat::MouseState mouseState;

private:
    void ReleaseMouse();
    int64_t Now() const { return counter_(); }
    Counter counter_;
};

// Display modes of the adapter: the count creates the render device when
// there is none.
int32_t GetDisplayModeCount();
void GetDisplayMode(int32_t index, int32_t* width, int32_t* height, int32_t* refresh);

extern AppWindow* g_appWindow;
extern plat::Window* g_windowHandle;
extern bool g_appActive;         // cleared only by a real focus loss
extern uint8_t g_keyTable[256];  // 1 while the virtual key is down
extern InputCallbacks g_inputCallbacks;
extern float g_mouseX, g_mouseY;  // screen pixels
extern uint32_t g_mouseButtons;   // 1 left, 2 right, 4 middle
extern float g_mouseSensitivity;  // 1.0 used when 0 or less
