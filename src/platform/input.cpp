#include "platform/input.h"

#include <SDL.h>

#include <algorithm>
#include <cstdint>

#include "platform/window.h"

namespace plat {

struct DirectInput {
    int unused = 0;
};

struct MouseDevice {
    Window* window = nullptr;
    uint32_t level = 0;
    bool acquired = false;
    bool lost = false;  // taken away by a focus loss; reported once
    MouseState state;   // x, y, z accumulated since the last read
};

namespace {

MouseDevice* g_mouse = nullptr;
bool g_focused = true;  // headless drivers send no focus events
uint8_t g_buttons[8] = {};
// Presses since the last read: a click that is over before the read still
// reads as down once.
uint8_t g_pressed[8] = {};

void Capture(MouseDevice* m, bool on) {
    if (!(m->level & DISCL_EXCLUSIVE) || !m->window) return;
    if (SDL_WasInit(SDL_INIT_VIDEO))
        SDL_SetRelativeMouseMode(on ? SDL_TRUE : SDL_FALSE);  // may be unsupported
}

}  // namespace

int32_t DirectInputCreate(DirectInput** out) {
    if (!out) return DIERR_INVALIDPARAM;
    *out = new DirectInput;
    return DI_OK;
}

void ReleaseDirectInput(DirectInput* input) {
    delete input;
}

int32_t CreateMouseDevice(DirectInput* input, MouseDevice** out) {
    if (!input || !out || g_mouse) return DIERR_INVALIDPARAM;
    g_mouse = new MouseDevice;
    *out = g_mouse;
    return DI_OK;
}

void ReleaseMouseDevice(MouseDevice* mouse) {
    if (!mouse) return;
    Unacquire(mouse);
    if (g_mouse == mouse) g_mouse = nullptr;
    delete mouse;
}

int32_t SetCooperativeLevel(MouseDevice* mouse, Window* window, uint32_t flags) {
    if (!mouse || !window) return DIERR_INVALIDPARAM;
    mouse->window = window;
    mouse->level = flags;
    return DI_OK;
}

int32_t Acquire(MouseDevice* mouse) {
    if (!mouse) return DIERR_INVALIDPARAM;
    if ((mouse->level & DISCL_FOREGROUND) && !g_focused) return DIERR_INPUTLOST;
    if (!mouse->acquired) {
        mouse->acquired = true;
        mouse->lost = false;
        mouse->state = MouseState{};
        for (uint8_t& b : g_pressed) b = 0;  // presses from before are not reported
        Capture(mouse, true);
    }
    return DI_OK;
}

int32_t Unacquire(MouseDevice* mouse) {
    if (!mouse) return DIERR_INVALIDPARAM;
    if (mouse->acquired) {
        mouse->acquired = false;
        Capture(mouse, false);
    }
    return DI_OK;
}

int32_t GetDeviceState(MouseDevice* mouse, MouseState* out) {
    if (!mouse || !out) return DIERR_INVALIDPARAM;
    PumpEvents();
    if (mouse->lost) {
        mouse->lost = false;
        return DIERR_INPUTLOST;
    }
    if (!mouse->acquired) return DIERR_NOTACQUIRED;
    *out = mouse->state;
    for (int i = 0; i < 8; ++i) {
        out->buttons[i] = g_buttons[i] | g_pressed[i];
        g_pressed[i] = 0;
    }
    mouse->state = MouseState{};
    return DI_OK;
}

namespace {

// Movement between two reads adds up; a pointer warped across the whole
// int range stops the sum at the range's end.
void Accumulate(int32_t& sum, int64_t delta) {
    sum = int32_t(std::clamp<int64_t>(int64_t(sum) + delta, INT32_MIN, INT32_MAX));
}

}  // namespace

void MouseInputMotion(int dx, int dy) {
    if (!g_mouse || !g_mouse->acquired) return;
    Accumulate(g_mouse->state.x, dx);
    Accumulate(g_mouse->state.y, dy);
}

void MouseInputWheel(int delta) {
    if (!g_mouse || !g_mouse->acquired) return;
    Accumulate(g_mouse->state.z, delta);
}

void MouseInputButton(int index, bool down) {
    if (index < 0 || index >= 8) return;
    g_buttons[index] = down ? 0x80 : 0;
    if (down) g_pressed[index] = 0x80;
}

void MouseInputFocus(bool focused) {
    g_focused = focused;
    if (focused || !g_mouse || !g_mouse->acquired || !(g_mouse->level & DISCL_FOREGROUND)) return;
    Unacquire(g_mouse);
    g_mouse->lost = true;
    for (int i = 0; i < 8; ++i) g_buttons[i] = g_pressed[i] = 0;
}

}  // namespace plat
