// Memory figures, the resource budget, date and time texts, random
// numbers, the build text and resource reloading from scripts.
#include "media/resource_manager.h"
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

TEST_F(SystemFunctions, BuildText) {
    Lua(R"(
        local old = ge_getbuild()
        ge_setbuild('debug')
        assert(ge_getbuild() == 'debug')
        ge_setbuild(string.rep('x', 100))
        assert(ge_getbuild() == string.rep('x', 31))
        ge_setbuild()
        assert(ge_getbuild() == string.rep('x', 31))
        ge_setbuild(old)
    )");
}

using SystemWithEngine = EngineScriptTest;

TEST_F(SystemWithEngine, CountersAndReloadWithoutAScene) {
    Lua(R"(
        assert(ge_getcounter() == 0 and ge_getframerendertime() == 0)  -- no window yet
        reloadAllResources()
        ge_setclipboard()
    )");
}

}  // namespace
