// Patches: the play position and its ends (with the statement queue they
// release), frames of the play position, faces outside the cube, placement
// at the look direction and the arrow-and-wheel editor keys.
#include "scene/patch.h"

#include <cmath>

#include "app/app_window.h"
#include "app/scene_switch.h"
#include "media/resource_manager.h"
#include "media/recording_device.h"
#include "render/geometry.h"
#include "scene/game_fx.h"
#include "scene/scene_fixture.h"
#include "scene/surface_effect.h"

using namespace scene_test;

namespace {

class PatchTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        s = Scene("hall");
        s->viewtype = kViewCube;
        engine.currentScene = s;
        p = Add(s->patches, "door");
        p->numOfFrames = 10;
        p->interval = 100;
    }
    // Runs until the action stops (at most limit steps); the steps taken.
    int RunToEnd(float dt, int limit = 100) {
        int n = 0;
        while (p->ptc_action != kPatchStopped && n < limit) {
            p->AdvanceTime(dt);
            ++n;
        }
        return n;
    }
    GameScene* s = nullptr;
    Patch* p = nullptr;
};

TEST_F(PatchTest, ForwardAndBackwardRunsStopOnTheirLastFrames) {
    p->ptc_action = kPatchForwards;
    RunToEnd(100);
    EXPECT_EQ(p->currentTime, 999.0f);
    EXPECT_EQ(PatchFrameAt(p->currentTime, p->interval), 9);
    EXPECT_FALSE(engine.statementReady);  // action 1 signals nothing
    p->ptc_action = kPatchBackwardsSignal;
    RunToEnd(-100);
    EXPECT_EQ(p->currentTime, 0.0f);
    EXPECT_EQ(PatchFrameAt(p->currentTime, p->interval), 0);
    EXPECT_TRUE(engine.statementReady);
}

TEST_F(PatchTest, EndOfASignallingRunReleasesTheWaitingStatement) {
    Lua("first = 0 second = 0");
    engine.QueueStatements("first = 1;second = 1");
    ASSERT_TRUE(engine.RunQueuedStatement());
    EXPECT_EQ(Number("first"), 1.0);
    // The next statement waits for the patch.
    p->ptc_action = kPatchForwardsSignal;
    int frames = 0;
    while (p->ptc_action != kPatchStopped && frames < 200) {
        engine.RunQueuedStatement();
        EXPECT_EQ(Number("second"), 0.0);
        p->AdvanceTime(1000.0f / 60.0f);
        ++frames;
    }
    EXPECT_EQ(frames, 60);  // 1000 ms of frames at 60 Hz
    engine.RunQueuedStatement();
    EXPECT_EQ(Number("second"), 1.0);
}

TEST_F(PatchTest, LoopingSignalsAtEveryWrapAndKeepsRunning) {
    p->looping = true;
    p->ptc_action = kPatchForwardsSignal;
    p->currentTime = 950;
    p->AdvanceTime(100);
    EXPECT_EQ(p->currentTime, 0.0f);
    EXPECT_EQ(p->ptc_action, kPatchForwardsSignal);
    EXPECT_TRUE(engine.statementReady);
    p->ptc_action = kPatchBackwards;
    p->currentTime = 10;
    p->AdvanceTime(-20);
    EXPECT_EQ(p->currentTime, 999.0f);  // wraps to the end
    EXPECT_EQ(p->ptc_action, kPatchBackwards);
}

