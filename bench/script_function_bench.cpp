// A registered script function called from Lua (ge_getbuild) beside a bare
// lua_CFunction that pushes the same text.
#include <benchmark/benchmark.h>

#include "lua_chunk_loop.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "app/engine.h"
#include "script/lua_host.h"

namespace {

int BareBuild(lua_State* L) {
    lua_pushstring(L, BuildMode());
    return 1;
}

// Runs a loop of 1000 calls of the global named f.
void CallLoop(benchmark::State& state, lua_CFunction f) {
    if (!ScriptState()) CreateScriptState();
    lua_State* L = ScriptState();
    if (f) {
        lua_pushcfunction(L, f);
        lua_setglobal(L, "bench_target");
    } else {
        lua_getglobal(L, "ge_getbuild");
        lua_setglobal(L, "bench_target");
    }
    RunLuaChunkLoop(state, L, "local f = bench_target for i = 1, 1000 do local s = f() end", 1000);
}

void BM_GetBuildFromLua(benchmark::State& state) { CallLoop(state, nullptr); }
BENCHMARK(BM_GetBuildFromLua);

void BM_BareFunctionBaseline(benchmark::State& state) { CallLoop(state, BareBuild); }
BENCHMARK(BM_BareFunctionBaseline);

}  // namespace
