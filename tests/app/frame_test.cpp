#include <gtest/gtest.h>

#include "app/engine.h"
#include "media/resource_manager.h"
#include "media/sound/stream_channel.h"
#include "script/lua_host.h"

TEST(Frame, FinishedChannelsReportLowestFirstAndClear) {
    CreateScriptState();
    ScriptRun("finished = '' function OnGameSoundChannelFinished(n) finished = finished .. n .. ',' end");
    g_finished_channel_mask = 0x5;  // channels 0 and 2
    ReportFinishedSoundChannels();
    ScriptRun("result_ok = (finished == '1,3,')");
    lua_State* L = ScriptState();
    lua_getglobal(L, "result_ok");
    EXPECT_TRUE(lua_toboolean(L, -1));
    lua_pop(L, 1);
    EXPECT_EQ(g_finished_channel_mask.load(), 0u);
    ScriptShutdown();
}

TEST(Frame, DeltaIsTheDisplayPeriodWithA60HzFallback) {
    EXPECT_NEAR(FrameDeltaMs(60), 16.666666f, 1e-5);
    EXPECT_NEAR(FrameDeltaMs(0), 16.666666f, 1e-5);
    EXPECT_NEAR(FrameDeltaMs(100), 10.0f, 1e-6);
}

TEST(Frame, AStatementWaitingOnAGoneSoundGoesOn) {
    Engine e;
    ResourceRecord record{};
    record.type = kResourceSound;  // declared, but nothing loaded: not playing
    e.waitedSound = &record;
    EndStatementSoundWait(&e);
    EXPECT_EQ(e.waitedSound, nullptr);
    EXPECT_TRUE(e.statementReady);
    e.statementReady = false;
    EndStatementSoundWait(&e);  // nothing waited on: nothing changes
    EXPECT_FALSE(e.statementReady);
}
