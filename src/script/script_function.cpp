#include "script/script_function.h"

#include <cstring>

namespace {
// Constant-initialised, so records constructed in any order find it ready.
constinit ScriptFunctionRecord* g_head = nullptr;
}  // namespace

ScriptFunctionRecord::ScriptFunctionRecord(const char* n, lua_CFunction f) : name(n), function(f), next(g_head) {
    g_head = this;
}

ScriptFunctionRecord* ScriptFunctionListHead() { return g_head; }

lua_CFunction FindScriptFunction(const char* name) {
    if (!name) return nullptr;
    for (ScriptFunctionRecord* r = g_head; r; r = r->next)
        if (std::strcmp(r->name, name) == 0) return r->function;
    return nullptr;
}
