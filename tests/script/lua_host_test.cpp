#include <gmock/gmock.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <signal.h>
#include <unistd.h>

#include "base/file_stream.h"
#include "base/string_pool.h"
#include "script/engine_work.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "script/script_handles.h"
#include "script/script_watch.h"
#include "script_test_support.h"
#include "scriptapi/script_results.h"

extern "C" {
#include <lauxlib.h>
}

using script_test::Logged;
using script_test::ScriptTest;

namespace {

class LuaHostTest : public ScriptTest {};

TEST_F(LuaHostTest, CallConvertsArgumentsAndKeepsTheStack) {
    Lua("function Rec(...) n = select('#', ...); a, b, c = ... end");
    int top = lua_gettop(L);
    // %x is not a conversion: its argument is consumed and nothing is pushed.
    EXPECT_EQ(ScriptCall("Rec(%d,%x,%s)", 1, 99, "text"), 0);
    EXPECT_EQ(lua_gettop(L), top);
    EXPECT_EQ(Number("n"), 2);
    EXPECT_EQ(Number("a"), 1);
    EXPECT_EQ(Text("b"), "text");

    int marker = 0;
    EXPECT_EQ(ScriptCall("Rec(%f,%p,%s)", 2.5f, &marker, static_cast<const char*>(nullptr)), 0);
    EXPECT_EQ(Number("n"), 3);
    EXPECT_EQ(Number("a"), 2.5);
    lua_getglobal(L, "b");
    EXPECT_EQ(lua_touserdata(L, -1), &marker);
    lua_pop(L, 1);
    Lua("assert(c == nil)");

    EXPECT_EQ(ScriptCall("Rec()"), 0);
    EXPECT_EQ(Number("n"), 0);
}

TEST_F(LuaHostTest, CallResultsStayOnlyAfterSuccess) {
    Lua("function Two(x) return x * 2, 'second' end; function Fail(x) error('boom') end");
    int top = lua_gettop(L);
    EXPECT_EQ(ScriptCall("Two(%f):2", 4.0), 0);
    ASSERT_EQ(lua_gettop(L), top + 2);
    EXPECT_EQ(lua_tonumber(L, -2), 8);
    EXPECT_STREQ(lua_tostring(L, -1), "second");
    lua_settop(L, top);

    EXPECT_EQ(ScriptCall("Fail(%f):2", 4.0), 0);
    EXPECT_EQ(lua_gettop(L), top);
    EXPECT_TRUE(Logged("[LUA RT ERROR in Fail(%f):2] :"));
    EXPECT_TRUE(Logged("boom"));
}

TEST_F(LuaHostTest, MissingAndNonFunctionHandlersAreSkipped) {
    int top = lua_gettop(L);
    EXPECT_EQ(ScriptCall("Nobody(%d)", 1), -1);
    EXPECT_EQ(ScriptCall("no paren"), -1);
    Lua("OnGameKeyDown = {}; OnGameMouseUp = function() end; OnGameKeyUp = 5");
    EXPECT_EQ(ScriptCall("OnGameKeyDown(%d)", 1), -1);
    EXPECT_EQ(lua_gettop(L), top);
    EXPECT_TRUE(script_test::LogLines().empty());

    UpdateGameHandlerBits();
    EXPECT_EQ(GameHandlerBits(), kHandlerKeyDown | kHandlerKeyUp | kHandlerMouseUp);
    Lua("OnGameKeyDown = nil");
    UpdateGameHandlerBits();
    EXPECT_EQ(GameHandlerBits(), kHandlerKeyUp | kHandlerMouseUp);
    EXPECT_FALSE(ScriptGlobalIsNil("OnGameKeyUp"));
    EXPECT_TRUE(ScriptGlobalIsNil("OnGameKeyDown"));
}

TEST_F(LuaHostTest, StrictGlobalsCannotEndTheProgram) {
    // A script that makes reading an unknown global an error.
    Lua("setmetatable(_G, {__index = function(t, k) error('undefined ' .. k) end})");
    int top = lua_gettop(L);
    EXPECT_EQ(ScriptCall("Missing(%d)", 1), -1);
    UpdateGameHandlerBits();
    EXPECT_EQ(GameHandlerBits(), 0u);
    EXPECT_EQ(HotspotHandlerBits("door"), 0u);
    Lua("function door_MouseDown() end");
    EXPECT_EQ(HotspotHandlerBits("door"), kHotspotMouseDown);
    EXPECT_EQ(lua_gettop(L), top);
}

TEST_F(LuaHostTest, RunLogsErrorsAndLeavesTheStack) {
    int top = lua_gettop(L);
    EXPECT_EQ(ScriptRun("return 1, 2, 3"), 0);
    EXPECT_EQ(ScriptRun("x = = 1"), 1);
    EXPECT_EQ(ScriptRun("error('bad')"), 1);
    EXPECT_EQ(lua_gettop(L), top);
    EXPECT_TRUE(Logged("[LUA EVAL ERROR] : x = = 1 ==> "));
    EXPECT_EQ(ScriptRunFormat("y = %d", 7), 0);
    EXPECT_EQ(Number("y"), 7);
    std::string longer(300, ' ');
    EXPECT_EQ(ScriptRunFormat("z = 1 %s", longer.c_str()), 1);
    Lua("assert(z == nil)");
}

int AskToClose(lua_State*) {
    RequestTermination();
    return 0;
}

// An endless script cannot hold the game: a termination request stops the
// script that runs (through its pcalls too); the shut-down's scripts, taken
// after the request, run unhindered.
TEST_F(LuaHostTest, ATerminationRequestStopsTheRunningScript) {
    lua_register(L, "ask_to_close", AskToClose);
    EXPECT_EQ(ScriptRun("ask_to_close() for i = 1, 2e7 do end finished = true"), 1);
    EXPECT_TRUE(Logged("script stopped: the game is closing"));
    EXPECT_TRUE(TakeTerminationRequest());
    EXPECT_FALSE(TakeTerminationRequest());
    Lua("assert(finished == nil)");
    EXPECT_EQ(ScriptRun("for i = 1, 1e5 do end after = true"), 0);
    Lua("assert(after == true)");
    ASSERT_EQ(ScriptRun("function OnGameUpdate() ask_to_close() pcall(function() for i = 1, 2e7 do end end) "
                        "for i = 1, 2e7 do end updated = true end"),
              0);
    EXPECT_EQ(ScriptCall("OnGameUpdate(%f)", 16.0), 0);
    EXPECT_TRUE(Logged("[LUA RT ERROR in OnGameUpdate(%f)] : script stopped: the game is closing"));
    EXPECT_TRUE(TakeTerminationRequest());
    Lua("assert(updated == nil)");

    // A close of the window is polled while a call runs for over a second,
    // when the window system has events for the game; with none, no hook.
    SetScriptClosePoll([] { return true; }, [] { return false; });
    EXPECT_EQ(ScriptRun("local t = os.clock() while os.clock() - t < 1.4 do end finished = true"), 0);
    EXPECT_EQ(lua_gethook(L), nullptr);
    SetScriptClosePoll([] { return true; }, [] { return true; });
    EXPECT_EQ(ScriptRun("local t = os.clock() while os.clock() - t < 30 do end finished = false"), 1);
    SetScriptClosePoll(nullptr, nullptr);
    EXPECT_TRUE(TakeTerminationRequest());
    Lua("assert(finished == true)");
}

int Nap(lua_State*) {
    usleep(20000);
    return 0;
}
int Touched(lua_State*) {
    lua_pushboolean(ScriptState(), 1);
    lua_setglobal(ScriptState(), "touched");
    return 0;
}
// A request from another thread, as a signal may come.
int AskFromElsewhere(lua_State*) {
    std::thread([] { RequestTermination(); }).join();
    return 0;
}
int AskLater(lua_State*) {
    std::thread([] {
        usleep(60000);
        RequestTermination();
    }).detach();
    return 0;
}

// The stop reaches a loop whatever its body calls: one of few instructions
// between long calls, or one of the hook functions; a script function
// entered while the stop is pending raises it before it runs.
TEST_F(LuaHostTest, TheStopReachesEveryLoop) {
    lua_register(L, "nap", Nap);
    lua_register(L, "ask_later", AskLater);
    lua_register(L, "ask_from_elsewhere", AskFromElsewhere);
    PushScriptFunction(L, Touched);
    lua_setglobal(L, "touch");
    for (const char* loop : {"for i = 1, 50 do nap() end", "for i = 1, 3e6 do package.loaded.debug.gethook() end",
                             "for i = 1, 3e6 do package.loaded.debug.sethook() end"}) {
        SCOPED_TRACE(loop);
        EXPECT_EQ(ScriptRun((std::string("finished = nil ask_later() ") + loop + " finished = true").c_str()), 1);
        usleep(100000);
        EXPECT_TRUE(TakeTerminationRequest());
        Lua("assert(finished == nil)");
    }
    EXPECT_EQ(ScriptRun("ask_from_elsewhere() touch()"), 1);
    EXPECT_TRUE(TakeTerminationRequest());
    Lua("assert(touched == nil)");

    // An interrupt that comes while os.execute runs a command is not
    // ignored, as the C library's system() would; the command's status is
    // the library's.
    struct sigaction asks {}, before {};
    asks.sa_handler = [](int) { RequestTermination(); };
    sigaction(SIGINT, &asks, &before);
    EXPECT_EQ(ScriptRun("for i = 1, 5 do os.execute('kill -INT $PPID; sleep 0.05') end finished = true"), 1);
    sigaction(SIGINT, &before, nullptr);
    EXPECT_TRUE(TakeTerminationRequest());
    Lua("assert(finished == nil) assert(os.execute('exit 3') == 768 and os.execute() ~= 0)");
}

int CallSpin(lua_State*) {
    ScriptCall("Spin()");
    return 0;
}

// Takes every hook off the running thread, as C code may: only the
// watchdog's thread can then put the watch's back.
int Unhook(lua_State* L) {
    lua_sethook(L, nullptr, 0, 0);
    return 0;
}

size_t StopLines() {
    size_t n = 0;
    for (const std::string& l : script_test::LogLines())
        if (l.find("script stopped: the game is closing") != std::string::npos) ++n;
    return n;
}

// Nothing catches the stop for good: whatever a closing game's script runs
// through (exec, eval, run, pcall, xpcall, a coroutine, findallfiles, an
// engine call made by a script function, a long library call), the stop
// reaches the outermost call and is logged once; calls started while the
// game is closing run nothing. Afterwards the catching functions behave as
// Lua's own.
TEST_F(LuaHostTest, NothingCatchesTheStopForGood) {
    lua_register(L, "ask_to_close", AskToClose);
    lua_register(L, "call_spin", CallSpin);
    lua_register(L, "unhook", Unhook);
    ASSERT_TRUE(quild_test::WriteFile(Path("spin.lua"), "while true do end"));
    std::filesystem::create_directories(Path("tree/sub"));
    for (const char* f : {"tree/a.lua", "tree/b.lua", "tree/sub/c.lua"}) ASSERT_TRUE(quild_test::WriteFile(Path(f), ""));
    Lua("DIR_SCRIPTS = '.' function Spin() spun = true while true do end end "
        "function walk(d) findallfiles('tree', ';lua;', function() "
        "  if d < 3 then exec('walk(' .. d + 1 .. ')') else while true do end end end, true) end");
    const char* loops[] = {
        "for i = 1, 20 do exec('while true do end') end",
        "for i = 1, 20 do exec('pcall(function() while true do end end) while true do end') end",
        "for i = 1, 20 do eval('(function() while true do end end)()') end",
        "for i = 1, 20 do run('spin') end",
        "for i = 1, 20 do runscript('spin') end",
        "for i = 1, 20 do pcall(function() while true do end end) end",
        "for i = 1, 20 do xpcall(function() while true do end end, function(m) return m end) end",
        "for i = 1, 20 do coroutine.resume(coroutine.create(function() while true do end end)) end",
        "for i = 1, 20 do pcall(coroutine.wrap(function() while true do end end)) end",
        "for i = 1, 20 do walk(0) end",
        "for i = 1, 20 do load(function() while true do end end) end",
        "for i = 1, 1e4 do call_spin() end",
        "local s = string.rep('x', 2^25)",
        "local s = ('x'):rep(1000) for i = 1, 14 do s = s .. s end",
    };
    auto stopped_once = [&](const std::string& run) {
        SCOPED_TRACE(run);
        script_test::LogLines().clear();
        EXPECT_EQ(ScriptRun(("done = nil " + run + " done = true").c_str()), 1);
        EXPECT_EQ(ScriptCall("Spin()"), 0);
        EXPECT_EQ(ScriptRun("done = true"), 1);
        EXPECT_EQ(StopLines(), 1u);
        EXPECT_FALSE(Logged("[LUA EXEC ERROR]"));
        EXPECT_TRUE(TakeTerminationRequest());
        Lua("assert(done == nil and spun == nil)");
    };
    for (const char* loop : loops) stopped_once(std::string("ask_to_close() ") + loop);
    // The same when the request comes while the catching call runs: the
    // failure it met is raised on as the stop.
    const char* catchers[] = {
        "pcall(function() ask_to_close() while true do end end)",
        "xpcall(function() ask_to_close() while true do end end, function(m) return m end)",
        "coroutine.resume(coroutine.create(function() ask_to_close() while true do end end))",
        "load(function() ask_to_close() while true do end end)",
        // Lua runs the handler of a stop raised from the hook with hooks off:
        // a handler that loops is not run for the stop.
        "xpcall(function() ask_to_close() while true do end end, function() while true do end end)",
        "xpcall(function() error('x') end, function() ask_to_close() while true do end end)",
        // No hook at all on the running thread, the main one or a coroutine.
        "ask_to_close() unhook() while true do end",
        "coroutine.resume(coroutine.create(function() ask_to_close() unhook() while true do end end))",
        "pcall(coroutine.wrap(function() ask_to_close() unhook() while true do end end))",
    };
    for (const char* catcher : catchers) stopped_once(catcher);
    // Started while the stop is pending, a catching call runs nothing, not
    // even what comes before the hook's next call; nor does any handler of
    // the xpcalls on the stack.
    const char* starters[] = {
        "pcall(function() started = 1 end)",
        "xpcall(function() started = 1 end, print)",
        "coroutine.resume(coroutine.create(function() started = 1 end))",
        "coroutine.wrap(function() started = 1 end)()",
        "load(function() started = 1 end)",
        "xpcall(function() xpcall(function() ask_to_close() while true do end end, function(m) started = 1 return m end) "
        "end, function(m) started = 2 return m end)",
    };
    for (const char* starter : starters) {
        SCOPED_TRACE(starter);
        const std::string run = std::string("started, after = nil, nil ") +
                                (std::strstr(starter, "ask_to_close") ? "" : "ask_to_close() ") + starter + " after = true";
        EXPECT_EQ(ScriptRun(run.c_str()), 1);
        EXPECT_TRUE(TakeTerminationRequest());
        Lua("assert(started == nil and after == nil, tostring(started))");
    }
    Lua("local ok, m = pcall(error, 'x') assert(not ok and m == 'x') "
        "ok, m = xpcall(function() error('y', 0) end, function(m) return m .. '!' end) assert(not ok and m == 'y!') "
        "assert(select('#', pcall(function() return 1, 2 end)) == 3) "
        "local co = coroutine.create(function(a) local b = coroutine.yield(a + 1) error(b, 0) end) "
        "local r = {coroutine.resume(co, 1)} assert(r[1] and r[2] == 2) "
        "r = {coroutine.resume(co, 'z')} assert(not r[1] and r[2] == 'z') "
        "r = {coroutine.resume(co)} assert(not r[1] and r[2] == 'cannot resume dead coroutine') "
        "ok, m = pcall(function() local r = coroutine.resume(1) return r end) "
        "assert(not ok and m:find('bad argument #1 to .resume.'), m)");
}

int Out(lua_State* L) {
    script_test::LogLines().push_back(std::string("out ") + lua_tostring(L, 1));
    return 0;
}

// pcall, xpcall, load and the coroutine functions are replaced so that they
// never catch the stop; scripts see Lua's own in every other way: levels,
// tracebacks, messages, error objects, how deep calls nest. One script runs
// through the system's lua5.1 and through the engine's state.
TEST_F(LuaHostTest, CatchingFunctionsAreLuasOwn) {
    const std::string script = std::string(QUILD_SOURCE_DIR) + "/tests/script/data/library_compare.lua";
    // Each run starts the script three C calls deep: lua5.1 runs its
    // command line in a protected C call of its own.
    const std::string command = "/usr/bin/lua5.1 -e \"source = io.read('*a') "
                                "local ok, m = pcall(assert(loadstring(source, '=compare'))) "
                                "if not ok then print(m) end\" < '" + script + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string expected;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) expected.append(buffer, n);
    ASSERT_EQ(pclose(pipe), 0) << "the test needs /usr/bin/lua5.1 (tools/setup.sh installs it)";
    ASSERT_NE(expected.find("deepest"), std::string::npos) << expected;