TEST_F(PatchTest, NoFramesOrNoIntervalStopAtOnceWithoutAFrame) {
    p->numOfFrames = 0;
    p->ptc_action = kPatchForwardsSignal;
    p->AdvanceTime(16);
    EXPECT_EQ(p->currentTime, -1.0f);
    EXPECT_EQ(p->ptc_action, kPatchStopped);
    p->numOfFrames = 10;
    p->interval = 0;
    p->ptc_action = kPatchForwards;
    p->AdvanceTime(16);
    EXPECT_EQ(p->ptc_action, kPatchStopped);
    EXPECT_EQ(PatchFrameAt(p->currentTime, 0), -1);
    EXPECT_EQ(PatchFrameAt(1e30f, 1e-30f), -1);
    EXPECT_EQ(PatchFrameAt(NAN, 100), -1);
    // Frame selection with either is a no-op, never a division by zero.
    p->format = Intern("anim/door");
    p->UpdateFrameImage();
    EXPECT_EQ(p->frame, nullptr);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(PatchTest, FramesFollowThePositionAndAMissingOneIsLookedForOnce) {
    for (int n = 0; n < 3; ++n) Write(Path("anim/door/" + std::to_string(n) + ".png"), SolidPng(4, 4, 0x102030 * n));
    p->format = Intern("anim/door");
    p->buffered = true;
    p->numOfFrames = 5;  // frames 3 and 4 have no file
    p->currentTime = 150;
    p->UpdateFrameImage();
    ASSERT_TRUE(p->frame);
    EXPECT_STREQ(p->frame->name, "anim/door/1");
    EXPECT_EQ(p->lastFrame, 1);
    p->currentTime = 350;
    for (int i = 0; i < 5; ++i) p->UpdateFrameImage();
    EXPECT_STREQ(p->frame->name, "anim/door/1");  // the last loaded frame stays
    int missing = 0;
    for (const std::string& line : LogLines()) missing += line == "[NOT FOUND] - IMAGE : anim/door/3";
    EXPECT_EQ(missing, 1);
    // Outside the sequence nothing changes either.
    p->currentTime = 5000;
    p->UpdateFrameImage();
    EXPECT_STREQ(p->frame->name, "anim/door/1");
    // A format change lets the record go.
    p->OnChanged(kPatchBitFormat);
    EXPECT_EQ(p->frame, nullptr);
    EXPECT_EQ(p->ShownImage(), nullptr);
}

TEST_F(PatchTest, FacesOutsideTheCubeHaveNoLayout) {
    plat::Vec3 c;
    for (int f : {-1, 6, 1000, INT32_MIN}) {
        EXPECT_EQ(FaceLayoutOf(f), nullptr);
        EXPECT_FALSE(FacePixelToCube(f, 0, 0, 511, &c));
    }
    // No face and no image: nothing drawn, even with a device.
    media_test::RecordingDevice device;
    RenderDevice* saved = g_renderDevice;
    g_renderDevice = &device;
    p->face = 6;
    p->Render();
    g_renderDevice = saved;
    EXPECT_EQ(device.Joined(), "");
}

TEST_F(PatchTest, FacePixelsLieOnTheirFacesAndPointTheRightWay) {
    // The centre pixel of each face looks along its normal.
    const plat::Vec3 normals[6] = {{0, 0, 1}, {1, 0, 0}, {0, 0, -1}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}};
    for (int f = 0; f < 6; ++f) {
        plat::Vec3 c, dir;
        ASSERT_TRUE(FacePixelToCube(f, 511, 511, 511, &c));
        EXPECT_NEAR(c.x, normals[f].x * 511, 1e-3) << f;
        EXPECT_NEAR(c.y, normals[f].y * 511, 1e-3) << f;
        EXPECT_NEAR(c.z, normals[f].z * 511, 1e-3) << f;
        // Pixel (100, 200) agrees with the face conversion of the view.
        ASSERT_TRUE(FacePixelToCube(f, 100, 200, 511, &c));
        FacePixelToDirection(&dir, f, 100, 200, 1024, 1024);
        const float len = std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z);
        EXPECT_NEAR(c.x / len, dir.x, 0.01) << f;
        EXPECT_NEAR(c.y / len, dir.y, 0.01) << f;
        EXPECT_NEAR(c.z / len, dir.z, 0.01) << f;
    }
}

TEST_F(PatchTest, TypeChangePlacesThePatchAtTheLookDirection) {
    g_lookYaw = 90;
    g_lookPitch = 0;
    p->ptc_type = kPatchOnFace;
    p->OnChanged(kPatchBitType);
    EXPECT_EQ(p->face, 1);
    EXPECT_NEAR(p->x, 511, 2);
    EXPECT_NEAR(p->y, 511, 2);
    const float placed = p->x;
    p->ptc_type = kPatchBillboard;
    g_lookYaw = 33;
    // The action rule wins: nothing is placed.
    p->OnChanged(kPatchBitAction | kPatchBitType);
    EXPECT_EQ(p->x, placed);
    p->OnChanged(kPatchBitType);
    EXPECT_EQ(p->x, 33.0f);
    g_lookYaw = 0;
}

TEST_F(PatchTest, ArrowsAndWheelMoveIt) {
    p->x = 10, p->y = 20, p->distance = 500;
    p->EditorInput(37, 0);
    p->EditorInput(40, 0);
    EXPECT_EQ(p->x, 9.0f);
    EXPECT_EQ(p->y, 21.0f);
    EXPECT_TRUE(engine.sceneModified);
    p->EditorInput(0, -120);
    EXPECT_EQ(p->distance, 400.0f);
    g_keyTable[160] = 1;
    p->EditorInput(0, 120);
    g_keyTable[160] = 0;
    EXPECT_EQ(p->distance, 410.0f);
    engine.sceneModified = false;
    p->EditorInput(65, 0);
    EXPECT_FALSE(engine.sceneModified);
}

}  // namespace

namespace {

TEST_F(PatchTest, SceneResourcePassDeclaresFramesOfBufferedSequencesOnly) {
    for (const char* f : {"anim/door/0", "anim/door/1", "anim/lid/0", "fx/lens/0", "fx/lens/1", "anim/wave/0",
                          "anim/wave/1"})
        Write(Path(std::string(f) + ".png"), SolidPng(2, 2, 0x808080));
    p->format = Intern("anim/door");
    p->buffered = true;
    p->numOfFrames = 2;
    Patch* lid = Add(s->patches, "lid");
    lid->format = Intern("anim/lid");
    lid->numOfFrames = 1;  // unbuffered: its frames come as it plays
    GameFx* fx = Add(s->fx, "flare");
    fx->format = Intern("fx/lens");
    fx->lens_count = 2;
    SurfaceEffect* wave = Add(s->surfaces, "wave");
    wave->anim_seq = Intern("anim/wave");
    wave->anim_count = 2;
    s->LoadResources();
    for (const char* f : {"anim/door/0", "anim/door/1", "fx/lens/0", "fx/lens/1", "anim/wave/0", "anim/wave/1"})
        EXPECT_TRUE(Resources().FindByName(f)) << f;
    EXPECT_EQ(Resources().FindByName("anim/lid/0"), nullptr);
    s->UnloadResources();
    EXPECT_TRUE(Resources().FindByName("anim/door/1"));  // unloaded, kept
}

}  // namespace
