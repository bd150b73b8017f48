#include "app/app_window.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

#include "base/log.h"
#include "base/text.h"
#include "platform/gpu/d3dx/d3dx_math.h"
#include "platform/system.h"
#include "render/d3d_render_device.h"
#include "render/display_mode.h"
#include "scene/hotspot_map.h"

AppWindow* g_appWindow = nullptr;
plat::Window* g_windowHandle = nullptr;
bool g_appActive = true;
uint8_t g_keyTable[256] = {};
InputCallbacks g_inputCallbacks;
float g_mouseX = 0, g_mouseY = 0;
uint32_t g_mouseButtons = 0;
float g_mouseSensitivity = 0;

namespace {

// ticks * 1000 / frequency without overflowing for long uptimes.
int64_t TicksToMs(int64_t ticks, int64_t frequency) {
    if (frequency <= 0) return 0;
    return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

void Acquire() {
    if (g_appWindow && g_appWindow->mouse) plat::Acquire(g_appWindow->mouse);
}

void Unacquire() {
    if (g_appWindow && g_appWindow->mouse) plat::Unacquire(g_appWindow->mouse);
}

intptr_t WindowProcedure(plat::Window* window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    const InputCallbacks& cb = g_inputCallbacks;
    switch (msg) {
        case plat::WM_ACTIVATE:
            if (!wParam || !g_appWindow || !g_appWindow->mouse) break;
            Acquire();
            return 0;
        case plat::WM_CLOSE:
            // A close request ends the game; the window stays until shut-down.
            plat::PostQuitMessage(0);
            return 0;
        case plat::WM_ACTIVATEAPP:
            g_appActive = wParam != 0;
            return 0;
        case plat::WM_KEYDOWN:
            g_keyTable[wParam & 0xFF] = 1;
            if (cb.keyDown) cb.keyDown(static_cast<int>(wParam & 0xFF));
            return 0;
        case plat::WM_KEYUP:
            g_keyTable[wParam & 0xFF] = 0;
            if (cb.keyUp) cb.keyUp(static_cast<int>(wParam & 0xFF));
            return 0;
        case plat::WM_CHAR:
            if (cb.character) cb.character(static_cast<int>(wParam & 0xFF));
            return 0;
        case plat::WM_SYSCOMMAND:
            if (wParam == plat::SC_SCREENSAVE || wParam == plat::SC_MONITORPOWER) return 0;
            break;
        case plat::WM_ENTERMENULOOP:
            Unacquire();
            return 0;
        case plat::WM_EXITMENULOOP:
            Acquire();
            return 0;
        default:
            break;
    }
    return plat::DefWindowProc(window, msg, wParam, lParam);
}

}  // namespace

AppWindow::AppWindow() : counter_(plat::PerfCounter) {
    counterFrequency = plat::PerfFrequency();
    g_appWindow = this;
}

AppWindow::~AppWindow() {
    Destroy();
    if (g_appWindow == this) g_appWindow = nullptr;
}

void AppWindow::SetCounter(Counter counter, int64_t frequency) {
    counter_ = counter ? counter : plat::PerfCounter;
    counterFrequency = counter ? frequency : plat::PerfFrequency();
}

// The render device the window layer made (for its window, or for the
// display-mode list before any window), which it deletes with the window.
// A device someone else made and set as the render device (a tool drawing
// off screen) stays theirs: the window makes its own beside it and puts
// theirs back when it goes.
namespace {
D3DRenderDevice* g_windowDevice = nullptr;
RenderDevice* g_setAsideDevice = nullptr;
D3DRenderDevice* g_setAsideD3dDevice = nullptr;
}  // namespace

// The requested mode becomes the device's settings.
static void CopyModeToDevice(D3DRenderDevice* device) {
    const RequestedDisplayMode& mode = g_requestedDisplayMode;
    device->window = g_windowHandle ? plat::NativeWindowHandle(g_windowHandle) : nullptr;
    device->windowTitle = mode.title.c_str();
    device->fullScreen = mode.fullScreen ? 1 : 0;
    device->width = mode.width;
    device->height = mode.height;
    device->bitsPerPixel = mode.bitsPerPixel;
    device->refreshRate = mode.refreshRate;
    device->requestedMultisample = mode.multisample;
}

bool AppWindow::Create() {
    const RequestedDisplayMode& mode = g_requestedDisplayMode;
    // A window left by an earlier, half-finished display initialisation
    // goes first, with its device: one window and one device at a time.
    if (g_windowHandle) Destroy();
    plat::WindowDesc desc;
    desc.title = mode.title.c_str();
    desc.width = mode.width;
    desc.height = mode.height;
    desc.fullScreen = mode.fullScreen;
    desc.proc = WindowProcedure;
    g_windowHandle = plat::CreateAppWindow(desc);
    if (!g_windowHandle && plat::NoDisplay()) {
        // One plain line, in the log and on stderr, that says what to do;
        // no box, there is nowhere to show one.
        const std::string line = plat::WindowError();
        LogPrintf("%s", line.c_str());
        std::fprintf(stderr, "%s\n", line.c_str());
        Destroy();
        return false;
    }
    if (!g_windowHandle) {
        LogPrintf("[ERROR] - window of %d by %d pixels: %s", mode.width, mode.height, plat::WindowError());
        Destroy();
        plat::MessageBox("ERROR", "Can't Create Window!");
        return false;
    }
    // The device may exist already (asked for its display modes before any
    // window); either way it gets the window and the mode now.
    if (g_renderDevice && g_renderDevice != g_windowDevice) {
        g_setAsideDevice = g_renderDevice;
        g_setAsideD3dDevice = g_d3dRenderDevice;
        g_renderDevice = nullptr;
    }
    if (!g_renderDevice) g_renderDevice = g_windowDevice = new D3DRenderDevice();
    auto* device = static_cast<D3DRenderDevice*>(g_renderDevice);
    CopyModeToDevice(device);
    if (device->Create(false) < 0) {
        std::string text = device->errorText ? device->errorText : "";
        LogPrintf("[ERROR] - render device: %s", text.c_str());
        plat::MessageBox("ERROR", text.c_str());
        Destroy();
        return false;
    }
    CreateMouse();
    if (counter_ == plat::PerfCounter) counterFrequency = plat::PerfFrequency();
    return true;
}

bool AppWindow::Reset() {
    const RequestedDisplayMode& mode = g_requestedDisplayMode;
    auto* device = static_cast<D3DRenderDevice*>(g_renderDevice);
    if (device) CopyModeToDevice(device);
    if (!device || device->Create(true) < 0) {
        Destroy();
        plat::MessageBox("ERROR", "D3D Reset Failed.");
        return false;
    }
    if (!plat::SetWindowMode(g_windowHandle, mode.width, mode.height, mode.fullScreen)) {
        LogPrintf("[ERROR] - window reset to %d by %d pixels: %s", mode.width, mode.height,
                  g_windowHandle ? plat::WindowError() : "no window");
        Destroy();
        plat::MessageBox("ERROR", "D3D Reset Failed.");
        return false;
    }
    return true;
}

bool AppWindow::Destroy() {
    ReleaseMouse();
    if (D3DRenderDevice* own = g_windowDevice) {
        g_windowDevice = nullptr;
        // The editor's hotspot-map preview lives outside the resources: its
        // texture goes with the device (a failed reset ends here too).
        FreeHotspotPreview();
        if (g_renderDevice == own) g_renderDevice = nullptr;
        own->Destroy();
        delete own;
    }
    if (g_setAsideDevice) {
        g_renderDevice = g_setAsideDevice;
        g_d3dRenderDevice = g_setAsideD3dDevice;
        g_setAsideDevice = nullptr;
        g_setAsideD3dDevice = nullptr;
    }
    // No key-up comes from a window that is gone: keys it saw go down
    // would stay down for the next one.
    std::fill(std::begin(g_keyTable), std::end(g_keyTable), uint8_t{0});
    if (!g_windowHandle) return false;
    plat::DestroyAppWindow(g_windowHandle);
    g_windowHandle = nullptr;
    return true;
}

void AppWindow::ReleaseMouse() {
    if (mouse) {
        plat::Unacquire(mouse);
        plat::ReleaseMouseDevice(mouse);
        mouse = nullptr;
    }
    if (directInput) {
        plat::ReleaseDirectInput(directInput);
        directInput = nullptr;
    }
}

int32_t AppWindow::CreateMouse() {
    ReleaseMouse();
    int32_t hr = plat::DirectInputCreate(&directInput);
    if (hr != plat::DI_OK) return hr;
    hr = plat::CreateMouseDevice(directInput, &mouse);
    if (hr != plat::DI_OK) return hr;
    const int32_t level =
        plat::SetCooperativeLevel(mouse, g_windowHandle, plat::DISCL_EXCLUSIVE | plat::DISCL_FOREGROUND);
    mouseState = plat::MouseState{};
    g_mouseX = static_cast<float>(g_requestedDisplayMode.width / 2);
    g_mouseY = static_cast<float>(g_requestedDisplayMode.height / 2);
    g_mouseButtons = 0;
    if (!(g_mouseSensitivity > 0)) g_mouseSensitivity = 1.0f;
    plat::Acquire(mouse);
    return level;
}

void AppWindow::PollMouse() {
    if (!mouse) {
        LogPrintf("Mouse = NULL");
        return;
    }
    const float width = static_cast<float>(g_requestedDisplayMode.width);
    const float height = static_cast<float>(g_requestedDisplayMode.height);
    if (plat::GetDeviceState(mouse, &mouseState) != plat::DI_OK) {
        plat::Unacquire(mouse);
        plat::Acquire(mouse);
        g_mouseX = static_cast<float>(g_requestedDisplayMode.width / 2);
        g_mouseY = static_cast<float>(g_requestedDisplayMode.height / 2);
        g_mouseButtons = 0;
        return;
    }
    const float sense = g_mouseSensitivity > 0 ? g_mouseSensitivity : 1.0f;
    g_mouseX += static_cast<float>(mouseState.x) * sense;
    g_mouseY += static_cast<float>(mouseState.y) * sense;
    const InputCallbacks& cb = g_inputCallbacks;
    if (mouseState.z != 0 && cb.wheel) cb.wheel(mouseState.z);
    // Both ends included; a NaN position (from a NaN sensitivity) goes to 0.
    g_mouseX = g_mouseX >= 0 ? std::min(g_mouseX, width) : 0;
    g_mouseY = g_mouseY >= 0 ? std::min(g_mouseY, height) : 0;
    const int x = SaturateToInt(g_mouseX), y = SaturateToInt(g_mouseY);
    if ((mouseState.x != 0 || mouseState.y != 0) && cb.mouseMove)
        cb.mouseMove(x, y, static_cast<int>(g_mouseButtons));
    for (int i = 0; i < 3; ++i) {
        const uint32_t bit = 1u << i;
        const bool down = mouseState.buttons[i] & 0x80;
        if (down && !(g_mouseButtons & bit)) {
            g_mouseButtons |= bit;
            if (cb.mouseDown) cb.mouseDown(x, y, static_cast<int>(bit));
        } else if (!down && (g_mouseButtons & bit)) {
            g_mouseButtons &= ~bit;
            if (cb.mouseUp) cb.mouseUp(x, y, static_cast<int>(bit));
        }
    }
}

bool AppWindow::PumpMessages() {
    plat::Message msg;
    while (plat::PeekMessage(&msg)) {
        if (msg.message == plat::WM_QUIT) return false;
        plat::DispatchMessage(msg);
    }
    return true;
}

void AppWindow::SetFrameLimit(float fps) {
    const double longest = static_cast<double>(counterFrequency) * kLongestFrameMs / 1000.0;
    frameLimitTicks = fps > 0 ? plat::SaturateToInt64(std::min(static_cast<double>(counterFrequency) / fps, longest)) : 0;
}

int AppWindow::BeginFrame() {
    frameStart = Now();
    PollMouse();
    return 1;
}

int AppWindow::EndFrame() {
    // The device's present reports nothing, so the frame's result is
    // success.
    if (g_renderDevice) g_renderDevice->Present();
    const int presentResult = 0;
    ++frameCounter;
    frameEnd = Now();
    const float freq = static_cast<float>(counterFrequency > 0 ? counterFrequency : 1);
    rawFrameTime = static_cast<float>(frameEnd - frameStart) / freq * 1000.0f;
    if (frameLimitTicks > 0) {
        // Sleeps while more than 2 ms remain, then waits on the counter for
        // the exact end (a test's own counter is only polled).
        const int64_t margin = counterFrequency / 500;
        while (frameEnd - frameStart < frameLimitTicks) {
            if (counter_ == plat::PerfCounter && frameLimitTicks - (frameEnd - frameStart) > margin) plat::SleepMs(1);
            frameEnd = Now();
        }
        framesPerSecond = static_cast<uint32_t>(counterFrequency / frameLimitTicks);
        // Below one frame a second the period itself is the frame time.
        frameTime = framesPerSecond ? 1000.0f / static_cast<float>(framesPerSecond)
                                    : static_cast<float>(frameLimitTicks) / freq * 1000.0f;
        return presentResult;
    }
    frameTime = 0;
    accumulatedTime += rawFrameTime;
    if (accumulatedTime >= 1000.0f) {
        framesPerSecond = frameCounter;
        frameCounter = 0;
        accumulatedTime = 0;
    }
    return presentResult;
}

int64_t AppWindow::GetTimeMs() const {
    return TicksToMs(frameStart, counterFrequency);
}

void AppWindow::StartTimer(int index) {
    if (index >= 0 && index < kTimerCount) timers[index] = Now();
}

double AppWindow::GetTimerMs(int index) const {
    if (index < 0 || index >= kTimerCount) return 0;
    return static_cast<double>(static_cast<int32_t>(TicksToMs(Now() - timers[index], counterFrequency)));
}

const char* AppWindow::GetDeviceWarnings() const {
    auto* device = static_cast<D3DRenderDevice*>(g_renderDevice);
    if (!device || device->GetWarnings().empty()) return nullptr;
    return device->GetWarnings().c_str();
}

int32_t GetDisplayModeCount() {
    if (!g_renderDevice) {
        auto* device = new D3DRenderDevice();
        g_renderDevice = g_windowDevice = device;
        CopyModeToDevice(device);
    }
    return g_renderDevice->GetDisplayModeCount();
}

void GetDisplayMode(int32_t index, int32_t* width, int32_t* height, int32_t* refresh) {
    if (g_renderDevice) {
        g_renderDevice->GetDisplayMode(index, width, height, refresh);
        return;
    }
    if (width) *width = 0;
    if (height) *height = 0;
    if (refresh) *refresh = 0;
}
