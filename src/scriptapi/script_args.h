#pragma once
// Argument reading shared by the script function families: integers that
// saturate instead of wrapping, the index of the last argument, and the
// pushing of an optional text.
#include <cstdint>

extern "C" {
#include <lua.h>
}

#include "script/lua_host.h"

namespace script_args {

// Short names for the Lua host's readers (script/lua_host.h), the one place
// where arguments are read.
inline int32_t Int(lua_State* L, int i) { return ScriptArgInt(L, i); }
inline float Float(lua_State* L, int i) { return ScriptArgFloat(L, i); }
// The index of the last argument; in an empty call an index that reads as
// missing.
inline int Last(lua_State* L) { return ScriptLastArg(L); }
// The last argument as text (a number counts), null when there is none.
inline const char* LastText(lua_State* L) { return ScriptArgText(L, ScriptLastArg(L)); }
// Argument i as text (a number counts), null otherwise.
inline const char* Text(lua_State* L, int i) { return ScriptArgText(L, i); }

// Pushes the text, or nil for null: one result either way.
inline int PushTextOrNil(lua_State* L, const char* text) {
    if (text)
        lua_pushstring(L, text);
    else
        lua_pushnil(L);
    return 1;
}

// One result without a value of its own: the caller receives its own last
// argument back (scripts assign such calls). A call without arguments gets
// nil rather than the function itself.
inline int GiveBackLastArgument(lua_State* L) {
    const int top = lua_gettop(L);
    if (top > 0)
        lua_pushvalue(L, top);
    else
        lua_pushnil(L);
    return 1;
}

// Pushes an object handle, or nil for null.
inline int PushHandleOrNil(lua_State* L, void* handle) {
    if (handle)
        lua_pushlightuserdata(L, handle);
    else
        lua_pushnil(L);
    return 1;
}

}  // namespace script_args
