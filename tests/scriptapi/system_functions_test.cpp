// Memory figures, the resource budget, date and time texts, random
// numbers, the build text and resource reloading from scripts.
#include "media/image/image_data.h"
#include "media/resource_manager.h"
#include "media/sound/stream_channel.h"
#include "scene/game_scene.h"
#include "scene/game_video.h"
#include "scene/hotspot_map.h"
#include "scriptapi/engine_script_test.h"

using script_test::ScriptTest;
using scriptapi_test::EngineScriptTest;

namespace {

using SystemFunctions = ScriptTest;

TEST_F(SystemFunctions, MemoryStatsAndBudget) {
    Lua(R"(
        local t = ge_getmemstats()
        assert(#t == 5)
        assert(t[1]:match('^Managed Object Memory: %d+ KB %- %d+$'), t[1])
        assert(t[2]:match('^String Memory        : %d+ KB %- %d+$'), t[2])
        assert(t[3]:match('^Resource Memory      : %d+ MB %- %d+$'), t[3])
        assert(t[4]:match('^Lua Allocated Memory : %d+ KB %- %d+$'), t[4])
        assert(t[5]:match('^new Allocated Memory : %d+ MB %- %d+$'), t[5])
        -- KB is the byte count >> 10
        local kb, bytes = t[4]:match(': (%d+) KB %- (%d+)')
        assert(tonumber(kb) == math.floor(tonumber(bytes) / 1024))
    )");
    const uint64_t saved = g_resource_budget;
    Lua("ge_settotalmemory(100)");
    EXPECT_EQ(g_resource_budget, 268435456u);
    Lua("ge_settotalmemory(1024)");
    EXPECT_EQ(g_resource_budget, 1073741824u);
    Lua("ge_settotalmemory(4096)");  // no 32-bit wrap to nothing
    EXPECT_EQ(g_resource_budget, 4096ull << 20);
    Lua("ge_settotalmemory(1e300)");
    EXPECT_GT(g_resource_budget, 4096ull << 20);
    Lua("ge_settotalmemory(0/0)");
    EXPECT_EQ(g_resource_budget, 268435456u);
    g_resource_budget = saved;
}

TEST_F(SystemFunctions, DateAndTimeTexts) {
    Lua(R"(
        local d = ge_getdate()
        assert(d:match('^%u%l%l %d%d %d%d %u%l%l$'), d)
        local month = d:sub(1, 3)
        assert(('JanFebMarAprMayJunJulAugSepOctNovDec'):find(month, 1, true), d)
        assert(os.date('%y') == d:sub(8, 9), d)
        local t = ge_gettime()
        assert(t:match('^%d%d:%d%d:%d%d$') and tonumber(t:sub(1, 2)) < 24, t)
    )");
}

TEST_F(SystemFunctions, RandomNumbersRepeatFromASeed) {
    Lua(R"(
        for i = 1, 2000 do local r = ge_rand() assert(r >= 0 and r < 1) end
        ge_rand_seed('abc')
        local a = {ge_rand(), ge_rand(), ge_rand()}
        ge_rand_seed('abc')
        local b = {ge_rand(), ge_rand(), ge_rand()}
        assert(a[1] == b[1] and a[2] == b[2] and a[3] == b[3])
        -- a number seeds through its decimal text read as hexadecimal: 10 is 16
        ge_rand_seed(10)
        local c = ge_rand()
        ge_rand_seed('16')
        assert(ge_rand() ~= c)
        ge_rand_seed('10')
        assert(ge_rand() == c)
        ge_rand_seed()  -- from rand(): no failure
    )");
}

TEST_F(SystemFunctions, BuildTextIsCutToItsBuffer) {
    Lua(R"(
        local old = ge_getbuild()
        ge_setbuild(string.rep('x', 100))
        assert(ge_getbuild() == string.rep('x', 31))
        ge_setbuild(old)
    )");
}

using SystemWithEngine = EngineScriptTest;

TEST_F(SystemWithEngine, ReloadRestartsTheChannelMusicByItsName) {
    quild_test::WriteFile(Path("music.ogg"), "not really ogg");
    GameScene scene;
    engine->currentScene = &scene;
    {
        std::lock_guard<std::mutex> hold(g_stream_channels[0].lock);
        g_stream_channels[0].current.path = "music.ogg";
    }
    Lua("reloadAllResources()");
    EXPECT_TRUE(scene.resourcesLoaded);
    {
        std::lock_guard<std::mutex> hold(g_stream_channels[0].lock);
        EXPECT_TRUE(g_stream_channels[0].current.path.empty());
    }
    // Declared by its name, never as "music.ogg.ogg"; the sound that cannot
    // be loaded is not played.
    EXPECT_NE(Resources().FindByName("music"), nullptr);
    EXPECT_FALSE(script_test::Logged("music.ogg.ogg"));
    if (ResourceRecord* r = Resources().FindByName("music")) Resources().Remove(r, true);
    engine->currentScene = nullptr;
}

TEST_F(SystemWithEngine, HotspotMapAndVideoNames) {
    ASSERT_TRUE(PrepareHotspotMap());
    HotspotMapImage()->pixels[100] = 3;
    Lua("clearHotspots()");
    EXPECT_EQ(HotspotMapImage()->pixels[100], 0);
    FreeHotspotMap();
    Lua("clearHotspots()");  // no map: nothing

    GameVideo* intro = ListFindOrAdd(engine->videos, "intro");
    Lua("local v = ge_getvideoslist(); assert(#v == 1 and v[1] == 'intro')");
    ListRemove(engine->videos, intro);
    delete intro;
    Lua("local v = ge_getvideoslist(); assert(type(v) == 'table' and #v == 0)");
}

}  // namespace