    lua_register(L, "out", Out);
    const std::string source = quild_test::ReadFile(script);
    lua_pushlstring(L, source.data(), source.size());
    lua_setglobal(L, "source");
    script_test::LogLines().clear();
    Lua("local _, ok, m = pcall(pcall, assert(loadstring(source, '=compare'))) if not ok then out(m) end");
    std::string got;
    for (const std::string& l : script_test::LogLines())
        if (l.rfind("out ", 0) == 0) got += l.substr(4) + "\n";
    EXPECT_EQ(got, expected);
}

// Lua's memory has a ceiling: past it the script gets "not enough memory"
// and the game goes on; a state filled to it can still be called.
TEST_F(LuaHostTest, ScriptMemoryHasACeiling) {
    EXPECT_EQ(ScriptMemoryCeiling(), size_t(2) << 30);
    SetScriptMemoryCeiling(size_t(32) << 20);
    // Stops here without a ceiling: the loop below would fill the memory.
    ASSERT_EQ(ScriptRun("s = 'x' for i = 1, 26 do s = s .. s end"), 1);
    EXPECT_TRUE(Logged("==> not enough memory"));
    EXPECT_TRUE(Logged("[ERROR] - LUA : out of memory"));
    EXPECT_LE(ScriptMemoryInUse(), size_t(32) << 20);
    Lua("s = nil collectgarbage()");

    Lua("last = '' function Update(name) last = name end");
    EXPECT_EQ(ScriptRun("t = {} while true do t[#t + 1] = {} end"), 1);
    EXPECT_GT(ScriptMemoryInUse(), size_t(31) << 20);
    EXPECT_EQ(ScriptCall("Update(%s)", "a name not interned yet"), 0);
    EXPECT_EQ(Text("last"), "a name not interned yet");
    Lua("t = nil collectgarbage() t = {} for i = 1, 1000 do t[i] = {} end");

    // With no room at all, a script's error that is a number is still
    // logged: its text is made without Lua.
    Lua("function Fail() if armed then error(42, 0) end end armed = true");
    ScriptCall("Fail()");  // the call site is made while there is room
    Lua("fill = {} while pcall(function() fill[#fill + 1] = {} end) do end");
    SetScriptMemoryCeiling(ScriptMemoryInUse() / 2);
    EXPECT_EQ(ScriptCall("Fail()"), 0);
    EXPECT_TRUE(Logged("[LUA RT ERROR in Fail()] : 42"));
    SetScriptMemoryCeiling(0);
    Lua("fill = nil collectgarbage()");

    // While the game is closing a script gets no block of 4 MiB.
    RequestTermination();
    {
        ScriptCallWatch watch("grow", 4);
        for (size_t size : {size_t(4) << 20, (size_t(4) << 20) - 1}) {
            void* block = ScriptAllocator(nullptr, nullptr, 0, size);
            EXPECT_EQ(block != nullptr, size < (size_t(4) << 20)) << size;
            if (block) ScriptAllocator(nullptr, block, size, 0);
        }
    }
    EXPECT_TRUE(TakeTerminationRequest());
    SetScriptMemoryCeiling(0);
    EXPECT_EQ(ScriptMemoryCeiling(), size_t(2) << 30);
}

