#pragma once
// The names of a hotspot's handler globals ("<name>_MouseMove" and the
// rest), kept as Lua strings in the registry so the globals can be read
// without making a string: a read that allocates nothing runs no
// collection step, so no finalizer, and cannot fail.
#include <cstddef>
#include <cstdint>

extern "C" {
#include <lua.h>
}

// The handler bits of the hotspot name (those of HotspotHandlerBits; none
// for a null or empty name) read from _G raw, with no Lua call: false
// (bits untouched) when _G has a metatable, whose __index a raw read would
// skip, or when the name's keys are not kept yet.
bool ReadHandlerBitsRaw(lua_State* L, const char* name, uint32_t* bits);

// Keeps the keys of the name, unless they are kept already or _G has a
// metatable (the name is copied first; its text is kept with the keys, so
// a pointer that comes to hold another text is not mistaken for it).
// Protected and quiet: at the memory ceiling nothing is kept. Names longer
// than kMaxKeptHandlerName are not kept.
constexpr size_t kMaxKeptHandlerName = 256;
void KeepHandlerKeys(lua_State* L, const char* name);
