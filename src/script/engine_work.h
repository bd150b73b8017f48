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
// The depth is the number of engine operations that hold objects while they
// call Lua (an EngineWork on their frame: Lua errors never cross it, the
// engine calls Lua protected) plus the script functions in progress (every
// one is entered through the registry's dispatcher). A Lua error jumps past
// the dispatcher's return, so the dispatcher does not count: it leaves an
// entry {its C frame, its thread, its call's index in that thread} on a
// stack of its own. An entry stays while it may still be in progress and is
// known to be over (with no help from whoever caught the error) once a
// later entry, the place asking or an engine work that ended lies at or
// above its frame, or a later entry of its thread sits at or below its
// call; an entry of the main thread must also find a C function at its
// call. When a release is asked for, that is checked over the whole stack.
#include <cstddef>
#include <cstdint>

extern "C" {
#include <lua.h>
}

// The number of engine works in progress.
int EngineWorkDepth();

// An engine operation that holds objects while Lua may run. When it ends,
// every script function entered below its frame is over.
class EngineWork {
public:
    EngineWork();
    ~EngineWork();
    EngineWork(const EngineWork&) = delete;
    EngineWork& operator=(const EngineWork&) = delete;

private:
    uintptr_t frame_;
};

// Whether a release asked for now has to wait: Lua runs inside engine work
// (the release comes from a second work on top of another), or the waiting
// releases are running (one they ask for runs after them, in the same pass).
bool ReleaseMustWait();
// Runs release(object) now, or once no engine work is in progress.
void ReleaseWhenFree(void (*release)(void* object), void* object);
// Runs every release that waited (in the order they were asked for). The
// frame loop calls it at the top of a frame, where no Lua runs: whatever
// script function an error left counted is over there.
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
