#include "script/script_var.h"

#include <cstring>

extern "C" {
#include <lua.h>
}

#include "script/lua_host.h"

namespace {

constinit ScriptVarBase* g_var_head = nullptr;

struct FieldOp {
    ScriptVarBase* var;
    void (*fn)(ScriptVarBase* var, void* state);
};

bool Indexable(lua_State* L, int index) {
    int t = lua_type(L, index);
    return t == LUA_TTABLE || t == LUA_TUSERDATA;
}

int ReadFieldProtected(lua_State* L) {
    FieldOp* op = static_cast<FieldOp*>(lua_touserdata(L, 1));
    lua_getfield(L, LUA_GLOBALSINDEX, op->var->table);
    if (Indexable(L, -1))
        lua_getfield(L, -1, op->var->key);
    else
        lua_pushnil(L);
    op->fn(op->var, L);
    return 0;
}

int WriteFieldProtected(lua_State* L) {
    FieldOp* op = static_cast<FieldOp*>(lua_touserdata(L, 1));
    lua_getfield(L, LUA_GLOBALSINDEX, op->var->table);
    if (!Indexable(L, -1)) return 0;
    op->fn(op->var, L);
    lua_setfield(L, -2, op->var->key);
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
    FieldOp op{this, read};
    ScriptProtected(ReadFieldProtected, &op, key);
}

void ScriptVarBase::WriteField(void (*push)(ScriptVarBase*, void*)) {
    FieldOp op{this, push};
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
        if (lua_type(L, -1) != LUA_TSTRING && lua_type(L, -1) != LUA_TNUMBER) return;
        size_t len = 0;
        const char* text = lua_tolstring(L, -1, &len);
        if (text) static_cast<ScriptVarString*>(v)->value.assign(text, len);
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
