#include "scriptapi/constructor_fields.h"

#include <cassert>
#include <cstdio>
#include <cstring>

extern "C" {
#include <lua.h>
}

#include "base/string_pool.h"
#include "base/text.h"
#include "script/lua_host.h"
#include "script/script_watch.h"

namespace {

// Called protected with (table, field): looks the field's key up in the
// table and records what it holds. Returns the text it points at (the
// string itself, or a number's decimal text), which keeps that text alive
// on the caller's stack; nil when there is none.
int ReadField(lua_State* L) {
    auto* f = static_cast<ConstructorFields::Field*>(lua_touserdata(L, 2));
    lua_settop(L, 1);
    lua_pushstring(L, f->key);
    lua_gettable(L, 1);
    const int type = lua_type(L, -1);
    f->numeric = lua_isnumber(L, -1) != 0;
    f->number = f->numeric ? lua_tonumber(L, -1) : 0;
    f->boolean = type == LUA_TBOOLEAN && lua_toboolean(L, -1);
    f->pointer = type == LUA_TLIGHTUSERDATA ? lua_touserdata(L, -1) : nullptr;
    if (type == LUA_TSTRING || type == LUA_TNUMBER) {
        lua_pushvalue(L, -1);
        f->text = lua_tostring(L, -1);  // a number's copy becomes its text
    } else {
        lua_pushnil(L);
    }
    f->type = type;  // last: a read cut short by an error leaves the field missing
    return 1;
}

}  // namespace

ConstructorFields::ConstructorFields(lua_State* L, int index, std::initializer_list<const char*> keys) {
    assert(keys.size() <= kMaxFields);
    for (const char* key : keys)
        if (count_ < kMaxFields) fields_[count_++] = Field{key};
    if (!L || !lua_istable(L, index)) return;
    if (index < 0 && index > LUA_REGISTRYINDEX) index = lua_gettop(L) + index + 1;
    // One slot per kept text, and the reader with its two arguments.
    if (!lua_checkstack(L, int(count_) + 4)) return;
    lua_pushcfunction(L, ReadField);
    const int reader = lua_gettop(L);
    for (size_t i = 0; i < count_; ++i) {
        Field& f = fields_[i];
        lua_pushvalue(L, reader);
        lua_pushvalue(L, index);
        lua_pushlightuserdata(L, &f);
        if (ScriptPcall(L, 2, 1) != 0) {
            f = Field{f.key};
            lua_pop(L, 1);  // the error
            if (ScriptStopPending()) break;  // nothing more is read
        }
    }
}

const ConstructorFields::Field* ConstructorFields::Find(const char* key) const {
    for (size_t i = 0; i < count_; ++i)
        if (const Field& f = fields_[i]; f.key == key || std::strcmp(f.key, key) == 0) return f.type >= 0 ? &f : nullptr;
    assert(!"a constructor reads a key it did not list");
    return nullptr;
}

int ConstructorFields::Int(const char* key, int fallback) const {
    const Field* f = Find(key);
    return f && f->numeric ? SaturateToInt(f->number) : fallback;
}

float ConstructorFields::Number(const char* key, float fallback) const {
    const Field* f = Find(key);
    return f && f->numeric ? float(f->number) : fallback;
}

const char* ConstructorFields::String(const char* key, const char* fallback, bool intern) const {
    const Field* f = Find(key);
    if (!f || !f->text) return fallback;
    return intern ? CommonStrings().Intern(f->text) : f->text;
}

const char* ConstructorFields::StringOnly(const char* key) const {
    const Field* f = Find(key);
    return f && f->type == LUA_TSTRING ? f->text : nullptr;
}

int ConstructorFields::Bool(const char* key) const {
    const Field* f = Find(key);
    return f && f->type == LUA_TBOOLEAN ? (f->boolean ? 1 : 0) : -1;
}

uint32_t ConstructorFields::Color(const char* key, uint32_t fallback) const {
    // A number's text is its decimal form ("%.14g"): 255 is the colour 0x255.
    return ParseHexColor(String(key, nullptr, false), fallback);
}

void* ConstructorFields::Userdata(const char* key) const {
    const Field* f = Find(key);
    return f ? f->pointer : nullptr;
}
