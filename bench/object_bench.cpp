// Script functions called from Lua, each beside its baseline: a registered
// text function against a bare lua_CFunction that pushes the same text, and
// number properties read and written through the property functions.
#include <benchmark/benchmark.h>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "app/engine.h"
#include "script/lua_host.h"
#include "script/object_model.h"

namespace {

constexpr int kCallsPerRun = 1000;

int BareBuild(lua_State* L) {
    lua_pushstring(L, BuildMode());
    return 1;
}

int BareTwoArguments(lua_State*) { return 0; }

lua_State* BenchState() {
    static lua_State* L = [] {
        CreateScriptState();
        RegisterAllClassProperties();
        lua_State* s = ScriptState();
        lua_register(s, "bare_build", BareBuild);
        lua_register(s, "bare_two", BareTwoArguments);
        EObject* camera = CreateObjectByClass("view");
        lua_pushlightuserdata(s, camera ? camera->Handle() : nullptr);
        lua_setglobal(s, "cam");
        ScriptRun(R"(
            function calls(f, n) for i = 1, n do f() end end
            function get_fov(n) local get = ge_getproperty for i = 1, n do get(cam, 'fov') end end
            function set_fov(n) local set = ge_setproperty for i = 1, n do set(cam, 'fov', i) end end
            function two(n) local f = bare_two for i = 1, n do f(cam, 'fov') end end
        )");
        return s;
    }();
    return L;
}

// Runs a Lua function of (f, n) or (n) kCallsPerRun times per iteration.
void RunLoop(benchmark::State& state, const char* runner, const char* function) {
    lua_State* L = BenchState();
    for (auto _ : state) {
        lua_getglobal(L, runner);
        int args = 1;
        if (function) {
            lua_getglobal(L, function);
            ++args;
        }
        lua_pushnumber(L, kCallsPerRun);
        lua_pcall(L, args, 0, 0);
    }
    state.SetItemsProcessed(state.iterations() * kCallsPerRun);
}

void BM_ScriptFunctionGetBuild(benchmark::State& state) { RunLoop(state, "calls", "ge_getbuild"); }
BENCHMARK(BM_ScriptFunctionGetBuild);

void BM_BareCFunctionBaseline(benchmark::State& state) { RunLoop(state, "calls", "bare_build"); }
BENCHMARK(BM_BareCFunctionBaseline);

void BM_GetPropertyNumber(benchmark::State& state) { RunLoop(state, "get_fov", nullptr); }
BENCHMARK(BM_GetPropertyNumber);

void BM_SetPropertyNumber(benchmark::State& state) { RunLoop(state, "set_fov", nullptr); }
BENCHMARK(BM_SetPropertyNumber);

void BM_BareTwoArgumentCallBaseline(benchmark::State& state) { RunLoop(state, "two", nullptr); }
BENCHMARK(BM_BareTwoArgumentCallBaseline);

}  // namespace
