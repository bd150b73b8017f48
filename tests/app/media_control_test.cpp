// Sounds declared by name (streamed over the threshold, 3-D, channels),
// sound arguments of script functions, and the fitting of a video to the
// screen.
#include <gtest/gtest.h>

extern "C" {
#include <lua.h>
}

#include "app/engine_media.h"
#include "media/resource_manager.h"
#include "media/sound/stream_channel.h"
#include "scene/scene_fixture.h"

using namespace scene_test;

namespace {

class SoundDeclarations : public SceneTest {
protected:
    // A file of that many bytes named <name>.ogg (only its size matters).
    void File(const char* name, size_t bytes) { Write("./" + std::string(name) + ".ogg", std::string(bytes, 'x')); }
    static uint32_t Bits(const ResourceRecord* r) { return r ? r->flags & ~kResourceLoadTried : 0xDEAD; }
};

TEST_F(SoundDeclarations, TheThresholdDecidesStreamingAndTheChannel) {
    File("big", 358401);
    File("small", 358400);
    // Over the threshold without a channel: streamed on channel 1.
    EXPECT_EQ(Bits(engine.DeclareSound("big", 0, false)), kSoundStreamed);
    // At the threshold: decoded whole, whatever channel was asked for.
    EXPECT_EQ(Bits(engine.DeclareSound("small", 3, false)), 0u);
    // A missing file keeps the asked channel and counts as streamed.
    EXPECT_EQ(SoundDeclarationFlags(true, 4, true), kSoundStreamed | kSound3D | (3u << kSoundChannelShift));
    // Channels beyond 8 are held to channel 8.
    File("music", 400000);
    EXPECT_EQ(Bits(engine.DeclareSound("music", 40, false)), kSoundStreamed | (7u << kSoundChannelShift));
}

TEST_F(SoundDeclarations, DeclaringAgainKeepsOrChangesTheRecordInPlace) {
    File("music", 400000);
    ResourceRecord* r = engine.DeclareSound("music", 2, false);
    ASSERT_NE(r, nullptr);
    // The same name, channel and kind: the same record, unchanged.
    EXPECT_EQ(engine.DeclareSound("MUSIC", 2, false), r);
    EXPECT_EQ(engine.DeclareSound("music", 0, false), r);
    // 3-D now: the record stays (its holders keep it) with bit 0x04 added
    // and its streaming bits kept.
    EXPECT_EQ(engine.DeclareSound("music", 0, true), r);
    EXPECT_EQ(Bits(r), kSoundStreamed | kSound3D | (1u << kSoundChannelShift));
    EXPECT_EQ(engine.DeclareSound("music", 2, false), r);
    EXPECT_EQ(Bits(r), kSoundStreamed | (1u << kSoundChannelShift));
    // Another channel: declared again from the file.
    EXPECT_EQ(engine.DeclareSound("music", 5, false), r);
    EXPECT_EQ(Bits(r), kSoundStreamed | (4u << kSoundChannelShift));
    EXPECT_EQ(engine.DeclareSound("", 1, false), nullptr);
    EXPECT_EQ(engine.DeclareSound(nullptr, 1, false), nullptr);
    // A streamed sound is remembered on its channel when played (the file
    // is no real sound: the channel logs that and plays nothing).
    engine.PlaySound(r, false, 0);
    engine.PlaySound(nullptr, false, 0);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(engine.streamChannelSounds[i], i == 4 ? r : nullptr) << i;
    // The channel's worker ends before the program does: run alone, the
    // test would otherwise exit while the worker still logs.
    StopAllStreamChannels();
}

TEST_F(SoundDeclarations, ScriptSoundArgumentsByNameOrLiveRecord) {
    File("door", 1000);
    lua_pushstring(L, "door");
    ResourceRecord* r = ScriptArgSound(L, nullptr, -1, 0, false);
    lua_pop(L, 1);
    ASSERT_NE(r, nullptr);
    // A table field names it too.
    Lua("t = {snd = 'door'}");
    lua_getglobal(L, "t");
    EXPECT_EQ(ScriptArgSound(L, "snd", -1, 0, false), r);
    EXPECT_EQ(ScriptArgSound(L, "other", -1, 0, false), nullptr);
    lua_pop(L, 1);
    // By record: only a live sound record counts.
    lua_pushlightuserdata(L, r);
    EXPECT_EQ(ScriptArgSound(L, nullptr, -1, 0, false), r);
    lua_pop(L, 1);
    int foreign = 0;
    lua_pushlightuserdata(L, &foreign);
    EXPECT_EQ(ScriptArgSound(L, nullptr, -1, 0, false), nullptr);
    lua_pop(L, 1);
    Write("./pic.png", SolidPng(2, 2, 0xFF0000));
    lua_pushlightuserdata(L, Resources().DeclareImage("pic", 0));
    EXPECT_EQ(ScriptArgSound(L, nullptr, -1, 0, false), nullptr);
    lua_pop(L, 1);
    lua_pushnumber(L, 12);
    EXPECT_EQ(ScriptArgSound(L, nullptr, -1, 0, false), nullptr);
    lua_pop(L, 1);
}

TEST(VideoRectangles, FittedToTheScreenWidthAndNeverTaller) {
    int32_t r[4];
    FitVideoRect(640, 480, 1920, 1080, r);  // 4:3 on 16:9: too tall, the screen
    EXPECT_EQ((std::vector<int32_t>{r[0], r[1], r[2], r[3]}), (std::vector<int32_t>{0, 0, 1920, 1080}));
    FitVideoRect(1280, 720, 1024, 768, r);  // 16:9 on 4:3: bars above and below
    EXPECT_EQ((std::vector<int32_t>{r[0], r[1], r[2], r[3]}), (std::vector<int32_t>{0, 96, 1024, 576}));
    FitVideoRect(0, 0, 800, 600, r);  // no picture size: the whole screen
    EXPECT_EQ((std::vector<int32_t>{r[0], r[1], r[2], r[3]}), (std::vector<int32_t>{0, 0, 800, 600}));
}

}  // namespace
