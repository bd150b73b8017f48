// Sound script functions run as Lua chunks against a manual-output sound
// device: settings held to their ranges, channels bounded, static and
// streamed sounds played, stopped and removed, positioned sounds, and a
// statement sequence waiting on a sound.
#include <gtest/gtest.h>

#include <cmath>

#include "app/scene_switch.h"
#include "media/sound/sound.h"
#include "media/sound/sound_fixture.h"
#include "media/sound/stream_channel.h"
#include "render/geometry.h"
#include "scene/hotspot_map.h"
#include "scene/point_object.h"
#include "scene/scene_fixture.h"
#include "platform/system.h"

namespace {

class SoundFunctions : public scene_test::SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        ResetSettings();  // other tests of this program call these functions too
        sound_test::OpenManualDevice();
        const auto tone = vorbis_tone::Tone(2, 44100, 2.0, 440.0, 0.5f);
        Write("./tone.ogg", std::string(tone.begin(), tone.end()));
        Write("./music.ogg", std::string(tone.begin(), tone.end()));
        g_stream_buffer_seconds = 0.1f;
    }
    void TearDown() override {
        StopAllStreamChannels();
        Resources().Clear();
        g_sound_device.Release();
        ResetSettings();
        g_stream_buffer_seconds = 1.0f;
        SceneTest::TearDown();
    }
    static void ResetSettings() {
        for (auto& v : g_stream_channel_volumes) v = 1.0f;
        for (StreamChannel& ch : g_stream_channels) ch.no_fade = false;
        g_stream_notify_count = 3;
        g_software_buffers = 1;
        g_sfx_volume = 1.0f;
    }
    // Renders sound (workers fill stream buffers meanwhile) until the chunk
    // returns true or two seconds pass.
    bool PumpUntil(const char* lua_condition) {
        for (int i = 0; i < 200; ++i) {
            sound_test::Render(441);
            ReportFinishedSoundChannels();
            if (ScriptRun((std::string("assert(") + lua_condition + ")").c_str()) == 0) return true;
            plat::SleepMs(10);
        }
        return false;
    }
};

