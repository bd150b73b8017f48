// Script functions that ask for scene switches and transitions:
// ge_switchscene, ge_setscene, ge_dissolve, ge_zoomin, ge_walk and
// ge_istranstionfx.
extern "C" {
#include <lua.h>
}

#include "app/engine.h"
#include "script/lua_host.h"
#include "script/script_function.h"
#include "script/script_var.h"

namespace {

// A request made from a queued statement holds the sequence until the
// transition ends; one that left nothing running (no name) lets the
// sequence go on at once instead of holding it for good.
void MarkStatementTransition(Engine* e) {
    if (!e->executingStatement) return;
    if (e->switchPending || e->dissolveState != 0 || e->walkState != 0)
        e->transitionByStatement = true;
    else
        e->statementReady = true;
}

int SwitchScene(lua_State* L) {
    if (Engine* e = CurrentEngine()) {
        e->RequestSceneSwitch(ScriptArgText(L, 1), false);
        MarkStatementTransition(e);
    }
    return 0;
}

int SetScene(lua_State* L) {
    if (Engine* e = CurrentEngine()) {
        e->RequestSceneSwitch(ScriptArgText(L, 1), true);
        MarkStatementTransition(e);
    }
    return 0;
}

int Dissolve(lua_State* L) {
    if (Engine* e = CurrentEngine()) {
        e->StartDissolve(ScriptArgText(L, 1), 0);
        MarkStatementTransition(e);
    }
    return 0;
}

int ZoomIn(lua_State* L) {
    if (Engine* e = CurrentEngine()) {
        e->StartDissolve(ScriptArgText(L, 1), 1);
        MarkStatementTransition(e);
    }
    return 0;
}

// ge_walk(name, distance [, duration]): without a number as the third
// argument the duration is Gameplay.walkfxtime as last loaded.
int Walk(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) return 0;
    float distance = static_cast<float>(lua_tonumber(L, 2));
    float duration = lua_type(L, 3) == LUA_TNUMBER ? static_cast<float>(lua_tonumber(L, 3)) : g_walk_fx_time.value;
    e->StartWalk(ScriptArgText(L, 1), distance, duration);
    MarkStatementTransition(e);
    return 0;
}

int IsTransitionRunning(lua_State* L) {
    Engine* e = CurrentEngine();
    lua_pushboolean(L, e && (e->dissolveState != 0 || e->switchPending || e->walkState != 0));
    return 1;
}

ScriptFunctionRecord r_switchscene("ge_switchscene", SwitchScene);
ScriptFunctionRecord r_setscene("ge_setscene", SetScene);
ScriptFunctionRecord r_dissolve("ge_dissolve", Dissolve);
ScriptFunctionRecord r_zoomin("ge_zoomin", ZoomIn);
ScriptFunctionRecord r_walk("ge_walk", Walk);
ScriptFunctionRecord r_istranstionfx("ge_istranstionfx", IsTransitionRunning);

}  // namespace
