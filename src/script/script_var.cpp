#include "script/script_var.h"

#include <cstdio>
#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "script/lua_host.h"

namespace {

constinit ScriptVarBase* g_var_head = nullptr;

lua_State* g_keys_state = nullptr;  // the state the variables' keys were made in

// Pushes table.key read raw, or nothing (false) when the table is not a
// table. Runs no Lua and allocates nothing: the keys are strings kept in
// the registry, and raw reads neither call metamethods nor step the
// collector, so a read in the middle of engine work cannot free anything.
bool PushRawField(lua_State* L, const ScriptVarBase* var) {
    if (L != g_keys_state || var->table_ref == LUA_NOREF) return false;
    lua_rawgeti(L, LUA_REGISTRYINDEX, var->table_ref);
    lua_rawget(L, LUA_GLOBALSINDEX);
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return false;
    }
    lua_rawgeti(L, LUA_REGISTRYINDEX, var->key_ref);
    lua_rawget(L, -2);
    lua_remove(L, -2);
    return true;
}

struct FieldWrite {
    ScriptVarBase* var;
    void (*push)(ScriptVarBase* var, void* state);
};

// Raw as the read is; protected, because a table that grows may find no
// memory.
int WriteFieldProtected(lua_State* L) {
    FieldWrite* op = static_cast<FieldWrite*>(lua_touserdata(L, 1));
    lua_rawgeti(L, LUA_REGISTRYINDEX, op->var->table_ref);
    lua_rawget(L, LUA_GLOBALSINDEX);
    if (!lua_istable(L, -1)) return 0;
    lua_rawgeti(L, LUA_REGISTRYINDEX, op->var->key_ref);
    op->push(op->var, L);
    lua_rawset(L, -3);
    return 0;
}

// The value less one trailing separator.
std::string WithoutTrailingSeparator(const std::string& value) {
    if (!value.empty() && (value.back() == '/' || value.back() == '\\'))
        return value.substr(0, value.size() - 1);
    return value;
}

// The path variables: keys that stand for their values in stored paths.
ScriptVarString* const kPathVariables[] = {&g_local_path};

}  // namespace

ScriptVarString g_dir_root("_G", "DIR_ROOT");
ScriptVarString g_dir_stages("_G", "DIR_STAGES");
ScriptVarString g_dir_scripts("_G", "DIR_SCRIPTS");
ScriptVarString g_local_path("_G", "_LOCAL");
ScriptVarNumber g_display_fov("Display", "fov");
ScriptVarNumber g_display_aspect("Display", "aspect");
ScriptVarBool g_display_useshaders("Display", "useshaders");
ScriptVarNumber g_fade_fx_time("Gameplay", "fadefxtime");
ScriptVarNumber g_page_fx_time("Gameplay", "pagefxtime");
ScriptVarNumber g_walk_fx_time("Gameplay", "walkfxtime");
ScriptVarNumber g_dissolve_fx_time("Gameplay", "dissolvefxtime");

ScriptVarBase::ScriptVarBase(const char* t, const char* k, int ty) : table(t), key(k), type(ty), next(g_var_head) {
    g_var_head = this;
}

void ScriptVarBase::ReadField(void (*read)(ScriptVarBase*, void*)) {
    lua_State* L = ScriptState();
    if (!L) return;
    const int base = lua_gettop(L);
    if (!PushRawField(L, this)) lua_pushnil(L);
    read(this, L);
    lua_settop(L, base);
}

void ScriptVarBase::WriteField(void (*push)(ScriptVarBase*, void*)) {
    if (ScriptState() != g_keys_state || table_ref == LUA_NOREF) return;
    FieldWrite op{this, push};
    ScriptProtected(WriteFieldProtected, &op, key);
}

void ScriptVarNumber::Load() {
    value = 0;
    ReadField([](ScriptVarBase* v, void* s) {
        static_cast<ScriptVarNumber*>(v)->value = float(lua_tonumber(static_cast<lua_State*>(s), -1));
    });
}

void ScriptVarNumber::Store() {
    WriteField([](ScriptVarBase* v, void* s) {
        lua_pushnumber(static_cast<lua_State*>(s), static_cast<ScriptVarNumber*>(v)->value);
    });
}

