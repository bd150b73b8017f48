// Surface effects: scrolling with its wrap, the corners on each face, the
// animation frame count, and the editor keys.
#include "scene/surface_effect.h"

#include <cmath>

#include "app/app_window.h"
#include "media/recording_device.h"
#include "scene/patch.h"
#include "scene/scene_fixture.h"

using namespace scene_test;

namespace {

class SurfaceTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        s = Scene("lake");
        s->viewtype = kViewCube;
        engine.currentScene = s;
        fx = Add(s->surfaces, "water");
        fx->face = 5;
        fx->width = 100;
        fx->height = 50;
        fx->distance = 300;
        fx->tiling1 = 2;
    }
    GameScene* s = nullptr;
    SurfaceEffect* fx = nullptr;
};

TEST_F(SurfaceTest, ScrollWrapsInsideTheTilingAndStopsAtSpeedZero) {
    fx->scroll_speed = 1.5f;
    fx->scroll_direction = 180;
    float c[4][5];
    for (int i = 0; i < 600; ++i) {
        fx->AdvanceScroll(60);
        ASSERT_TRUE(fx->BuildCorners(c));
        EXPECT_GT(c[1][3], -2.0f);
        EXPECT_LT(c[1][3], 2.0f);
        EXPECT_FLOAT_EQ(c[2][3] - c[0][3], 2.0f);  // ub = ua + tiling1
    }
    EXPECT_NEAR(fx->scrollOffset, 15.0f, 0.01f);  // 10 s at 1.5 per second
    fx->scroll_speed = 0;
    fx->AdvanceScroll(60);
    EXPECT_EQ(fx->scrollOffset, 0.0f);
    // A tiling of 0 gives offsets of 0, not NaN.
    fx->scroll_speed = 1;
    fx->tiling1 = 0;
    fx->AdvanceScroll(60);
    ASSERT_TRUE(fx->BuildCorners(c));
    for (auto& corner : c)
        for (float v : corner) EXPECT_TRUE(std::isfinite(v));
}

TEST_F(SurfaceTest, CornersStandOnTheFaceAtTheDistance) {
    float c[4][5];
    ASSERT_TRUE(fx->BuildCorners(c));
    // Bottom: y = -distance, x spans the width, z the height.
    for (auto& corner : c) {
        EXPECT_FLOAT_EQ(corner[1], -300.0f);
        EXPECT_FLOAT_EQ(std::fabs(corner[0]), 100.0f);
        EXPECT_FLOAT_EQ(std::fabs(corner[2]), 50.0f);
    }
    fx->face = 0;
    ASSERT_TRUE(fx->BuildCorners(c));
    for (auto& corner : c) EXPECT_FLOAT_EQ(corner[2], 300.0f);
    media_test::RecordingDevice device;
    RenderDevice* saved = g_renderDevice;
    g_renderDevice = &device;
    for (int f : {-1, 6, 99}) {
        fx->face = f;
        EXPECT_FALSE(fx->BuildCorners(c)) << f;
        fx->Render();  // not drawn, no fault
    }
    g_renderDevice = saved;
    EXPECT_EQ(device.Joined(), "");
}

TEST_F(SurfaceTest, AnimationCountsRenderedFramesAndSkipsZeroRates) {
    fx->anim_freq = 5;
    fx->anim_count = 3;
    const int expected[] = {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 0};
    for (int i = 0; i < 16; ++i) {
        fx->frameCounter = i;
        EXPECT_EQ(fx->AnimationFrame(), expected[i]) << i;
    }
    fx->anim_freq = 0;
    EXPECT_EQ(fx->AnimationFrame(), -1);
    fx->anim_freq = 5;
    fx->anim_count = 0;
    EXPECT_EQ(fx->AnimationFrame(), -1);
    fx->anim_count = -3;
    EXPECT_EQ(fx->AnimationFrame(), -1);
}

TEST_F(SurfaceTest, EditorKeysMoveAlongTheFaceAxes) {
    fx->face = 1;  // right: horizontal axis z (decreasing), vertical y
    fx->EditorInput(68, 0);  // D
    EXPECT_EQ(fx->position.z, 100.0f);
    fx->EditorInput(87, 0);  // W
    EXPECT_EQ(fx->position.y, 100.0f);
    g_keyTable[160] = 1;
    fx->EditorInput(65, 0);  // A, fine step
    fx->EditorInput(37, 0);  // Left with Shift: roll
    fx->EditorInput(38, 0);  // Up with Shift: nothing
    g_keyTable[160] = 0;
    EXPECT_EQ(fx->position.z, 90.0f);
    EXPECT_EQ(fx->rotation.z, -2.0f);
    EXPECT_EQ(fx->rotation.y, 0.0f);
    fx->EditorInput(39, 0);
    fx->EditorInput(40, 0);
    EXPECT_EQ(fx->rotation.x, 2.0f);
    EXPECT_EQ(fx->rotation.y, 2.0f);
    fx->EditorInput(70, 0);  // F
    fx->EditorInput(86, 0);  // V
    fx->EditorInput(86, 0);
    EXPECT_EQ(fx->distance, 200.0f);
    EXPECT_TRUE(engine.sceneModified);
    fx->EditorInput(36, 0);  // Home
    EXPECT_EQ(fx->position.y, 0.0f);
    EXPECT_EQ(fx->rotation.x, 0.0f);
    EXPECT_EQ(fx->distance, 200.0f);
    engine.sceneModified = false;
    fx->EditorInput(0, 120);  // the wheel is not used
    EXPECT_FALSE(engine.sceneModified);
}

}  // namespace
