#pragma once
// Frame pacing where the display gives none. Frames are meant to come at
// the display's refresh rate (a frame's dt is the nominal period), which
// the swap's vertical sync provides. Where the driver ignores it (virtual
// displays, some compositors, the headless driver) presents return at once;
// the pacer sees frames arriving much faster than the period and turns on
// the window's frame limiter at the refresh rate.
#include <cstdint>

class AppWindow;

class FramePacer {
public:
    // Frames measured before deciding; the first frames after start-up or a
    // display reset run unpaced.
    static constexpr int kSampleFrames = 30;

    // After each presented frame, with the rate the frame's dt assumes.
    // Does nothing while the window has a frame limit of its own.
    void AfterPresent(AppWindow& window, float refresh_hz);

private:
    int count_ = 0;
    int64_t first_ = 0;  // counter at the first frame of the sample
    bool warned_ = false;  // the log says it once, though a video or a reset clears the limit
};
