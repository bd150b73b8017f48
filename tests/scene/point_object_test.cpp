// Point objects: where their sound is placed and when it is declared again,
// the channel bounds, snd_action, the wheel member of the editor-input
// family and the scene's sound hook.
#include "scene/point_object.h"

#include <cmath>

#include "../../tools/vorbis_tone.h"
#include "media/resource_manager.h"
#include "scene/particle_source.h"
#include "scene/scene_fixture.h"

using namespace scene_test;

namespace {

class PointTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        s = Scene("yard");
        s->viewtype = kViewCube;
        engine.currentScene = s;
        point = Add(s->points, "drip");
        const std::vector<uint8_t> ogg = vorbis_tone::Tone(1, 22050, 0.1, 440.0);
        Write(Path("drip.ogg"), std::string(ogg.begin(), ogg.end()));
    }
    GameScene* s = nullptr;
    PointSceneObject* point = nullptr;
};

TEST_F(PointTest, SoundIsDeclaredThreeDOnlyWhenPlacementChanges) {
    point->sound = Resources().DeclareSound("drip", 0);
    ASSERT_TRUE(point->sound);
    EXPECT_FALSE(point->sound->flags & kSound3D);
    // Colour and icon leave the sound alone.
    point->OnChanged(kPointBitColor | kPointBitIcon);
    EXPECT_FALSE(point->sound->flags & kSound3D);
    point->x = 90;
    point->OnChanged(kPointBitX);
    ASSERT_TRUE(point->sound);
    EXPECT_TRUE(point->sound->flags & kSound3D);
    // Shared by name with a 2-D holder: the same record, now 3-D for both.
    EXPECT_EQ(Resources().FindByName("drip"), point->sound);
}

TEST_F(PointTest, ChannelsOutsideTheEnginesAreNone) {
    EXPECT_EQ(BoundedSoundChannel(3), 3);
    EXPECT_EQ(BoundedSoundChannel(8), 8);
    EXPECT_EQ(BoundedSoundChannel(9), 0);
    EXPECT_EQ(BoundedSoundChannel(-1), 0);
    EXPECT_EQ(BoundedSoundChannel(INT32_MIN), 0);
    point->sound = Resources().DeclareSound("drip", 0);
    point->channel = 1000000;
    point->OnChanged(kPointBitChannel);
    ASSERT_TRUE(point->sound);
    EXPECT_EQ(point->sound->flags >> kSoundChannelShift, 0u);
}

TEST_F(PointTest, SoundPositionIsOnTheUnitSphereAtDistanceThousand) {
    const plat::Vec3 p = PointSoundPosition(90, 0, 1000);
    EXPECT_NEAR(p.x, 1.0f, 1e-5);
    EXPECT_NEAR(std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z), 1.0f, 1e-5);
    const plat::Vec3 q = PointSoundPosition(0, -90, 500);
    EXPECT_NEAR(q.y, 0.5f, 1e-5);  // negative pitch looks up
}

TEST_F(PointTest, ActionsWithoutASoundDoNothing) {
    point->snd_action = kPointSoundLoop;
    point->OnChanged(kPointBitSndAction);
    EXPECT_EQ(point->sound, nullptr);
    point->snd_action = 7;
    point->OnChanged(0xFFFFFFFFu);
    EXPECT_EQ(point->sound, nullptr);
}

TEST_F(PointTest, WheelStepsAHundredUnitsForPointsAndSources) {
    point->distance = 1000;
    point->EditorInput(0, 120);
    EXPECT_EQ(point->distance, 1100.0f);
    EXPECT_TRUE(engine.sceneModified);
    point->EditorInput(65, 0);  // keys do nothing
    EXPECT_EQ(point->distance, 1100.0f);
    auto* src = static_cast<GameParticleSource*>(CreateObjectByClass("psource"));
    src->distance = 200;
    src->particle_count = 4;
    src->EditorInput(0, -3);
    EXPECT_EQ(src->distance, 100.0f);
    EXPECT_EQ(src->ParticleCount(), 0u);  // bit 0x8 rebuilds nothing
    delete src;
}

TEST_F(PointTest, SceneSoundHookGivesRecordAndPosition) {
    const SceneKindOps* ops = GetSceneKindOps(kSceneKindPoints);
    ASSERT_TRUE(ops && ops->sound);
    ResourceRecord* r = nullptr;
    plat::Vec3 p, d;
    EXPECT_FALSE(ops->sound(point, &r, &p, &d));
    point->sound = Resources().DeclareSound("drip", 0);
    point->x = 180, point->distance = 50;
    ASSERT_TRUE(ops->sound(point, &r, &p, &d));
    EXPECT_EQ(r, point->sound);
    EXPECT_NEAR(p.z, -50.0f, 1e-3);
    EXPECT_NEAR(d.z, -1.0f, 1e-5);
}

TEST_F(PointTest, SceneFileConstructorsOfPointsAndSounds) {
    Lua(R"(
        local r = sound3D{name = "drip", sound = "drip", channel = 99, x = 45, y = 10, distance = 300, flags = 1}
        assert(type(r) == 'userdata')
        assert(type(sound3D{name = "quiet"}) == "userdata")  -- a null record
        particlesource{name = "drip", particle_count = 3}
        lightsource{}
        assert(select('#', particlesource(5)) == 0)
    )");
    // The sound point: its sound declared 3-D without a channel of its own.
    EXPECT_EQ(point->x, 45.0f);
    EXPECT_EQ(point->distance, 300.0f);
    EXPECT_EQ(point->channel, 0);
    EXPECT_EQ(point->snd_action, 1);
    ASSERT_TRUE(point->sound);
    EXPECT_TRUE(point->sound->flags & kSound3D);
    EXPECT_EQ(point->sound->flags >> kSoundChannelShift, 0u);
    // A point without a sound keeps its place.
    PointSceneObject* quiet = ListFindByName(s->points, "quiet");
    ASSERT_TRUE(quiet);
    EXPECT_EQ(quiet->x, 0.0f);
    // The particle source of the plain point's name is a new psource.
    int sources = 0;
    for (PointSceneObject* p = s->points.head; p; p = ListNext(p)) sources += IsClass(p, "psource");
    EXPECT_EQ(sources, 1);
    EXPECT_FALSE(IsClass(point, "psource"));
    PointSceneObject* light = ListFindByName(s->points, "light");
    ASSERT_TRUE(light);
    EXPECT_EQ(light->distance, 1000.0f);
}

}  // namespace
