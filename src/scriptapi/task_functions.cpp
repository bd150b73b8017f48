// Script functions of the statement queue that sequences cut-scene steps
// over frames: ge_stoptasks, ge_nexttask, ge_settask and havetask (ge_task
// queues, with the other engine functions).
extern "C" {
#include <lua.h>
}

#include "app/engine.h"
#include "script/script_function.h"

namespace {

// ge_stoptasks(): every queued statement is dropped and the sequence ends.
// Called from a running statement it leaves that statement alone (the
// queue no longer holds it) and keeps whatever the statement queues after.
int StopTasks(lua_State*) {
    if (Engine* e = CurrentEngine()) e->ClearStatements();
    return 0;
}

// ge_nexttask(): the next queued statement runs in the next frame.
int NextTask(lua_State*) {
    if (Engine* e = CurrentEngine()) e->statementReady = true;
    return 0;
}

// ge_settask(): marks a sequence as running and ready.
int SetTask(lua_State*) {
    if (Engine* e = CurrentEngine()) {
        e->sequenceRunning = true;
        e->statementReady = true;
    }
    return 0;
}

int HaveTask(lua_State* L) {
    Engine* e = CurrentEngine();
    lua_pushboolean(L, e && e->sequenceRunning);
    return 1;
}

ScriptFunctionRecord r_stoptasks("ge_stoptasks", StopTasks);
ScriptFunctionRecord r_nexttask("ge_nexttask", NextTask);
ScriptFunctionRecord r_settask("ge_settask", SetTask);
ScriptFunctionRecord r_havetask("havetask", HaveTask);

}  // namespace
