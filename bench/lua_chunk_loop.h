#pragma once
// Runs a compiled Lua chunk once per benchmark iteration; the chunk makes
// calls_per_run calls of what is measured.
#include <benchmark/benchmark.h>

#include "timed.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

inline void RunLuaChunkLoop(benchmark::State& state, lua_State* L, const char* code, int calls_per_run) {
    luaL_loadstring(L, code);
    const int chunk = luaL_ref(L, LUA_REGISTRYINDEX);
    bench::Timed(state, [&] {
        lua_rawgeti(L, LUA_REGISTRYINDEX, chunk);
        lua_pcall(L, 0, 0, 0);
    });
    luaL_unref(L, LUA_REGISTRYINDEX, chunk);
    state.SetItemsProcessed(state.iterations() * calls_per_run);
}
