#include "script/engine_work.h"

#include "script_test_support.h"

using script_test::ScriptTest;

namespace {

int g_released = 0;
void Count(void*) { ++g_released; }

// free_now(): asks for a release; hold(f): engine work that runs f inside
// it; released(): how many releases ran.
int FreeNow(lua_State*) {
    ReleaseWhenFree(Count, nullptr);
    return 0;
}
int Hold(lua_State* L) {
    lua_pushvalue(L, 1);
    lua_call(L, 0, 0);
    return 0;
}
int Released(lua_State* L) {
    lua_pushinteger(L, g_released);
    return 1;
}

class EngineWorkTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        g_released = 0;
        const struct {
            const char* name;
            lua_CFunction fn;
        } functions[] = {{"free_now", FreeNow}, {"hold", Hold}, {"released", Released}};
        for (const auto& f : functions) {
            PushScriptFunction(L, f.fn);
            lua_setglobal(L, f.name);
        }
    }
};

TEST_F(EngineWorkTest, ReleasesInsideWorkWaitForTheOutermostWork) {
    ReleaseWhenFree(Count, nullptr);  // no work: at once
    EXPECT_EQ(g_released, 1);
    {
        EngineWork operation;
        ReleaseWhenFree(Count, nullptr);  // the work's own release: at once
        EXPECT_EQ(g_released, 2);
        {
            EngineWork inside;
            ReleaseWhenFree(Count, nullptr);
            EXPECT_EQ(g_released, 2);
            EXPECT_EQ(WaitingReleases(), 1u);
        }
        EXPECT_EQ(g_released, 2);
    }
    EXPECT_EQ(g_released, 3);
    EXPECT_EQ(WaitingReleases(), 0u);

    // Through the dispatcher: a script's own call releases at once; one made
    // by Lua running inside another script function waits for it.
    Lua("free_now(); assert(released() == 4)");
    Lua("hold(function() free_now() assert(released() == 4) end) assert(released() == 5)");
    Lua("hold(function() hold(function() free_now() end) assert(released() == 5) end) assert(released() == 6)");
    EXPECT_EQ(EngineWorkDepth(), 0);
}

TEST_F(EngineWorkTest, AnErrorThatJumpsOutOfWorkPutsTheDepthBack) {
    // Every way Lua catches an error: the depth it had is put back, and what
    // waited is released once no work is left.
    for (const char* catcher :
         {"pcall(hold, function() free_now() error('x') end)",
          "xpcall(function() hold(function() free_now() error('x') end) end, function(m) return m end)",
          "coroutine.resume(coroutine.create(function() hold(function() free_now() error('x') end) end))",
          "pcall(coroutine.wrap(function() hold(function() free_now() error('x') end) end))",
          "load(function() hold(function() free_now() error('x') end) end)"}) {
        const int before = g_released;
        Lua(catcher);
        EXPECT_EQ(EngineWorkDepth(), 0) << catcher;
        EXPECT_EQ(g_released, before + 1) << catcher;
        Lua("free_now()");  // at once again
        EXPECT_EQ(g_released, before + 2) << catcher;
    }
    // An error the engine catches (a script run from the engine).
    EXPECT_NE(ScriptRun("hold(function() free_now() error('y') end)"), 0);
    EXPECT_EQ(EngineWorkDepth(), 0);
    {
        EngineWork operation;
        EXPECT_NE(ScriptRun("hold(function() free_now() error('z') end)"), 0);
        EXPECT_EQ(EngineWorkDepth(), 1);
        EXPECT_EQ(WaitingReleases(), 1u);
    }
    EXPECT_EQ(WaitingReleases(), 0u);
}

}  // namespace
