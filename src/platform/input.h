#pragma once
// The mouse, shaped like the DirectInput 8 system mouse: relative x and y,
// wheel z (120 per notch) and eight button bytes (0x80 down), accumulated
// between reads from the system events that the window layer pumps.
#include <cstdint>

namespace plat {

struct Window;

constexpr int32_t DI_OK = 0;
constexpr int32_t DIERR_INPUTLOST = static_cast<int32_t>(0x8007001Eu);
constexpr int32_t DIERR_NOTACQUIRED = static_cast<int32_t>(0x8007000Cu);
constexpr int32_t DIERR_INVALIDPARAM = static_cast<int32_t>(0x80070057u);

constexpr uint32_t DISCL_EXCLUSIVE = 0x1;
constexpr uint32_t DISCL_NONEXCLUSIVE = 0x2;
constexpr uint32_t DISCL_FOREGROUND = 0x4;

struct MouseState {
    int32_t x = 0, y = 0, z = 0;
    uint8_t buttons[8] = {};  // left, right, middle, then the extra buttons
};
static_assert(sizeof(MouseState) == 20);

struct DirectInput;
struct MouseDevice;

int32_t DirectInputCreate(DirectInput** out);
void ReleaseDirectInput(DirectInput* input);
// One system mouse at a time.
int32_t CreateMouseDevice(DirectInput* input, MouseDevice** out);
void ReleaseMouseDevice(MouseDevice* mouse);
// Exclusive and foreground: the pointer is captured (relative mode, where
// the driver has it) while acquired, and a focus loss unacquires.
int32_t SetCooperativeLevel(MouseDevice* mouse, Window* window, uint32_t flags);
int32_t Acquire(MouseDevice* mouse);
int32_t Unacquire(MouseDevice* mouse);
// The movement and wheel since the last read and the buttons now; a button
// pressed since the last read reads as down even when it was released
// again before this read (it reads as up in the next).
// DIERR_NOTACQUIRED when not acquired, DIERR_INPUTLOST once after a focus
// loss took the device away.
int32_t GetDeviceState(MouseDevice* mouse, MouseState* out);

// Fed by the window layer's event pump.
void MouseInputMotion(int dx, int dy);
void MouseInputWheel(int delta);  // in 120ths of a notch
void MouseInputButton(int index, bool down);
void MouseInputFocus(bool focused);

}  // namespace plat
