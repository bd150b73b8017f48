#include "script/script_function.h"

#include <cstring>

namespace {
// Constant-initialised, so records constructed in any order find them ready.
constinit ScriptFunctionRecord* g_head = nullptr;
constinit ScriptFunctionAlias* g_alias_head = nullptr;

lua_CFunction FindRecord(const char* name) {
    for (ScriptFunctionRecord* r = g_head; r; r = r->next)
        if (std::strcmp(r->name, name) == 0) return r->function;
    return nullptr;
}
}  // namespace

ScriptFunctionRecord::ScriptFunctionRecord(const char* n, lua_CFunction f) : name(n), function(f), next(g_head) {
    g_head = this;
}

ScriptFunctionAlias::ScriptFunctionAlias(const char* n, const char* t) : name(n), target(t), next(g_alias_head) {
    g_alias_head = this;
}

ScriptFunctionRecord* ScriptFunctionListHead() { return g_head; }
ScriptFunctionAlias* ScriptFunctionAliasListHead() { return g_alias_head; }

lua_CFunction ScriptAliasFunction(const ScriptFunctionAlias* alias) {
    if (!alias || !alias->name || !alias->target || FindRecord(alias->name)) return nullptr;
    return FindRecord(alias->target);
}

lua_CFunction FindScriptFunction(const char* name) {
    if (!name) return nullptr;
    if (lua_CFunction f = FindRecord(name)) return f;
    for (ScriptFunctionAlias* a = g_alias_head; a; a = a->next)
        if (std::strcmp(a->name, name) == 0) return ScriptAliasFunction(a);
    return nullptr;
}

int EmptyScriptFunction(lua_State*) { return 0; }
