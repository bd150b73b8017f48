// Script calls and cached script runs, each beside its baseline.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

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

}  // namespace
