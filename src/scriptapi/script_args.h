#pragma once
// Argument reading shared by the script function families: integers that
// saturate instead of wrapping, the index of the last argument, and the
// pushing of an optional text.
#include <cstdint>

extern "C" {
#include <lua.h>
}

#include "base/text.h"

namespace script_args {

// Argument i as an integer: a number (or numeric text) truncated toward
// zero and held to the int32 range; NaN and anything else read as 0.
inline int32_t Int(lua_State* L, int i) { return SaturateToInt(lua_tonumber(L, i)); }
inline float Float(lua_State* L, int i) { return static_cast<float>(lua_tonumber(L, i)); }

// The index of the last argument, 0 for an empty call (then nothing is read
// at all: index 0 is no argument).
inline int Last(lua_State* L) { return lua_gettop(L); }
// The last argument as text (a number counts), null when there is none.
inline const char* LastText(lua_State* L) {
    int top = lua_gettop(L);
    return top > 0 && lua_isstring(L, top) ? lua_tostring(L, top) : nullptr;
}

// Argument i as text (a number counts), null otherwise.
inline const char* Text(lua_State* L, int i) { return lua_isstring(L, i) ? lua_tostring(L, i) : nullptr; }

// Pushes the text, or nil for null: one result either way.
inline int PushTextOrNil(lua_State* L, const char* text) {
    if (text)
        lua_pushstring(L, text);
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
