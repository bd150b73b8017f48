#include "script/engine_work.h"

#include <string>

#include "script_test_support.h"

using script_test::ScriptTest;

namespace {

int g_released = 0;
std::string g_order;
void Count(void*) { ++g_released; }

// Script functions: free_now() asks for a release; hold(f) runs f inside
// it; free_chain() asks for a release that asks for another while it runs.
// Plain C functions (they count for nothing): released() is how many
// releases ran; deep(n, f) runs f below n of them; frame_top() does what the
// top of a frame does.
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
int Deep(lua_State* L) {
    volatile char pad[256];
    pad[0] = 0;
    const int n = int(lua_tointeger(L, 1));
    if (n > 0) {
        lua_pushcfunction(L, Deep);
        lua_pushinteger(L, n - 1);
        lua_pushvalue(L, 2);
        lua_call(L, 2, 0);
    } else {
        lua_pushvalue(L, 2);
        lua_call(L, 0, 0);
    }
    return pad[0];
}
int FreeChain(lua_State*) {
    ReleaseWhenFree(
        [](void*) {
            g_order += "outer(";
            ReleaseWhenFree([](void*) { g_order += "inner"; }, nullptr);
            g_order += ")";
        },
        nullptr);
    return 0;
}

// Runs f below n C++ frames.
template <class F>
[[gnu::noinline]] void BelowFrames(int n, const F& f) {
    volatile char pad[256];
    pad[0] = char(n);
    if (n > 0)
        BelowFrames(n - 1, f);
    else
        f();
    (void)pad[0];
}

class EngineWorkTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        g_released = 0;
        g_order.clear();
        Register();
    }
    void Register() {
        const struct {
            const char* name;
            lua_CFunction fn;
        } functions[] = {{"free_now", FreeNow}, {"hold", Hold}, {"free_chain", FreeChain}};
        for (const auto& f : functions) {
            PushScriptFunction(L, f.fn);
            lua_setglobal(L, f.name);
        }
        lua_register(L, "released", Released);
        lua_register(L, "deep", Deep);
        lua_register(L, "frame_top", [](lua_State*) {
            RunWaitingReleases();
            return 0;
        });
        // fail(): a release asked inside a script function that then fails.
        // Once armed with n, a finalizer calls it (or failing()) at the n-th
        // collection;
        // with no pause and a huge step every check of the collector is one.
        Lua("function fail() hold(function() free_now() error('raised', 0) end) end "
            "local function f() getmetatable(newproxy(true)).__gc = function() f() "
            "if armed then armed = armed - 1 if armed == 0 then armed = nil (failing or fail)() end end end end f()");
    }
    // A finalizer that fails leaves the collector's threshold raised: a
    // whole collection puts it back.
    void ArmAtEveryAllocation() { Lua("collectgarbage('setpause', 1) collectgarbage('setstepmul', 1e8) collectgarbage()"); }
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

    // A waiting release that asks for another: it runs after it, in the
    // same pass.
    Lua("hold(free_chain)");
    EXPECT_EQ(g_order, "outer()inner");
    EXPECT_EQ(WaitingReleases(), 0u);
}