float ScriptVarNumber::Get() {
    Load();
    return value;
}

void ScriptVarNumber::Set(float v) {
    value = v;
    Store();
}

void ScriptVarString::Load() {
    value.clear();
    ReadField([](ScriptVarBase* v, void* s) {
        lua_State* L = static_cast<lua_State*>(s);
        std::string& value = static_cast<ScriptVarString*>(v)->value;
        if (lua_type(L, -1) == LUA_TNUMBER) {
            // As Lua writes it, without converting the value in place
            // (which would allocate).
            char text[64];
            const int n = std::snprintf(text, sizeof text, LUA_NUMBER_FMT, lua_tonumber(L, -1));
            if (n > 0) value.assign(text, size_t(n) < sizeof text ? size_t(n) : sizeof text - 1);
            return;
        }
        if (lua_type(L, -1) != LUA_TSTRING) return;
        size_t len = 0;
        const char* text = lua_tolstring(L, -1, &len);
        if (text) value.assign(text, len);
    });
}

void ScriptVarString::Store() {
    WriteField([](ScriptVarBase* v, void* s) {
        const std::string& text = static_cast<ScriptVarString*>(v)->value;
        lua_pushlstring(static_cast<lua_State*>(s), text.data(), text.size());
    });
}

const std::string& ScriptVarString::Get() {
    Load();
    return value;
}

void ScriptVarBool::Load() {
    value = false;
    ReadField([](ScriptVarBase* v, void* s) {
        static_cast<ScriptVarBool*>(v)->value = lua_toboolean(static_cast<lua_State*>(s), -1) != 0;
    });
}

void ScriptVarBool::Store() {
    WriteField([](ScriptVarBase* v, void* s) {
        lua_pushboolean(static_cast<lua_State*>(s), static_cast<ScriptVarBool*>(v)->value);
    });
}

bool ScriptVarBool::Get() {
    Load();
    return value;
}

ScriptVarBase* ScriptVarListHead() { return g_var_head; }

void PrepareScriptVarKeys(lua_State* L) {
    g_keys_state = L;
    for (ScriptVarBase* v = g_var_head; v; v = v->next) {
        v->table_ref = v->key_ref = LUA_NOREF;
        if (!L) continue;
        lua_pushstring(L, v->table);
        v->table_ref = luaL_ref(L, LUA_REGISTRYINDEX);
        lua_pushstring(L, v->key);
        v->key_ref = luaL_ref(L, LUA_REGISTRYINDEX);
    }
}

void ReloadAllScriptVars() {
    for (ScriptVarBase* v = g_var_head; v; v = v->next) v->Load();
}

std::string ExpandPathVariables(const char* text) {
    std::string out;
    if (!text) return out;
    struct Var {
        const char* key;
        size_t key_len;
        std::string value;
    };
    Var vars[std::size(kPathVariables)];
    for (size_t i = 0; i < std::size(kPathVariables); ++i)
        vars[i] = {kPathVariables[i]->key, std::strlen(kPathVariables[i]->key),
                   WithoutTrailingSeparator(kPathVariables[i]->Get())};
    for (const char* p = text; *p;) {
        bool matched = false;
        for (const Var& v : vars) {
            if (std::strncmp(p, v.key, v.key_len) == 0) {
                out += v.value;
                p += v.key_len;
                matched = true;
                break;
            }
        }
        if (!matched) out += *p++;
    }
    return out;
}

std::string ContractPathVariables(const char* text) {
    std::string out;
    if (!text) return out;
    struct Var {
        const char* key;
        std::string value;
    };
    Var vars[std::size(kPathVariables)];
    for (size_t i = 0; i < std::size(kPathVariables); ++i)
        vars[i] = {kPathVariables[i]->key, WithoutTrailingSeparator(kPathVariables[i]->Get())};
    for (const char* p = text; *p;) {
        bool matched = false;
        for (const Var& v : vars) {
            if (!v.value.empty() && std::strncmp(p, v.value.c_str(), v.value.size()) == 0) {
                out += v.key;
                p += v.value.size();
                matched = true;
                break;
            }
        }
        if (!matched) out += *p++;
    }
    return out;
}
