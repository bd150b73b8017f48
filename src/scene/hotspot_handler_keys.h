#pragma once
// The handler bits of hotspot names (those of HotspotHandlerBits: one per
// "<name>_MouseMove" and the rest that is not nil in _G).
//
// The six global names of a few hotspot names are kept as Lua strings in
// the registry, so the globals of a short list can be read without making
// a string: a read that allocates nothing runs no collection step, so no
// finalizer, and cannot fail. The keys kept are few (at most
// kMaxKeptHandlerNames names, about 0.6 KB each, those of lists of at most
// kKeptListNames): every string kept is one more the collector walks on
// every cycle, so a long list is read the protected way instead.
#include <cstddef>
#include <cstdint>

extern "C" {
#include <lua.h>
}

constexpr size_t kKeptListNames = 8;
constexpr size_t kMaxKeptHandlerNames = 2 * kKeptListNames;  // a scene's list and the global one
constexpr size_t kMaxKeptHandlerName = 256;

// The handler bits of the name (none for a null or empty name) read from _G
// raw, with no Lua call: false (bits untouched) when _G has a metatable,
// whose __index a raw read would skip, or when the name's keys are not kept.
bool ReadHandlerBitsRaw(lua_State* L, const char* name, uint32_t* bits);

// The handler bits of count names, into bits, read in one protected push
// (a collection step may run, and with it a finalizer: the names' texts are
// copied first and only compared by address after). The keys of a list of
// at most kKeptListNames names are kept for the next read; a longer
// list keeps none and leaves the kept ones. Without a state every name
// reads none; a name the push could not read (memory at the ceiling, a
// metatable on _G) is read alone through HotspotHandlerBits.
void ReadHandlerBitsOfNames(lua_State* L, const char* const* names, size_t count, uint32_t* bits);

// The number of names whose keys are kept.
size_t KeptHandlerNames(lua_State* L);