// Whoever catches an error that jumps out of a script function, the depth
// is right at once, in the same chunk: a top-level release right after it
// is at once (and the one that waited goes with it), one inside work waits.
// The catch is made by Lua's own functions, by the parser (a finalizer that
// fails at its collection step) and by the engine.
TEST_F(EngineWorkTest, TheDepthIsRightWhoeverCatchesAnError) {
    quild_test::WriteFile(Path("chunk.lua"), "chunk_ran = true");
    quild_test::WriteFile(Path("found.txt"), "");
    struct Catcher {
        const char* code;
        bool coroutine;  // the failed call ran in a coroutine
    };
    const Catcher catchers[] = {
        {"assert(not pcall(fail))", false},
        {"assert(not xpcall(fail, function(m) return m end))", false},
        {"assert(not coroutine.resume(coroutine.create(fail)))", true},
        {"assert(not pcall(coroutine.wrap(fail)))", true},
        {"assert(load(fail) == nil)", false},
        {"assert(not pcall(findallfiles, '.', ';txt;', fail, false))", false},
        // The finalizer fails at the parser's collection step: the load
        // catches it (loadfile and dofile name the file first).
        {"armed = 1 local f, m = loadstring('x = 1') assert(f == nil and m == 'raised', tostring(m))", false},
        {"armed = 2 local ok, f, m = pcall(loadfile, 'chunk.lua') assert(ok and f == nil and m == 'raised', tostring(m))", false},
        {"armed = 2 local ok, m = pcall(dofile, 'chunk.lua') assert(not ok and m == 'raised' and not chunk_ran)", false},
        {"armed = 1 assert(not pcall(require, 'chunk'))", false},
        {"armed = 1 runscript('chunk')", false},
    };
    for (const Catcher& c : catchers) {
        const std::string code = c.code;
        ArmAtEveryAllocation();
        Lua(("local before = released() " + code +
             " assert(armed == nil) free_now() assert(released() == before + 2, 'top level')")
                .c_str());
        ArmAtEveryAllocation();
        Lua(("local before = released() hold(function() " + code +
             " free_now() assert(released() == before, 'inside work') end) assert(released() == before + 2)")
                .c_str());
        // Deep below the failed call, at a later call of the same thread:
        // only its thread's calls show it over. A coroutine's entry is
        // counted until the frame top or a call above it.
        ArmAtEveryAllocation();
        if (!c.coroutine)
            Lua(("local before = released() " + code +
                 " deep(20, function() local function r(k) if k == 0 then free_now() return 0 end return r(k - 1) + 1 "
                 "end r(8) end) assert(released() == before + 2, 'deep')")
                    .c_str());
        EXPECT_EQ(WaitingReleases(), 0u) << code;
        EXPECT_EQ(EngineWorkDepth(), 0) << code;
    }

    // An error the engine catches (a script run from the engine).
    const int before = g_released;
    EXPECT_NE(ScriptRun("fail()"), 0);
    {
        EngineWork operation;
        EXPECT_NE(ScriptRun("fail()"), 0);
        EXPECT_EQ(EngineWorkDepth(), 1);
        ReleaseWhenFree(Count, nullptr);  // the work's own: at once
        EXPECT_EQ(g_released, before + 1);
    }
    EXPECT_EQ(g_released, before + 3);

    // Finalizers failing while the state closes: what they asked for goes
    // when it is closed, and the calls they leave are over then, even for
    // a release asked deep below them.
    for (const char* failing : {"nil", "function() hold(function() error('raised', 0) end) end"}) {
        Lua((std::string("failing = ") + failing).c_str());
        ArmAtEveryAllocation();
        lua_pushinteger(L, 1);
        lua_setglobal(L, "armed");
        const int closing = g_released;
        ScriptShutdown();
        EXPECT_EQ(g_released, closing + (failing[0] == 'n' ? 1 : 0)) << failing;
        BelowFrames(64, [] {
            EngineWork operation;
            ReleaseWhenFree(Count, nullptr);
        });
        EXPECT_EQ(WaitingReleases(), 0u) << failing;
        CreateScriptState();
        L = ScriptState();
        Register();
    }
}

// The top of a frame runs outside all Lua: whatever an error left counted,
// even a coroutine's call that no later call shows over, is over there.
TEST_F(EngineWorkTest, TheFrameTopEndsWhatErrorsLeftCounted) {
    // Deep below the failed call, with no script function called between,
    // a release counts the coroutine's call (its thread is never read).
    Lua("coroutine.resume(coroutine.create(fail)) local before = released() deep(20, free_now) "
        "assert(released() == before, 'counted') frame_top() assert(released() == before + 2, 'the frame top') "
        "deep(20, free_now) assert(released() == before + 3, 'after the frame top')");
    EXPECT_EQ(WaitingReleases(), 0u);
}

}  // namespace
