// Hotspot lookups from scripts beside their baselines: hs_get of the last
// of 1,000 hotspots by name against a bare C function handing back one
// pointer, and ge_gethotspotat against a bare function reading the same
// map cell.
#include <benchmark/benchmark.h>

#include "lua_chunk_loop.h"

#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "app/engine.h"
#include "app/scene_switch.h"
#include "base/string_pool.h"
#include "media/image/image_data.h"
#include "scene/game_scene.h"
#include "scene/hot_spot.h"
#include "scene/hotspot_map.h"
#include "script/lua_host.h"

namespace {

constexpr int kHotspots = 1000;

// A cube scene of 1,000 map hotspots made current in an engine of its own;
// the map cell at yaw 180, pitch 0 names the 255th (a cell holds one
// byte, so 255 is as far down the list as a cell reaches).
struct WorldBench {
    Engine engine;
    Engine* previous = CurrentEngine();
    GameScene* scene = nullptr;
    HotSpot* last = nullptr;

    WorldBench() {
        if (!ScriptState()) CreateScriptState();
        SetCurrentEngine(&engine);
        scene = ListFindOrAddGameScene(engine.scenes, CommonStrings().Intern("bench_world"));
        scene->viewtype = kViewCube;
        for (int i = 0; i < kHotspots; ++i) {
            HotSpot* h = ListAppendNew(scene->hotspots);
            h->name = CommonStrings().Intern(("hotspot_" + std::to_string(i)).c_str());
            h->owner = &scene->hotspots;
            h->hs_type = kHotspotMap;
            last = h;
        }
        engine.currentScene = scene;
        PrepareHotspotMap();
        if (ImageData* map = HotspotMapImage()) map->pixels[180 + 90 * kHotspotMapWidth] = 255;
    }
    ~WorldBench() {
        engine.currentScene = nullptr;
        FreeHotspotMap();
        SetCurrentEngine(previous);
    }
};

void* g_answer = nullptr;

int BarePointer(lua_State* L) {
    lua_pushlightuserdata(L, g_answer);
    return 1;
}

int BareCell(lua_State* L) {
    lua_pushnumber(L, HotspotMapCell(static_cast<int>(lua_tonumber(L, 1)), static_cast<int>(lua_tonumber(L, 2))));
    return 1;
}

// 1,000 calls of f(args) per iteration.
void CallLoop(benchmark::State& state, lua_CFunction f, const char* name, const char* args) {
    WorldBench world;
    g_answer = world.last->Handle();
    lua_State* L = ScriptState();
    if (f) lua_pushcfunction(L, f);
    else lua_getglobal(L, name);
    lua_setglobal(L, "bench_target");
    const std::string code = std::string("local f = bench_target for i = 1, 1000 do local r = f(") + args + ") end";
    RunLuaChunkLoop(state, L, code.c_str(), 1000);
}

void BM_HotspotByNameAmong1000(benchmark::State& state) { CallLoop(state, nullptr, "hs_get", "'HOTSPOT_999'"); }
BENCHMARK(BM_HotspotByNameAmong1000);

void BM_HotspotByNameBaseline(benchmark::State& state) { CallLoop(state, BarePointer, nullptr, "'HOTSPOT_999'"); }
BENCHMARK(BM_HotspotByNameBaseline);

void BM_HotspotAtDirection(benchmark::State& state) { CallLoop(state, nullptr, "ge_gethotspotat", "180, 0"); }
BENCHMARK(BM_HotspotAtDirection);

void BM_HotspotAtDirectionBaseline(benchmark::State& state) { CallLoop(state, BareCell, nullptr, "180, 0"); }
BENCHMARK(BM_HotspotAtDirectionBaseline);

}  // namespace
