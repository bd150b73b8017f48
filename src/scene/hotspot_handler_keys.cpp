#include "scene/hotspot_handler_keys.h"

#include <cstring>
#include <string>
#include <vector>

#include "script/lua_host.h"

namespace {

// The events in the order of an entry's keys 1 to 6; the name is key 7.
constexpr struct {
    const char* event;
    size_t length;
    uint32_t bit;
} kEvents[] = {{"_MouseMove", 10, kHotspotMouseMove},   {"_MouseDown", 10, kHotspotMouseDown},
               {"_MouseUp", 8, kHotspotMouseUp},       {"_MouseClick", 11, kHotspotMouseClick},
               {"_MouseEnter", 11, kHotspotMouseEnter}, {"_MouseLeave", 11, kHotspotMouseLeave}};
constexpr int kEventCount = int(sizeof kEvents / sizeof kEvents[0]);
constexpr int kNameKey = kEventCount + 1;
constexpr int kCountKey = 0;  // the table's count of entries

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

// Pushes "<name>_<event>" (a plain buffer: this runs where Lua may raise).
void PushKey(lua_State* L, const char* name, size_t length, int event) {
    char key[kMaxKeptHandlerName + 16];
    if (length <= kMaxKeptHandlerName) {
        std::memcpy(key, name, length);
        std::memcpy(key + length, kEvents[event].event, kEvents[event].length);
        lua_pushlstring(L, key, length + kEvents[event].length);
    } else {
        lua_pushlstring(L, name, length);
        lua_pushlstring(L, kEvents[event].event, kEvents[event].length);
        lua_concat(L, 2);
    }
}

struct Names {
    const char* const* pointers;  // compared by address only
    const std::string* texts;     // their copies
    size_t count;
    uint32_t* bits;
    bool keep;
    size_t done = 0;  // names read so far
};

// Stores the entry of the name: its six keys and its text, in a table
// started anew when it holds kMaxKeptHandlerNames names. Leaves the stack
// as it found it.
void Keep(lua_State* L, const void* pointer, const std::string& text) {
    const int top = lua_gettop(L);
    bool fresh = !PushTable(L);
    if (!fresh) {
        lua_rawgeti(L, -1, kCountKey);
        fresh = lua_tonumber(L, -1) >= lua_Number(kMaxKeptHandlerNames);
        lua_pop(L, 2);
    }
    if (fresh) {
        lua_pushlightuserdata(L, const_cast<char*>(&g_table_key));
        lua_newtable(L);
        lua_rawset(L, LUA_REGISTRYINDEX);
    }
    PushTable(L);
    lua_rawgeti(L, -1, kCountKey);
    const lua_Number count = lua_tonumber(L, -1);
    lua_pop(L, 1);
    lua_pushlightuserdata(L, const_cast<void*>(pointer));
    lua_createtable(L, kNameKey, 0);
    for (int i = 0; i < kEventCount; ++i) {
        PushKey(L, text.data(), text.size(), i);
        lua_rawseti(L, -2, i + 1);
    }
    lua_pushlstring(L, text.data(), text.size());
    lua_rawseti(L, -2, kNameKey);
    lua_rawset(L, -3);
    lua_pushnumber(L, count + 1);
    lua_rawseti(L, -2, kCountKey);
    lua_settop(L, top);
}

// (Names*) -> nothing; reads names from done on, raw, until _G has a
// metatable. Keeps the keys of the names read when asked.
int ReadNames(lua_State* L, void* context) {
    Names* n = static_cast<Names*>(context);
    for (; n->done < n->count; ++n->done) {
        const std::string& name = n->texts[n->done];
        if (name.empty()) {
            n->bits[n->done] = 0;
            continue;
        }
        if (lua_getmetatable(L, LUA_GLOBALSINDEX)) return 0;  // set by what a collection step ran
        uint32_t found = 0;
        for (int i = 0; i < kEventCount; ++i) {
            PushKey(L, name.data(), name.size(), i);
            lua_rawget(L, LUA_GLOBALSINDEX);
            if (!lua_isnil(L, -1)) found |= kEvents[i].bit;
            lua_pop(L, 1);
        }
        if (n->keep && name.size() <= kMaxKeptHandlerName) {
            uint32_t kept;
            if (!ReadHandlerBitsRaw(L, n->pointers[n->done], &kept)) Keep(L, n->pointers[n->done], name);
        }
        n->bits[n->done] = found;
    }
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

void ReadHandlerBitsOfNames(lua_State* L, const char* const* names, size_t count, uint32_t* bits) {
    if (!L) {
        for (size_t i = 0; i < count; ++i) bits[i] = 0;
        return;
    }
    std::vector<std::string> texts(count);
    for (size_t i = 0; i < count; ++i)
        if (names[i]) texts[i] = names[i];
    Names n{names, texts.data(), count, bits, count <= kKeptListNames};
    while (n.done < n.count) {
        const int top = lua_gettop(L);
        bool through_metatable = lua_getmetatable(L, LUA_GLOBALSINDEX) != 0;
        lua_settop(L, top);
        if (!through_metatable && ScriptPushProtected(L, ReadNames, &n, nullptr) == 0) continue;
        lua_settop(L, top);  // an error left on top, or the read stopped at a metatable
        if (n.done >= n.count) break;
        // This name alone, through any metatable and protected per global.
        bits[n.done] = HotspotHandlerBits(texts[n.done].c_str());
        ++n.done;
    }
}

size_t KeptHandlerNames(lua_State* L) {
    if (!L || !PushTable(L)) return 0;
    lua_rawgeti(L, -1, kCountKey);
    const size_t count = size_t(lua_tonumber(L, -1));
    lua_pop(L, 2);
    return count;
}
