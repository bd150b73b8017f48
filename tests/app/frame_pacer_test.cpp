#include "app/frame_pacer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/app_window.h"
#include "base/log.h"

namespace {

int64_t g_clock = 0;
int64_t Clock() { return g_clock; }

int g_sync_warnings = 0;
void CountSyncWarnings(const char* line, unsigned) { g_sync_warnings += std::strstr(line, "no vertical sync") != nullptr; }

// Presents n frames, each `ms` apart on a millisecond counter.
void Frames(FramePacer& pacer, AppWindow& w, int n, int64_t ms, float hz) {
    for (int i = 0; i < n; ++i) {
        g_clock += ms;
        w.frameEnd = g_clock;
        pacer.AfterPresent(w, hz);
    }
}

}  // namespace

TEST(FramePacer, FramesFasterThanTheRefreshTurnTheLimiterOn) {
    AppWindow w;
    w.SetCounter(Clock, 1000);
    FramePacer pacer;
    g_sync_warnings = 0;
    SetLogSink(CountSyncWarnings);
    // Presents that return at once: held to the rate once the sample is in.
    Frames(pacer, w, FramePacer::kSampleFrames, 2, 60);
    EXPECT_EQ(w.frameLimitTicks, 0);
    Frames(pacer, w, 1, 2, 60);
    EXPECT_EQ(w.frameLimitTicks, 1000 / 60);

    // While a limit is set (ours or a video's) nothing changes, and a
    // display reset that clears it starts a new sample.
    w.SetFrameLimit(25);
    Frames(pacer, w, 100, 2, 60);
    EXPECT_EQ(w.frameLimitTicks, 40);
    w.SetFrameLimit(0);
    Frames(pacer, w, FramePacer::kSampleFrames, 2, 100);
    EXPECT_EQ(w.frameLimitTicks, 0);
    Frames(pacer, w, 1, 2, 100);
    EXPECT_EQ(w.frameLimitTicks, 10);
    // The log tells it once, not again after every video.
    SetLogSink(nullptr);
    EXPECT_EQ(g_sync_warnings, 1);
}

TEST(FramePacer, SyncedOrSlowFramesAreLeftAlone) {
    AppWindow w;
    w.SetCounter(Clock, 1000);
    FramePacer pacer;
    Frames(pacer, w, 10 * FramePacer::kSampleFrames, 17, 60);  // vertical sync
    Frames(pacer, w, 10 * FramePacer::kSampleFrames, 13, 60);  // jittery, near the period
    Frames(pacer, w, 3 * FramePacer::kSampleFrames, 50, 60);   // slower than the display
    EXPECT_EQ(w.frameLimitTicks, 0);
    // One long hitch in a sample of fast frames delays the decision by one
    // sample, no more.
    Frames(pacer, w, 1, 2, 60);
    Frames(pacer, w, 1, 1000, 60);
    Frames(pacer, w, FramePacer::kSampleFrames - 1, 2, 60);
    EXPECT_EQ(w.frameLimitTicks, 0);
    Frames(pacer, w, FramePacer::kSampleFrames + 1, 2, 60);
    EXPECT_EQ(w.frameLimitTicks, 1000 / 60);
}
