#include "scene/hotspot_handler_keys.h"

#include <cstring>

#include "script/lua_host.h"

namespace {

// The events in the order of an entry's keys 1 to 6; the name is key 7.
constexpr struct {
    const char* event;
    uint32_t bit;
} kEvents[] = {{"MouseMove", kHotspotMouseMove},   {"MouseDown", kHotspotMouseDown},
               {"MouseUp", kHotspotMouseUp},       {"MouseClick", kHotspotMouseClick},
               {"MouseEnter", kHotspotMouseEnter}, {"MouseLeave", kHotspotMouseLeave}};
constexpr int kEventCount = int(sizeof kEvents / sizeof kEvents[0]);
constexpr int kNameKey = kEventCount + 1;
constexpr int kCountKey = 0;  // the table's count of entries
// Past this many names the table starts anew, so renaming hotspots without
// end cannot grow it without end.
constexpr lua_Number kMaxNames = 4096;

// The registry's key of the table: the address of this variable.
const char g_table_key = 0;

// Pushes the table of entries, by name pointer; false (nothing pushed)
// when there is none. Allocates nothing.
bool PushTable(lua_State* L) {
    lua_pushlightuserdata(L, const_cast<char*>(&g_table_key));
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (lua_istable(L, -1)) return true;
    lua_pop(L, 1);
    return false;
}

struct Keep {
    const char* pointer;
    size_t length;
    char text[kMaxKeptHandlerName];
};

// (Keep*) -> nothing; the entry stored. Works from the copy of the name.
int KeepIn(lua_State* L, void* context) {
    const Keep* keep = static_cast<const Keep*>(context);
    bool fresh = !PushTable(L);
    if (!fresh) {
        lua_rawgeti(L, -1, kCountKey);
        fresh = lua_tonumber(L, -1) >= kMaxNames;
        lua_pop(L, 1);
    }
    if (fresh) {
        lua_settop(L, 0);
        lua_newtable(L);
        lua_pushlightuserdata(L, const_cast<char*>(&g_table_key));
        lua_pushvalue(L, -2);
        lua_rawset(L, LUA_REGISTRYINDEX);
    }
    lua_rawgeti(L, -1, kCountKey);
    const lua_Number count = lua_tonumber(L, -1);
    lua_pop(L, 1);
    lua_pushlightuserdata(L, const_cast<char*>(keep->pointer));
    lua_createtable(L, kNameKey, 0);
    for (int i = 0; i < kEventCount; ++i) {
        lua_pushlstring(L, keep->text, keep->length);
        lua_pushliteral(L, "_");
        lua_pushstring(L, kEvents[i].event);
        lua_concat(L, 3);
        lua_rawseti(L, -2, i + 1);
    }
    lua_pushlstring(L, keep->text, keep->length);
    lua_rawseti(L, -2, kNameKey);
    lua_rawset(L, -3);
    lua_pushnumber(L, count + 1);
    lua_rawseti(L, -2, kCountKey);
    return 0;
}

}  // namespace

bool ReadHandlerBitsRaw(lua_State* L, const char* name, uint32_t* bits) {
    if (!name || !*name) {
        *bits = 0;
        return true;
    }
    if (!L) return false;
    if (lua_getmetatable(L, LUA_GLOBALSINDEX)) {
        lua_pop(L, 1);
        return false;
    }
    if (!PushTable(L)) return false;
    lua_pushlightuserdata(L, const_cast<char*>(name));
    lua_rawget(L, -2);
    bool same = false;
    if (lua_istable(L, -1)) {
        lua_rawgeti(L, -1, kNameKey);
        size_t length = 0;
        const char* kept = lua_type(L, -1) == LUA_TSTRING ? lua_tolstring(L, -1, &length) : nullptr;
        same = kept && length == std::strlen(name) && std::memcmp(kept, name, length) == 0;
        lua_pop(L, 1);
    }
    if (!same) {
        lua_pop(L, 2);
        return false;
    }
    uint32_t found = 0;
    for (int i = 0; i < kEventCount; ++i) {
        lua_rawgeti(L, -1, i + 1);
        lua_rawget(L, LUA_GLOBALSINDEX);
        if (!lua_isnil(L, -1)) found |= kEvents[i].bit;
        lua_pop(L, 1);
    }
    lua_pop(L, 2);
    *bits = found;
    return true;
}

void KeepHandlerKeys(lua_State* L, const char* name) {
    uint32_t bits;
    if (!L || ReadHandlerBitsRaw(L, name, &bits)) return;  // kept already, or nothing to keep
    if (lua_getmetatable(L, LUA_GLOBALSINDEX)) {
        lua_pop(L, 1);  // read through the metatable every time
        return;
    }
    Keep keep;
    keep.pointer = name;
    keep.length = std::strlen(name);
    if (keep.length > sizeof keep.text) return;
    std::memcpy(keep.text, name, keep.length);
    const int top = lua_gettop(L);
    if (ScriptPushProtected(L, KeepIn, &keep, nullptr) < 0) lua_settop(L, top);  // the error left on top
}
