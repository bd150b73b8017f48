// Script calls and cached script runs, each beside its baseline.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "lua_chunk_loop.h"
#include "timed.h"
#include "base/log.h"
#include "script/lua_host.h"
#include "script/script_cache.h"
#include "temp_folder.h"

namespace {

lua_State* StateWithHandler() {
    if (!ScriptState()) CreateScriptState();
    ScriptRun("function OnGameUpdate(dt) end");
    return ScriptState();
}

void BM_ScriptCallOnGameUpdate(benchmark::State& state) {
    StateWithHandler();
    bench::Timed(state, [&] { ScriptCall("OnGameUpdate(%f)", 16.666); });
}
BENCHMARK(BM_ScriptCallOnGameUpdate);

void BM_BarePcallBaseline(benchmark::State& state) {
    lua_State* L = StateWithHandler();
    bench::Timed(state, [&] {
        lua_getglobal(L, "OnGameUpdate");
        lua_pushnumber(L, 16.666);
        lua_pcall(L, 1, 0, 0);
    });
}
BENCHMARK(BM_BarePcallBaseline);

// A 5,000-line script in a folder of its own.
const std::string& BigScript() {
    static std::string path = [] {
        static bench::TempFolder folder("quild-bench");
        const std::string& dir = folder.path();
        std::string p = dir + "/big";
        FILE* f = std::fopen((p + ".lua").c_str(), "wb");
        // 500 handlers of ten lines each, the shape of a scene's script.
        for (int i = 0; i < 500; ++i) {
            std::fprintf(f, "function hotspot_%d_MouseUp(x, y, button)\n", i);
            std::fprintf(f, "    local name = 'hotspot_%d'\n", i);
            std::fprintf(f, "    if button == 1 and x > %d then\n", i);
            std::fprintf(f, "        ge_task('snd_play(\"click%d\");ge_switchscene(\"room%d\")')\n", i, i % 7);
            std::fprintf(f, "    elseif y < %d * 2 then\n", i);
            std::fprintf(f, "        state[name] = (state[name] or 0) + x * y - %d\n", i);
            std::fprintf(f, "    end\n");
            std::fprintf(f, "    local t = {x = x, y = y, n = %d, label = name .. ':' .. tostring(x)}\n", i);
            std::fprintf(f, "    return t.n + #t.label\n");
            std::fprintf(f, "end\n");
        }
        std::fclose(f);
        return p;
    }();
    return path;
}

void BM_RunScriptFromCache(benchmark::State& state) {
    StateWithHandler();
    SetLogSink(nullptr);
    const std::string& path = BigScript();
    RunScript(path.c_str());  // compiles once into the cache
    bench::Timed(state, [&] { RunScript(path.c_str()); });
}
BENCHMARK(BM_RunScriptFromCache)->Unit(benchmark::kMicrosecond);

void BM_CompileSourceBaseline(benchmark::State& state) {
    lua_State* L = StateWithHandler();
    std::string source;
    FILE* f = std::fopen((BigScript() + ".lua").c_str(), "rb");
    char piece[65536];
    size_t n;
    while ((n = std::fread(piece, 1, sizeof piece, f)) > 0) source.append(piece, n);
    std::fclose(f);
    bench::Timed(state, [&] {
        luaL_loadbuffer(L, source.data(), source.size(), "big");
        lua_pcall(L, 0, 0, 0);
    });
}
BENCHMARK(BM_CompileSourceBaseline)->Unit(benchmark::kMicrosecond);

// Plain Lua in the engine's state (watched: pcall, coroutine.resume and
// coroutine.wrap are the watch's own) beside the same Lua in a bare state of
// the same shared library: `code` is the Lua run, `calls` what it counts.
struct LuaWorkload {
    const char* code;
    int calls;
};
const LuaWorkload kTightLoop = {"local s = 0 for i = 1, 100000 do s = s + i end", 100000};
const LuaWorkload kRecursion = {
    "local function f(n) if n < 2 then return n end return f(n - 1) + f(n - 2) end f(18)", 8361};
const LuaWorkload kResume = {
    "local co = coroutine.create(function() while true do coroutine.yield() end end) "
    "local resume = coroutine.resume for i = 1, 10000 do resume(co) end",
    10000};
const LuaWorkload kWrap = {
    "local f = coroutine.wrap(function() while true do coroutine.yield() end end) for i = 1, 10000 do f() end", 10000};
const LuaWorkload kPcall = {
    "local pcall, f = pcall, function(a) return a end for i = 1, 10000 do pcall(f, i) end", 10000};
const LuaWorkload kStrings = {
    "local s = '' for i = 1, 2000 do s = s .. i .. ',' end local t = {} "
    "for i = 1, 2000 do t[i] = 'item ' .. i end s = table.concat(t, ' ')",
    4000};

lua_State* BareState() {
    static lua_State* L = [] {
        lua_State* s = luaL_newstate();
        luaL_openlibs(s);
        return s;
    }();
    return L;
}

void RunInEngine(benchmark::State& state, const LuaWorkload& w) {
    RunLuaChunkLoop(state, StateWithHandler(), w.code, w.calls);
}
void RunBare(benchmark::State& state, const LuaWorkload& w) { RunLuaChunkLoop(state, BareState(), w.code, w.calls); }

void BM_LuaLoopEngine(benchmark::State& state) { RunInEngine(state, kTightLoop); }
void BM_LuaLoopBareBaseline(benchmark::State& state) { RunBare(state, kTightLoop); }
void BM_LuaRecursionEngine(benchmark::State& state) { RunInEngine(state, kRecursion); }
void BM_LuaRecursionBareBaseline(benchmark::State& state) { RunBare(state, kRecursion); }
void BM_LuaResumeEngine(benchmark::State& state) { RunInEngine(state, kResume); }
void BM_LuaResumeBareBaseline(benchmark::State& state) { RunBare(state, kResume); }
void BM_LuaWrapEngine(benchmark::State& state) { RunInEngine(state, kWrap); }
void BM_LuaWrapBareBaseline(benchmark::State& state) { RunBare(state, kWrap); }
void BM_LuaPcallEngine(benchmark::State& state) { RunInEngine(state, kPcall); }
void BM_LuaPcallBareBaseline(benchmark::State& state) { RunBare(state, kPcall); }
void BM_LuaStringsEngine(benchmark::State& state) { RunInEngine(state, kStrings); }
void BM_LuaStringsBareBaseline(benchmark::State& state) { RunBare(state, kStrings); }
BENCHMARK(BM_LuaLoopEngine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LuaLoopBareBaseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LuaRecursionEngine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LuaRecursionBareBaseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LuaResumeEngine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LuaResumeBareBaseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LuaWrapEngine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LuaWrapBareBaseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LuaPcallEngine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LuaPcallBareBaseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LuaStringsEngine)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LuaStringsBareBaseline)->Unit(benchmark::kMicrosecond);

}  // namespace