// A finalizer's error or yield in the engine's collection is logged as a
// script error; the engine goes on.
TEST_F(LuaHostTest, FinalizersCannotEndTheProgram) {
    Lua("for _, f in ipairs({function() error('finalizer error', 0) end, function() coroutine.yield() end}) do "
        "getmetatable(newproxy(true)).__gc = f end");
    ScriptCollectGarbage();  // an error ends the collection: one each
    ScriptCollectGarbage();
    EXPECT_TRUE(Logged("[ERROR] - LUA collection : finalizer error"));
    EXPECT_TRUE(Logged("attempt to yield across metamethod/C-call boundary"));
    Lua("ok = true");
    // Nor one that fails in a collection step while a closing game's call
    // gives the stop back: with no pause, every allocation check runs a
    // whole cycle, and each cycle's finalizer leaves one more behind.
    const char* quiet = "Quiet()";
    Lua("function Quiet() end");
    ASSERT_EQ(ScriptCall(quiet), 0);
    Lua("local function f() getmetatable(newproxy(true)).__gc = f if armed then error('armed', 0) end end f() "
        "collectgarbage('setstepmul', 1e6) collectgarbage('setpause', 0) collectgarbage()");
    lua_pushboolean(L, 1);
    lua_setglobal(L, "armed");
    RequestTermination();
    EXPECT_EQ(ScriptCall(quiet), 0);
    lua_pushnil(L);
    lua_setglobal(L, "armed");
    EXPECT_TRUE(TakeTerminationRequest());

    // Reads of handler globals whose collection step fails read as nil and
    // leave the stack as it was (many in a row would write past it).
    Lua("function OnGameKeyDown() end door_MouseDown = print");
    lua_pushboolean(L, 1);
    lua_setglobal(L, "armed");
    const int top = lua_gettop(L);
    for (int i = 0; i < 40; ++i) {
        UpdateGameHandlerBits();
        HotspotHandlerBits("door");
        ScriptGlobalIsNil("OnGameKeyDown");
    }
    EXPECT_EQ(lua_gettop(L), top);
    lua_pushnil(L);
    lua_setglobal(L, "armed");
    Lua("collectgarbage('setpause', 200) collectgarbage('setstepmul', 200) ok = true");
}