TEST_F(SoundFunctions, SettingsAreHeldToTheirRanges) {
    Lua("snd_setstreambuffsize(10)");
    EXPECT_FLOAT_EQ(g_stream_buffer_seconds, 5.0f);
    Lua("snd_setstreambuffsize(0/0)");
    EXPECT_FLOAT_EQ(g_stream_buffer_seconds, 0.1f);
    Lua("snd_setstreamnotifycount(1)");
    EXPECT_EQ(g_stream_notify_count, 3u);
    Lua("snd_setstreamnotifycount(-1)");  // read unsigned
    EXPECT_EQ(g_stream_notify_count, 8u);
    // Channels wrap into the eight, never below the first.
    Lua("snd_setstreamfadefx(9, false) snd_setstreamfadefx(0, false)");
    EXPECT_TRUE(g_stream_channels[0].no_fade);
    EXPECT_TRUE(g_stream_channels[7].no_fade);
    // The threshold in kilobytes, never wrapping past 32 bits of bytes.
    Lua("snd_getstreamfilesizethreshold(100)");
    EXPECT_EQ(engine.soundStreamThreshold, 102400u);
    Lua("snd_getstreamfilesizethreshold(2^40)");
    EXPECT_EQ(engine.soundStreamThreshold, UINT32_MAX);
    Lua("snd_setmusicvolume(3, 0.5) snd_setmusicvolume(8, 0.1) snd_setmusicvolume(-1, 0.1) ge_sethwmixing(true)");
    for (int i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(g_stream_channel_volumes[i], i == 3 ? 0.5f : 1.0f) << i;
    EXPECT_EQ(g_software_buffers, 0);
}

TEST_F(SoundFunctions, StaticSoundsPlayStopAndFollowTheMasterVolume) {
    engine.soundStreamThreshold = 1 << 30;
    Lua("snd_play('tone', true); assert(snd_isplaying('tone') and snd_isplaying('TONE'))");
    EXPECT_GT(sound_test::Rms(sound_test::Render(4410), 0), 1000.0);
    // The master volume reaches a sound already playing.
    Lua("snd_setsfxvolume(0)");
    EXPECT_LT(sound_test::Rms(sound_test::Render(4410), 0), 10.0);
    Lua("snd_setsfxvolume(1); snd_setvolume('tone', 0)");
    EXPECT_LT(sound_test::Rms(sound_test::Render(4410), 0), 10.0);
    Lua(R"(
        snd_stop(0); snd_stop(9); snd_stop('nothing'); snd_stop({})
        assert(snd_isplaying('tone'))
        snd_stop('Tone'); assert(not snd_isplaying('tone'))
        snd_play(snd_get('tone')); assert(snd_isplaying('tone'))
        snd_stopall(); assert(not snd_isplaying('tone'))
        assert(snd_isplaying(0) == false and snd_isplaying(9) == false and snd_isplaying('none') == false)
    )");
    // A sound removed while a node loads (inside the engine's work) falls
    // silent at once, not when the load ends.
    lua_register(L, "loud", [](lua_State* L) {
        lua_pushboolean(L, sound_test::Rms(sound_test::Render(4410), 0) > 1000.0);
        return 1;
    });
    Write("stages/room/data.lua", "loud_before = loud() snd_remove(snd_get('tone')) loud_after = loud()");
    Lua("snd_play('tone', true) snd_setvolume('tone', 1)");
    engine.currentScene = Scene("room");
    LoadScene();
    Lua("assert(loud_before and not loud_after)");
}

TEST_F(SoundFunctions, StreamedSoundsByChannel) {
    Lua("snd_getstreamfilesizethreshold(1)");  // both files are streamed now
    Lua("snd_play('music', true, 2); assert(snd_getstreamingsound(2) == 'music')");
    ASSERT_TRUE(PumpUntil("snd_isplaying(2) and snd_isplaying('music')"));
    // Channels outside 1..8 are nobody's: nil, false, and no stop.
    Lua(R"(
        assert(snd_getstreamingsound(0) == nil and snd_getstreamingsound(10) == nil)
        assert(snd_getstreamingsound(-2147483648) == nil and snd_isplaying(10) == false)
        snd_stop(10); snd_stop(-7)
        assert(snd_getstreamingsound(2) == 'music')
        snd_stop(2); assert(snd_getstreamingsound(2) == nil)
    )");
    EXPECT_TRUE(PumpUntil("not snd_isplaying(2)"));
    // A sound that plays to its end reports its channel.
    const auto click = vorbis_tone::Click(2, 44100, 0.2);
    Write("./click.ogg", std::string(click.begin(), click.end()));
    Lua("finished = '' function OnGameSoundChannelFinished(n) finished = finished .. n end "
        "snd_play('click', false, 6)");
    EXPECT_TRUE(PumpUntil("finished == '6'"));
}

TEST_F(SoundFunctions, RemoveTakesOnlyALiveSoundRecordAndForgetsIt) {
    Lua("snd_getstreamfilesizethreshold(1); snd_play('music', true, 3)");
    ResourceRecord* music = Resources().FindByName("music");
    ASSERT_NE(music, nullptr);
    engine.waitedSound = music;
    Lua(R"(
        local r = snd_get('music')
        assert(snd_remove(r) == r)
        assert(snd_get('music') == nil and snd_getstreamingsound(3) == nil)
        assert(snd_remove() == nil and snd_remove(r, 'x') == 'x')
    )");
    EXPECT_EQ(engine.waitedSound, nullptr);
    EXPECT_TRUE(engine.statementReady);
    // A record of another kind stays.
    Write("./pic.png", scene_test::SolidPng(2, 2, 0xFF0000));
    ASSERT_NE(Resources().DeclareImage("pic", 0), nullptr);
    Lua("snd_remove(snd_get('pic')); assert(snd_get('pic') ~= nil)");
}

TEST_F(SoundFunctions, PlacedAtAPointAHotspotAnglesOrTheOrigin) {
    engine.soundStreamThreshold = 1 << 30;
    GameScene* hall = Scene("hall");
    hall->viewtype = kViewCube;
    engine.currentScene = hall;
    PointSceneObject* light = Add(hall->points, "Light");
    light->x = 30, light->y = -10, light->distance = 4000;
    ASSERT_TRUE(PrepareHotspotMap());
    HotSpot* window = Add(hall->hotspots, "window");
    window->hs_type = kHotspotMap;
    for (int yaw = 200; yaw < 202; ++yaw) HotspotMapImage()->pixels[size_t(20 + 90) * 360 + size_t(yaw)] = 1;

    // Expected place: the direction of (yaw, pitch) times distance / 1000.
    auto expect_at = [this](float yaw, float pitch, float scale) {
        Sound* s = Resources().GetSound(Resources().FindByName("tone"));
        ASSERT_NE(s, nullptr);
        ASSERT_NE(s->buffer3d, nullptr);
        plat::Vec3 d{0, 0, 0};
        AnglesToDirection(&d, yaw, pitch);
        EXPECT_NEAR(s->position[0], d.x * scale, 1e-4);
        EXPECT_NEAR(s->position[1], d.y * scale, 1e-4);
        EXPECT_NEAR(s->position[2], d.z * scale, 1e-4);
        EXPECT_FALSE(s->IsPlaying());
    };
    Lua("snd_cache('tone', nil, 0, 'light')");
    expect_at(30, -10, 4);
    Lua("snd_cache('tone', nil, 0, 'window')");
    expect_at(200.5f, 20, 1);
    Lua("snd_cache('tone', nil, 0, '90,0,2000')");
    expect_at(90, 0, 2);
    // A place that names nothing and reads as no numbers: the origin.
    Lua("snd_cache('tone', nil, 0, 'nowhere')");
    expect_at(0, 0, 0);
    // A volume change keeps the sound 3-D and playing.
    Lua("snd_play('tone', true, 0, '90,0,2000') snd_setvolume('tone', 0.5) assert(snd_isplaying('tone'))");
}

TEST_F(SoundFunctions, AQueuedStatementWaitsForItsSoundUnlessToldNot) {
    engine.soundStreamThreshold = 1 << 30;
    engine.QueueStatements("snd_play('tone');step = 1;;snd_play('missing');step = 2");
    engine.RunQueuedStatement();
    EXPECT_EQ(engine.waitedSound, Resources().FindByName("tone"));
    engine.RunQueuedStatement();  // the sound still plays: nothing runs
    EXPECT_EQ(Text("step"), "(nil)");
    Lua("snd_stop('tone')");
    EndStatementSoundWait(&engine);
    engine.RunQueuedStatement();
    EXPECT_EQ(Text("step"), "1");
    // No sound: the sequence goes on at once.
    engine.RunQueuedStatement();
    engine.RunQueuedStatement();
    EXPECT_EQ(Text("step"), "2");
    // With nowait, or outside a statement, nothing waits for the sound.
    engine.QueueStatements("snd_play('tone', false, 0, nil, 0, true)");
    engine.RunQueuedStatement();
    EXPECT_EQ(engine.waitedSound, nullptr);
    Lua("snd_play('tone')");
    EXPECT_EQ(engine.waitedSound, nullptr);
}

// A sound point on a channel: its action plays and stops the sound, and
// moving the point places the playing sound again without stopping it.
TEST_F(SoundFunctions, APointPlacesAndPlaysItsSound) {
    engine.currentScene = Scene("yard");
    engine.currentScene->viewtype = kViewCube;  // points stand in directions
    Lua(R"(
        p = ge_newsceneobject('point', 'drip', 'yard')
        ge_setproperty(p, 'distance', 1000)
        ge_setproperty(p, 'channel', 2)
        ge_setproperty(p, 'sound', 'tone')
        assert(not snd_isplaying('tone'))
        ge_setproperty(p, 'snd_action', 1)
        assert(snd_isplaying('tone'), 'the loop action plays it')
        ge_setproperty(p, 'x', 270)
        assert(snd_isplaying('tone'), 'moving keeps it playing')
    )");
    ResourceRecord* r = Resources().FindByName("tone");
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->flags & kSound3D);
    // The sound object of the record as it is now (a new declaration would
    // have replaced it).
    auto position = [&](int i) {
        const auto* sound = static_cast<const Sound*>(r->object);
        return sound ? sound->position[i] : NAN;
    };
    // Yaw 270 at distance 1000 is one unit along -x.
    EXPECT_NEAR(position(0), -1.0f, 1e-4);
    EXPECT_NEAR(position(1), 0.0f, 1e-4);
    EXPECT_NEAR(position(2), 0.0f, 1e-4);
    Lua("ge_setproperty(p, 'y', -90) ge_setproperty(p, 'distance', 500)");
    EXPECT_NEAR(position(1), 0.5f, 1e-4);  // looking up, half as far
    Lua("ge_setproperty(p, 'snd_action', 0) assert(not snd_isplaying('tone'), 'the stop action stops it')");
}

}  // namespace
