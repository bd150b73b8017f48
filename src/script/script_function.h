#pragma once
// The static record of one native script function. Each record pushes itself
// at the head of one global list when it is constructed (before main), so
// the list runs in reverse declaration order; the Lua host registers every
// record of the list as a global function when it creates the state.
//
// Every record becomes a Lua closure of its own, so two names are never
// equal in scripts merely because they share a native function. An alias
// binds a second name to the very closure of another record (the two names
// compare equal) when that record exists and the alias name has no record
// of its own.
extern "C" {
#include <lua.h>
}

struct ScriptFunctionRecord {
    const char* name;
    lua_CFunction function;
    ScriptFunctionRecord* next;

    ScriptFunctionRecord(const char* name, lua_CFunction function);
};

struct ScriptFunctionAlias {
    const char* name;
    const char* target;
    ScriptFunctionAlias* next;

    ScriptFunctionAlias(const char* name, const char* target);
};

ScriptFunctionRecord* ScriptFunctionListHead();
ScriptFunctionAlias* ScriptFunctionAliasListHead();
// The function registered under that name (a record, or an alias whose
// target exists), or null.
lua_CFunction FindScriptFunction(const char* name);
// The function an alias binds to, or null when it does not bind.
lua_CFunction ScriptAliasFunction(const ScriptFunctionAlias* alias);

// The shared function that does nothing: no result, the stack untouched.
int EmptyScriptFunction(lua_State* L);