// The engine's reads of globals and its pushes of a known call's texts run
// protected: a finalizer raising at the collection step such a push runs is
// logged, and never reaches Lua's panic.
// Texts copied for a result fill the buffer in the frame to its last byte
// (each is its length and its bytes); one byte more takes them all to the
// heap. Nothing is written past the buffer.
TEST_F(LuaHostTest, TextCopiesFillTheirFrameBufferAndNoMore) {
    using script_results::TextCopies;
    constexpr size_t kHeader = sizeof(size_t);
    const std::vector<std::vector<size_t>> cases = {
        {TextCopies::kInline - kHeader},      // to the last byte
        {TextCopies::kInline - kHeader + 1},  // one past: the heap
        {TextCopies::kInline - 1},            // the buffer's size, less its length
        {TextCopies::kInline},
        {TextCopies::kInline + 1},
        {1000, TextCopies::kInline - 1000 - kHeader - 1},
        {1000, TextCopies::kInline - 1000 - 2 * kHeader},
        {1000, TextCopies::kInline - 1000 - 2 * kHeader + 1},
        {1000, TextCopies::kInline - 1000 - kHeader},
        std::vector<size_t>(TextCopies::kInline / kHeader, 0),
        std::vector<size_t>(TextCopies::kInline / kHeader + 1, 0),
    };
    for (const std::vector<size_t>& lengths : cases) {
        struct Guarded {
            TextCopies copies;
            unsigned char guard[16];
        } g;
        std::memset(g.guard, 0x5A, sizeof g.guard);
        std::vector<std::string> texts;
        for (size_t n : lengths) {
            texts.push_back(std::string(n, char('a' + texts.size() % 26)));
            g.copies.Add(texts.back().data(), n);
        }
        for (unsigned char c : g.guard) ASSERT_EQ(c, 0x5A) << lengths.size() << " texts, the first " << lengths[0];
        ASSERT_EQ(g.copies.Push(L, script_results::Texts::kArray), 1);
        ASSERT_EQ(lua_objlen(L, -1), texts.size());
        for (size_t i = 0; i < texts.size(); ++i) {
            lua_rawgeti(L, -1, int(i + 1));
            size_t n = 0;
            const char* got = lua_tolstring(L, -1, &n);
            EXPECT_EQ(std::string(got, n), texts[i]);
            lua_pop(L, 1);
        }
        lua_pop(L, 1);
    }
}

