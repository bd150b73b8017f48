// Number properties read and written from Lua through the property
// functions, beside a bare lua_CFunction called with the same arguments.
// (A text function against a bare one: script_function_bench.)
#include <benchmark/benchmark.h>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "timed.h"
#include "kept.h"
#include "script/lua_host.h"
#include "script/object_model.h"

namespace {

constexpr int kCallsPerRun = 1000;

int BareTwoArguments(lua_State*) { return 0; }

// The camera the loops read and write. Dropped (before an engine run in this
// process), the loops go with it: the next run sets up both again.
struct FovCamera {
    EObject* camera = CreateObjectByClass("view");
    FovCamera() = default;
    FovCamera(const FovCamera&) = delete;
    FovCamera& operator=(const FovCamera&) = delete;
    ~FovCamera() {
        if (lua_State* L = ScriptState()) {
            lua_pushnil(L);
            lua_setglobal(L, "get_fov");
        }
        delete camera;
    }
};

// The state (the one other benchmarks share), with the camera and the loops.
lua_State* BenchState() {
    if (!ScriptState()) CreateScriptState();
    lua_State* L = ScriptState();
    lua_getglobal(L, "get_fov");
    const bool ready = lua_isfunction(L, -1);
    lua_pop(L, 1);
    if (ready) return L;
    RegisterAllClassProperties();
    EObject* camera = bench::Kept<FovCamera>().camera;
    lua_register(L, "bare_two", BareTwoArguments);
    lua_pushlightuserdata(L, camera ? camera->Handle() : nullptr);
    lua_setglobal(L, "cam");
    ScriptRun(R"(
        function get_fov(n) local get = ge_getproperty for i = 1, n do get(cam, 'fov') end end
        function set_fov(n) local set = ge_setproperty for i = 1, n do set(cam, 'fov', i) end end
        function two(n) local f = bare_two for i = 1, n do f(cam, 'fov') end end
    )");
    return L;
}

// Runs the Lua function of that name with kCallsPerRun per iteration.
void RunLoop(benchmark::State& state, const char* runner) {
    lua_State* L = BenchState();
    bench::Timed(state, [&] {
        lua_getglobal(L, runner);
        lua_pushnumber(L, kCallsPerRun);
        lua_pcall(L, 1, 0, 0);
    });
    state.SetItemsProcessed(state.iterations() * kCallsPerRun);
}

void BM_GetPropertyNumber(benchmark::State& state) { RunLoop(state, "get_fov"); }
BENCHMARK(BM_GetPropertyNumber);

void BM_SetPropertyNumber(benchmark::State& state) { RunLoop(state, "set_fov"); }
BENCHMARK(BM_SetPropertyNumber);

void BM_BareTwoArgumentCallBaseline(benchmark::State& state) { RunLoop(state, "two"); }
BENCHMARK(BM_BareTwoArgumentCallBaseline);

}  // namespace
