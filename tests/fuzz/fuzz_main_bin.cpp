// The compiled-script cache "main.bin" from hostile bytes: parsed, every
// chunk checked, and the chunks that pass loaded (not run) by Lua. The same
// bytes as a script's text: compiled, or checked first when they start
// like a chunk.
#include <cstdint>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "script/lua_chunk.h"
#include "script/script_cache.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = fuzz::QuietLog();
    (void)quiet;
    static lua_State* L = luaL_newstate();
    lua_settop(L, 0);
    LoadScriptText(L, data, size, "fuzz");
    lua_settop(L, 0);
    std::vector<ScriptCacheRecord> records;
    if (!ParseScriptCache(data, size, records)) return 0;
    for (const ScriptCacheRecord& r : records) {
        if (!CheckLuaChunk(r.chunk.data(), r.chunk.size())) __builtin_trap();
        std::vector<uint8_t> stripped;
        StripLuaChunk(r.chunk.data(), r.chunk.size(), stripped);
        if (luaL_loadbuffer(L, reinterpret_cast<const char*>(r.chunk.data()), r.chunk.size(), "fuzz") == 0)
            lua_pop(L, 1);
        else
            lua_pop(L, 1);
    }
    return 0;
}