TEST_F(LuaHostTest, EngineReadsAndPushesSurviveARaisingFinalizer) {
    Lua("function Texts(s) last = s end last = 'none' function door_MouseDown() end");
    ASSERT_EQ(ScriptCall("Texts(%s)", "first"), 0);  // the call site is known now
    ArmRaisingFinalizers();
    EXPECT_EQ(ScriptCall("Texts(%s)", "second"), 0);
    DisarmFinalizers();
    EXPECT_EQ(Number("raised"), 1);
    EXPECT_TRUE(Logged("[LUA RT ERROR in Texts(%s)] : armed"));
    EXPECT_EQ(Text("last"), "first");

    ArmRaisingFinalizers();
    EXPECT_TRUE(ScriptGlobalIsNil("Texts"));  // not read: taken as none
    DisarmFinalizers();
    EXPECT_EQ(Number("raised"), 1);
    EXPECT_FALSE(ScriptGlobalIsNil("Texts"));
    ArmRaisingFinalizers();
    EXPECT_EQ(HotspotHandlerBits("door") & ~kHotspotMouseDown, 0u);  // a lookup that failed finds none
    DisarmFinalizers();
    EXPECT_GE(Number("raised"), 1);  // each lookup: its own collection
    EXPECT_EQ(HotspotHandlerBits("door"), kHotspotMouseDown);
}

