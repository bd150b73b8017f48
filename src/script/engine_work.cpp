#include "script/engine_work.h"

#include "script/script_watch.h"

#include <vector>

namespace {

int g_depth = 0;
bool g_running_releases = false;

struct WaitingRelease {
    void (*release)(void*);
    void* object;
};

// Never destroyed: objects may be released during static destruction.
std::vector<WaitingRelease>* const g_waiting = new std::vector<WaitingRelease>;
bool g_any_waiting = false;

std::vector<WaitingRelease>& Waiting() { return *g_waiting; }

void RunWaiting() {
    if (g_running_releases) return;
    g_running_releases = true;
    // A release may ask for more; those run at once (depth 0) or join the
    // list, which is read by index as it grows.
    std::vector<WaitingRelease>& waiting = Waiting();
    for (size_t i = 0; i < waiting.size(); ++i) {
        const WaitingRelease r = waiting[i];
        r.release(r.object);
    }
    waiting.clear();
    g_any_waiting = false;
    g_running_releases = false;
}

}  // namespace

int EngineWorkDepth() { return g_depth; }

void RestoreEngineWorkDepth(int depth) {
    g_depth = depth;
    if (depth == 0 && g_any_waiting) RunWaiting();
}

EngineWork::EngineWork() { ++g_depth; }

EngineWork::~EngineWork() {
    if (g_depth > 0) --g_depth;
    if (g_depth == 0 && g_any_waiting) RunWaiting();
}

bool ReleaseMustWait() { return g_depth > 1 || g_running_releases; }

void ReleaseWhenFree(void (*release)(void*), void* object) {
    if (!release) return;
    if (!ReleaseMustWait()) {
        release(object);
        return;
    }
    Waiting().push_back({release, object});
    g_any_waiting = true;
}

void RunWaitingReleases() {
    g_depth = 0;
    if (g_any_waiting) RunWaiting();
}

size_t WaitingReleases() { return Waiting().size(); }

int DispatchScriptFunction(lua_State* L) {
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    auto fn = reinterpret_cast<lua_CFunction>(lua_touserdata(L, lua_upvalueindex(1)));
    ++g_depth;
    const int results = fn(L);
    if (--g_depth <= 0 && g_any_waiting) RunWaiting();
    return results;
}

lua_CFunction WrappedScriptFunction(lua_State* L, int index) {
    if (lua_tocfunction(L, index) != DispatchScriptFunction || !lua_getupvalue(L, index, 1)) return nullptr;
    auto fn = reinterpret_cast<lua_CFunction>(lua_touserdata(L, -1));
    lua_pop(L, 1);
    return fn;
}

void PushScriptFunction(lua_State* L, lua_CFunction fn) {
    lua_pushlightuserdata(L, reinterpret_cast<void*>(fn));
    lua_pushcclosure(L, DispatchScriptFunction, 1);
}
