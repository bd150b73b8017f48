// Script function of the video clock (playing and stopping the full-screen
// video are with the pointer and input functions, which skip it).
extern "C" {
#include <lua.h>
}

#include "app/engine.h"
#include "script/script_function.h"

namespace {

// vid_gettime(): milliseconds the current video has played, 0 without one.
int GetTime(lua_State* L) {
    const Engine* e = CurrentEngine();
    lua_pushnumber(L, e ? e->videoClock : 0.0f);
    return 1;
}

ScriptFunctionRecord s_vid_gettime("vid_gettime", GetTime);

}  // namespace