// A long call is named once in the log, by the watchdog's thread: no hook
// goes on for it.
TEST_F(LuaHostTest, ALongCallIsNamedOnceInTheLog) {
    SetLongScriptCallMs(1);
    ASSERT_EQ(ScriptRun("function Slow(n) local t = os.clock() while os.clock() - t < n do end "
                        "hooked = package.loaded.debug.gethook() ~= nil or hooked end"),
              0);
    std::string log;
    ASSERT_TRUE(GetUserFilePath("log.txt", log));
    auto new_lines = [&, seen = quild_test::ReadFile(log).size()]() mutable {
        const std::string text = quild_test::ReadFile(log);
        const std::string added = text.substr(std::min(seen, text.size()));
        seen = text.size();
        size_t n = 0;
        for (size_t at = added.find("[WARNING] : script Slow(...) has been running for"); at != std::string::npos;
             at = added.find("[WARNING] : script Slow(...)", at + 1))
            ++n;
        return n;
    };
    ScriptCall("Slow(%f)", 0.4);
    EXPECT_EQ(new_lines(), 1u);
    EXPECT_EQ(lua_gethook(L), nullptr);
    Lua("assert(not hooked)");
    ScriptCall("Slow(%f)", 0.001);
    SetLongScriptCallMs(3000);
    ScriptCall("Slow(%f)", 0.2);
    EXPECT_EQ(new_lines(), 0u);
}

// A script sees and keeps its own hook, which runs as in Lua in calls of
// any length; a coroutine made under it takes its mask and count. While
// the stop is pending, the stop comes first; the script's hook comes back
// after.
TEST_F(LuaHostTest, AScriptsOwnHookIsItsOwn) {
    lua_register(L, "ask_to_close", AskToClose);
    Lua("dbg = package.loaded.debug local h, m, c = dbg.gethook() assert(h == nil and m == '' and c == 0) "
        "n = 0 function count() n = n + 1 end dbg.sethook(count, 'l', 100) "
        "h, m, c = dbg.gethook() assert(h == count and m == 'l' and c == 100) "
        "dbg.sethook() dbg.sethook(h, m, c) for i = 1, 10 do end assert(n > 0) "
        "local co = coroutine.create(function() end) dbg.sethook(co, count, 'r') "
        "assert(dbg.gethook(co) == count and select(2, dbg.gethook(co)) == 'r') dbg.sethook(co) "
        "dbg.sethook(count, '', 100) co = coroutine.create(function() return dbg.gethook() end) "
        "local r = {coroutine.resume(co)} assert(r[1] and r[2] == nil and r[3] == '' and r[4] == 100, tostring(r[4])) "
        "dbg.sethook(count, 'l', 100)");
    EXPECT_NE(lua_gethook(L), nullptr);
    EXPECT_EQ(ScriptRun("ask_to_close() local h, m, c = dbg.gethook() seen = {h == count, m, c} "
                        "dbg.sethook(h, m, c) for i = 1, 1e5 do end finished = true"),
              1);
    EXPECT_TRUE(TakeTerminationRequest());
    Lua("assert(finished == nil) n = 0 for i = 1, 1e4 do end assert(n > 0) dbg.sethook()");
    EXPECT_EQ(lua_gethook(L), nullptr);

    // In a call the watchdog names, a time guard fires and a counting hook
    // counts to the end.
    SetLongScriptCallMs(1);
    ASSERT_EQ(ScriptRun("function Guarded() local t0 = os.clock() "
                        "dbg.sethook(function() if os.clock() - t0 > 0.3 then error('too long', 0) end end, '', 1000) "
                        "guard = select(2, pcall(function() while os.clock() - t0 < 5 do end end)) "
                        "dbg.sethook(function() end, '', 100) local co = coroutine.create(function() return dbg.gethook() end) "
                        "inherited = select(4, coroutine.resume(co)) dbg.sethook() "
                        "local late = 0 dbg.sethook(function() if os.clock() - t0 > 0.5 then late = late + 1 end end, '', 1000) "
                        "while os.clock() - t0 < 0.6 do end dbg.sethook() counted_late = late end"),
              0);
    EXPECT_EQ(ScriptCall("Guarded()"), 0);
    SetLongScriptCallMs(3000);
    EXPECT_EQ(Text("guard"), "too long");
    EXPECT_EQ(Number("inherited"), 100);
    EXPECT_GT(Number("counted_late"), 10);
}

