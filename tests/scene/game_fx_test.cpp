// Light flares: the opacity easing in and out of the screen, the shared
// lens table (terminators, capacity, which notification parses it) and the
// byte clamping of opacities.
#include "scene/game_fx.h"

#include <cmath>
#include <string>

#include "media/recording_device.h"
#include "scene/scene_fixture.h"

using namespace scene_test;

namespace {

class FxTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        s = Scene("sky");
        s->viewtype = kViewCube;
        engine.currentScene = s;
        fx = Add(s->fx, "sun");
    }
    GameScene* s = nullptr;
    GameFx* fx = nullptr;
};

TEST_F(FxTest, OpacityEasesInByAQuarterAndDecaysByATenth) {
    fx->opacity = 255;
    fx->currentOpacity = 0;
    const float in[] = {63.75f, 111.5625f, 147.421875f};
    for (float want : in) {
        fx->EaseOpacity(true);
        EXPECT_FLOAT_EQ(fx->currentOpacity, want);
    }
    fx->EaseOpacity(false);
    EXPECT_FLOAT_EQ(fx->currentOpacity, 147.421875f * 0.9f);
}

TEST_F(FxTest, LensTableIsClosedByThreeTerminators) {
    // Two numbers short of a triple still end.
    EXPECT_EQ(ParseLensTable("0,1,1.5, 2 ,0.5"), 5u);
    EXPECT_EQ(g_lensTable[3], 2.0f);
    EXPECT_EQ(g_lensTable[4], 0.5f);
    for (int i = 5; i < 8; ++i) EXPECT_EQ(g_lensTable[i], -1.0f);
    // atof rules: leading blanks, trailing junk, no number.
    ParseLensTable(" 3x,,-0.25");
    EXPECT_EQ(g_lensTable[0], 3.0f);
    EXPECT_EQ(g_lensTable[1], 0.0f);
    EXPECT_EQ(g_lensTable[2], -0.25f);
    EXPECT_EQ(g_lensTable[3], -1.0f);
}

TEST_F(FxTest, LongListsStopAtTheCapacityKeepingTheTerminators) {
    std::string list;
    for (int i = 0; i < 1000; ++i) list += "1,";
    EXPECT_EQ(ParseLensTable(list.c_str()), kLensTableCapacity - 3);
    for (size_t i = kLensTableCapacity - 3; i < kLensTableCapacity; ++i) EXPECT_EQ(g_lensTable[i], -1.0f);
}

TEST_F(FxTest, OnlyAFormatNotificationParsesTheList) {
    ParseLensTable("");
    fx->lens_format = Intern("4,1,1");
    fx->OnChanged(kFxBitLensFormat);
    EXPECT_EQ(g_lensTable[0], 0.0f);
    fx->OnChanged(kFxBitFormat);
    EXPECT_EQ(g_lensTable[0], 4.0f);
    // The last flare parsed decides for all.
    GameFx* other = Add(s->fx, "lamp");
    other->lens_format = Intern("7,0,1");
    other->OnChanged(0xFFFFFFFFu);
    EXPECT_EQ(g_lensTable[0], 7.0f);
    // Without a list the table stays.
    fx->lens_format = nullptr;
    fx->OnChanged(kFxBitFormat);
    EXPECT_EQ(g_lensTable[0], 7.0f);
}

TEST_F(FxTest, BytesAreTruncatedAndHeldToTheirRange) {
    EXPECT_EQ(ClampByte(147.9), 147u);
    EXPECT_EQ(ClampByte(-3), 0u);
    EXPECT_EQ(ClampByte(255.5), 255u);
    EXPECT_EQ(ClampByte(1e300), 255u);
    EXPECT_EQ(ClampByte(NAN), 0u);
}

TEST_F(FxTest, NothingIsDrawnOrEasedWithoutACamera) {
    fx->opacity = 255;
    fx->currentOpacity = 10;
    fx->Render();  // no device
    EXPECT_EQ(fx->currentOpacity, 10.0f);
    // A device but no camera to place the flare with.
    media_test::RecordingDevice device;
    RenderDevice* saved = g_renderDevice;
    g_renderDevice = &device;
    fx->Render();
    g_renderDevice = saved;
    EXPECT_EQ(fx->currentOpacity, 10.0f);
    EXPECT_EQ(device.Joined(), "");
}

}  // namespace
