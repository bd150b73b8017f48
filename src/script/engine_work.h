#pragma once
// Engine work in progress, and releases that wait for it to end.
//
// Lua can run in the middle of the engine's work: a script function's push
// may run a collection step (and with it a finalizer), a field or global
// read may run a metamethod, an engine operation calls handlers. That Lua
// may free objects (scene_unloadall, hs_remove, removeAllResources, a file
// closed, ...) that the work below it still holds. So a release asked for
// while Lua runs inside engine work takes the object out of every list,
// name index and the handle registry at once (scripts see it gone), but the
// memory, with the destructor, waits until the outermost work returns.
// A script's own top-level call releases at once.
//
// The depth counts script functions running (every one is entered through
// the registry's dispatcher) and engine operations that hold objects while
// they call Lua (an EngineWork on their frame). Lua errors jump past the
// frames that would count it down: every place that catches a Lua error
// (the protected calls, resume, load) puts back the depth it saw before.
#include <cstddef>

extern "C" {
#include <lua.h>
}

// The number of engine works in progress.
int EngineWorkDepth();
// Puts back a depth saved before a protected call; at depth 0 the releases
// that waited run.
void RestoreEngineWorkDepth(int depth);

// An engine operation that holds objects while Lua may run.
class EngineWork {
public:
    EngineWork();
    ~EngineWork();
    EngineWork(const EngineWork&) = delete;
    EngineWork& operator=(const EngineWork&) = delete;
};

// Whether a release asked for now has to wait: Lua runs inside engine work
// (the release comes from a second work on top of another).
bool ReleaseMustWait();
// Runs release(object) now, or once no engine work is in progress.
void ReleaseWhenFree(void (*release)(void* object), void* object);
// Runs every release that waited (in the order they were asked for), when
// no work is in progress. The frame loop calls it at the top of a frame;
// a depth still counted there (an error path that did not restore it) is
// put back to 0 first.
void RunWaitingReleases();
// Releases waiting now (for tests).
size_t WaitingReleases();

// The dispatcher every registered script function is called through: a
// C closure whose first upvalue is the function as a light userdata.
int DispatchScriptFunction(lua_State* L);
// Pushes fn wrapped in the dispatcher.
void PushScriptFunction(lua_State* L, lua_CFunction fn);
// The function a dispatcher at index wraps; null for any other value.
lua_CFunction WrappedScriptFunction(lua_State* L, int index);