TEST_F(LuaHostTest, FieldReaders) {
    Lua("t = {color = 255, scolor = 'ff00ff00', b = 1, c = true, f = false, n = 2.5, i = '12', s = 'str'}");
    lua_getglobal(L, "t");
    lua_pushlightuserdata(L, this);
    lua_setfield(L, -2, "u");
    int top = lua_gettop(L);
    EXPECT_EQ(ScriptFieldColor("color", 7), 0x255u);
    EXPECT_EQ(ScriptFieldColor("scolor", 7), 0xff00ff00u);
    EXPECT_EQ(ScriptFieldColor("none", 7), 7u);
    EXPECT_EQ(ScriptFieldBool("b"), -1);
    EXPECT_EQ(ScriptFieldBool("c"), 1);
    EXPECT_EQ(ScriptFieldBool("f"), 0);
    EXPECT_EQ(ScriptFieldBool("none"), -1);
    EXPECT_EQ(ScriptFieldNumber("n", 0), 2.5f);
    EXPECT_EQ(ScriptFieldInt("i", 0), 12);
    EXPECT_EQ(ScriptFieldInt("s", -3), -3);
    EXPECT_STREQ(ScriptFieldString("s", "d", false), "str");
    const char* interned = ScriptFieldString("s", "d", true);
    EXPECT_EQ(interned, CommonStrings().Intern("str"));
    EXPECT_STREQ(ScriptFieldString("c", "d", false), "d");
    EXPECT_EQ(ScriptFieldUserdata("u"), this);
    EXPECT_EQ(ScriptFieldUserdata("s"), nullptr);
    EXPECT_EQ(lua_gettop(L), top);

    lua_pushnumber(L, 255);
    lua_pushstring(L, "");
    EXPECT_EQ(ScriptArgColor(-2, 1), 0x255u);
    EXPECT_EQ(ScriptArgColor(-1, 1), 1u);
    EXPECT_EQ(ScriptArgColor(top + 5, 9), 9u);
}

// The readers the script functions share: saturated integers, the last
// argument of an empty call, and handles checked by kind.
int ReadArguments(lua_State* L) {
    lua_pushnumber(L, ScriptArgInt(L, 1));
    lua_pushnumber(L, ScriptArgInt(L, 2));
    lua_pushnumber(L, ScriptArgInt(L, 3));
    lua_pushboolean(L, ScriptArgHandle(L, 4, ScriptHandleKind::kRect) != nullptr);
    lua_pushboolean(L, ScriptArgObject(L, 4) != nullptr);
    return 5;
}
int LastArgumentText(lua_State* L) {
    const char* text = ScriptArgText(L, ScriptLastArg(L));
    lua_pushstring(L, text ? text : "(missing)");
    return 1;
}

TEST_F(LuaHostTest, ArgumentReadersSaturateAndCheckHandles) {
    int rect[4] = {};
    RegisterScriptHandle(rect, ScriptHandleKind::kRect);
    lua_register(L, "read_args", ReadArguments);
    lua_register(L, "last_text", LastArgumentText);
    lua_pushlightuserdata(L, rect);
    lua_setglobal(L, "rect");
    Lua(R"(
        local a, b, c, is_rect, is_object = read_args(1e300, -2^63, 0/0, rect)
        assert(a == 2147483647 and b == -2147483648 and c == 0 and is_rect and not is_object)
        assert(select(4, read_args(1, 2, 3, {})) == false)
        assert(last_text('a', 'b') == 'b' and last_text() == '(missing)')
        local stale = 'left on the stack'
        assert(last_text() == '(missing)')
    )");
    UnregisterScriptHandle(rect);
    Lua("assert(select(4, read_args(1, 2, 3, rect)) == false)");
    Lua("t = {big = 1e20, small = -1e20}");
    lua_getglobal(L, "t");
    EXPECT_EQ(ScriptFieldInt("big", 0), 2147483647);
    EXPECT_EQ(ScriptFieldInt("small", 0), -2147483647 - 1);
    lua_pop(L, 1);
}

TEST_F(LuaHostTest, StateHasFunctionsMetatablesAndSceneUserdata) {
    Lua("assert(type(flushscripts) == 'function' and type(ge_addpackage) == 'function')");
    Lua("assert(type(fclose) == 'function' and type(fopenRead) == 'function')");
    Lua("assert(type(package_close) == 'function' and type(compilescript) == 'function')");
    Lua("assert(type(Scene) == 'userdata' and type(Scenes) == 'userdata')");
    Lua("assert(Scene.anything == nil and Scenes.anything == nil)");
    luaL_getmetatable(L, "Object*");
    EXPECT_TRUE(lua_istable(L, -1));
    lua_pop(L, 1);
    lua_getglobal(L, "Scene");
    ASSERT_EQ(lua_objlen(L, -1), sizeof(void*));
    EXPECT_EQ(*static_cast<void**>(lua_touserdata(L, -1)), nullptr);
    lua_pop(L, 1);
    for (ScriptFunctionRecord* r = ScriptFunctionListHead(); r; r = r->next) {
        lua_getglobal(L, r->name);
        EXPECT_EQ(WrappedScriptFunction(L, -1), r->function) << r->name;
        lua_pop(L, 1);
    }
}

