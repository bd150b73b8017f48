#pragma once
// The static record of one native script function. Each record pushes itself
// at the head of one global list when it is constructed (before main), so
// the list runs in reverse declaration order; the Lua host registers every
// record of the list as a global function when it creates the state.
extern "C" {
#include <lua.h>
}

struct ScriptFunctionRecord {
    const char* name;
    lua_CFunction function;
    ScriptFunctionRecord* next;

    ScriptFunctionRecord(const char* name, lua_CFunction function);
};

ScriptFunctionRecord* ScriptFunctionListHead();
// The registered function of that name, or null.
lua_CFunction FindScriptFunction(const char* name);
