#include "app/frame_pacer.h"

#include "app/app_window.h"
#include "base/log.h"

void FramePacer::AfterPresent(AppWindow& window, float refresh_hz) {
    if (window.frameLimitTicks != 0 || !(refresh_hz > 0) || window.counterFrequency <= 0) {
        count_ = 0;
        return;
    }
    const int64_t now = window.frameEnd;
    if (count_++ == 0) {
        first_ = now;
        return;
    }
    if (count_ <= kSampleFrames) return;
    // kSampleFrames periods measured. Vertical sync holds each near the
    // nominal one; well under it means presents do not wait.
    const double nominal = static_cast<double>(window.counterFrequency) / refresh_hz * kSampleFrames;
    const bool unpaced = static_cast<double>(now - first_) < 0.75 * nominal;
    count_ = 0;
    if (!unpaced) return;
    window.SetFrameLimit(refresh_hz);
    if (warned_) return;
    warned_ = true;
    LogPrintf("[WARNING] : no vertical sync; frames held to %d a second", static_cast<int>(refresh_hz + 0.5f));
}