TEST_F(LuaHostTest, AllocatorRefusesAMismatchedBlock) {
    void* block = ScriptAllocator(nullptr, nullptr, 0, 40);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0x5A, 40);
    void* grown = ScriptAllocator(nullptr, block, 40, 100);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(static_cast<uint8_t*>(grown)[39], 0x5A);
    EXPECT_EQ(ScriptAllocator(nullptr, grown, 99, 10), nullptr);
    EXPECT_TRUE(Logged("Invalid Block Pointer from Lua"));
    EXPECT_EQ(ScriptAllocator(nullptr, grown, 100, 0), nullptr);
}

TEST_F(LuaHostTest, NameCompletion) {
    Lua("Display = {fov = 1, Aspect = 2, [3] = 'x'}; Strict = setmetatable({}, {__index = function() error('no') end})");
    StringPool pool;
    int top = lua_gettop(L);
    EXPECT_EQ(ScriptCompleteNames(&pool, "Display.f"), top);
    std::vector<std::string> names;
    for (StringPool::Entry* e = pool.First(); e; e = e->next) names.push_back(e->text);
    EXPECT_EQ(names, (std::vector<std::string>{"Display.Aspect", "Display.fov"}));
    // Nested tables make the prefix.
    Lua("A_table_with_a_long_name = {inner = {leaf = 1, [2] = 2}}");
    EXPECT_EQ(ScriptCompleteNames(&pool, "A_table_with_a_long_name.inner.l"), top);
    ASSERT_EQ(pool.Count(), 1u);
    EXPECT_STREQ(pool.First()->text, "A_table_with_a_long_name.inner.leaf");
    // A lookup that raises an error is caught: no names, the stack kept,
    // nothing of the walk left behind (the leak checker at exit).
    EXPECT_EQ(ScriptCompleteNames(&pool, "Strict.a_key_longer_than_a_short_string.y"), top);
    EXPECT_EQ(pool.Count(), 0u);
    ScriptCompleteNames(&pool, "ge_addpack");
    EXPECT_GT(pool.Count(), 10u);
}

TEST_F(LuaHostTest, WalkDirectoryBuildsPathsWithoutChangingFolder) {
    quild_test::WriteFile(Path("w/a/B.lua"), "1");
    quild_test::WriteFile(Path("w/a/b.LUA"), "1");
    quild_test::WriteFile(Path("w/a/.hidden.lua"), "1");
    quild_test::WriteFile(Path("w/a/Sub/c.lua"), "1");
    quild_test::WriteFile(Path("w/a/.git/d.lua"), "1");
    quild_test::WriteFile(Path("w/a/noext"), "1");
    ASSERT_EQ(symlink(Path("w/a/B.lua").c_str(), Path("w/a/link.lua").c_str()), 0);
    char before[4096];
    ASSERT_TRUE(getcwd(before, sizeof before));
    using Seen = std::vector<std::pair<std::string, std::string>>;
    Seen seen;
    auto collect = [](void* ctx, const char* path, const char* ext) {
        static_cast<Seen*>(ctx)->emplace_back(path, ext);
        return true;
    };
    EXPECT_TRUE(WalkDirectory("w/a", ";lua;", collect, &seen, false));
    EXPECT_EQ(seen, (Seen{{"w/a/b", "lua"}, {"w/a/sub", ""}}));
    seen.clear();
    EXPECT_TRUE(WalkDirectory("w/a", ";lua;", collect, &seen, true));
    EXPECT_EQ(seen, (Seen{{"w/a/b", "lua"}, {"w/a/sub/c", "lua"}}));
    seen.clear();
    EXPECT_TRUE(WalkDirectory("W/A", ";LUA;", collect, &seen, false));
    EXPECT_EQ(seen, (Seen{{"W/A/b", "lua"}, {"W/A/sub", ""}}));
    EXPECT_FALSE(WalkDirectory("missing", ";lua;", collect, &seen, false));
    char after[4096];
    ASSERT_TRUE(getcwd(after, sizeof after));
    EXPECT_STREQ(before, after);
}

// An error outside every protected call ends the process at once, with
// status 1 and a log line: the static destructors, which would tear the
// live engine down in the wrong order, do not run.
TEST(LuaPanicDeathTest, EndsTheProcessWithStatusOneAndALogLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SetLogSink([](const char* line, unsigned) { std::fprintf(stderr, "%s\n", line); });
            std::atexit([] { std::fputs("static teardown ran\n", stderr); });
            CreateScriptState();
            lua_pushstring(ScriptState(), "outside every protected call");
            lua_error(ScriptState());
        },
        testing::ExitedWithCode(1),
        testing::AllOf(testing::HasSubstr("[ERROR] - LUA PANIC : outside every protected call"),
                       testing::Not(testing::HasSubstr("static teardown ran"))));
}

}  // namespace
