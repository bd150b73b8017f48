// Script functions that drive the engine itself: the display, the quit
// flag, the statement queue and the command line.
#include <algorithm>

extern "C" {
#include <lua.h>
}

#include "app/app_window.h"
#include "app/engine.h"
#include "base/log.h"
#include "base/string_pool.h"
#include "render/display_mode.h"
#include "script/lua_host.h"
#include "script/script_function.h"

namespace {

// ge_resetdisplay(width, height, bits, fullscreen, multisample, title, refresh)
int ResetDisplay(lua_State* L) {
    Engine* e = CurrentEngine();
    if (e && e->rerunningMain) {
        // "main" is being rerun by a reset: asking again would reset every
        // frame. The mode being brought up stays the one asked for.
        LogPrintf("[WARNING] : ge_resetdisplay while the display is being reset, ignored");
        lua_pushboolean(L, 1);
        return 1;
    }
    if (e && e->closing) {
        // A finalizer run as the shut-down closes the state: the display
        // it would bring up again would never be released.
        LogPrintf("[WARNING] : ge_resetdisplay while the game is closing, ignored");
        lua_pushboolean(L, 0);
        return 1;
    }
    RequestedDisplayMode& mode = g_requestedDisplayMode;
    mode.width = ScriptArgInt(L, 1);
    mode.height = ScriptArgInt(L, 2);
    mode.bitsPerPixel = ScriptArgInt(L, 3);
    mode.fullScreen = lua_toboolean(L, 4) != 0;
    mode.multisample = ScriptArgInt(L, 5);
    const char* title = CommonStrings().Intern(ScriptArgText(L, 6) ? ScriptArgText(L, 6) : "");
    mode.title = title ? title : "";
    mode.refreshRate = ScriptArgInt(L, 7);

    if (!e) {
        lua_pushboolean(L, 0);
        return 1;
    }
    if (e->inFrame) {
        e->displayResetRequested = true;
        lua_pushboolean(L, 1);
        return 1;
    }
    lua_pushboolean(L, DisplayInit(true) ? 1 : 0);
    return 1;
}

// quit([status]): the frame loop ends after the current frame; the program
// then exits with the status (0 without one), so that a tool that runs the
// game can tell its failure.
int Quit(lua_State* L) {
    Engine* e = CurrentEngine();
    if (!e) return 0;
    e->quit = true;
    if (lua_type(L, 1) == LUA_TNUMBER) e->exitStatus = std::clamp(ScriptArgInt(L, 1), 0, 255);
    return 0;
}

// ge_task(text): queues statements; reads the last argument.
int Task(lua_State* L) {
    const char* text = ScriptArgText(L, ScriptLastArg(L));
    if (Engine* e = CurrentEngine(); e && text) e->QueueStatements(text);
    return 0;
}

int GetCommandLine(lua_State* L) {
    lua_pushstring(L, CommandLine());
    return 1;
}

ScriptFunctionRecord r_resetdisplay("ge_resetdisplay", ResetDisplay);
ScriptFunctionRecord r_quit("quit", Quit);
ScriptFunctionRecord r_task("ge_task", Task);
ScriptFunctionRecord r_getcmdline("ge_getcmdline", GetCommandLine);

}  // namespace
