#pragma once
// The display mode the scripts asked for: written by the display binding,
// read by the window object when it creates or resets the window and by
// the camera for a full-window orthographic view.
#include <cstdint>
#include <string>

struct RequestedDisplayMode {
    int32_t width = 0;
    int32_t height = 0;
    bool fullScreen = false;
    std::string title;
    int32_t bitsPerPixel = 32;
    int32_t multisample = 0;
    int32_t refreshRate = 0;  // 0: the device fills it in
};

extern RequestedDisplayMode g_requestedDisplayMode;
