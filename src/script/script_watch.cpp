#include "script/script_watch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>

extern "C" {
#include <lauxlib.h>
}

#include "base/log.h"

namespace {

// Instructions between two hook calls; every 16th call reads the clock.
constexpr int kHookInstructions = 1000;
constexpr unsigned kClockEvery = 16;
constexpr int64_t kPollAfterNs = 1'000'000'000;
constexpr int64_t kPollEveryNs = 250'000'000;

std::atomic<int> g_requests{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");
int g_taken = 0;
bool g_stop_logged = false;  // for the request not yet taken
ScriptCallWatch* g_innermost = nullptr;
int64_t g_long_call_ns = 3'000'000'000;
ClosePoll g_close_poll = nullptr;
int64_t g_last_poll_ns = 0;
unsigned g_hook_calls = 0;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The call's name for the log: a long text is cut, line breaks become
// spaces so the log line stays one line.
std::string Name(const ScriptCallWatch& w) {
    constexpr size_t kShown = 64;
    std::string name(w.text ? w.text : "", w.text ? std::min(w.length, kShown) : 0);
    if (w.length > kShown) name += "...";
    name += w.suffix ? w.suffix : "";
    for (char& c : name)
        if (c == '\n' || c == '\r') c = ' ';
    return name;
}

void Hook(lua_State* L, lua_Debug*) {
    if (ScriptStopPending()) ScriptRaiseStop(L);
    if (++g_hook_calls % kClockEvery != 0 || !g_innermost) return;
    ScriptCallWatch* w = g_innermost;
    const int64_t now = NowNs();
    if (w->seen_ns == 0) {
        w->seen_ns = now;
        return;
    }
    const int64_t ran = now - w->seen_ns;
    if (!w->warned && ran > g_long_call_ns) {
        w->warned = true;
        LogPrintf("[WARNING] : script %s has been running for %lld ms", Name(*w).c_str(),
                  static_cast<long long>(ran / 1'000'000));
    }
    if (g_close_poll && ran > kPollAfterNs && now - g_last_poll_ns > kPollEveryNs) {
        g_last_poll_ns = now;
        if (g_close_poll()) RequestTermination();
    }
}

// pcall(f, ...) and xpcall(f, handler): Lua's own, except that they never
// catch the stop, and start nothing while it is pending.
int StopAwarePcall(lua_State* L) {
    luaL_checkany(L, 1);
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    const int status = lua_pcall(L, lua_gettop(L) - 1, LUA_MULTRET, 0);
    if (status != 0 && ScriptStopPending()) return ScriptRaiseStop(L);
    lua_pushboolean(L, status == 0);
    lua_insert(L, 1);
    return lua_gettop(L);
}

// xpcall's error handler (upvalue 1) runs only while no stop is pending.
// The stop raised from the hook reaches the handler with hooks off, so a
// handler that loops would never be stopped: the message goes on as it is.
int HandlerUnlessStopping(lua_State* L) {
    if (ScriptStopPending()) return 1;
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 1);
    return 1;
}

int StopAwareXpcall(lua_State* L) {
    luaL_checkany(L, 2);
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    lua_settop(L, 2);
    lua_pushcclosure(L, HandlerUnlessStopping, 1);
    lua_insert(L, 1);  // the handler under the function
    const int status = lua_pcall(L, 0, LUA_MULTRET, 1);
    if (status != 0 && ScriptStopPending()) return ScriptRaiseStop(L);
    lua_pushboolean(L, status == 0);
    lua_replace(L, 1);
    return lua_gettop(L);
}

// Calls the library's own function (upvalue 1) with the arguments; when it
// reports a failure (a first result of nil or false) while the stop is
// pending, the stop goes on to the caller.
int CallHandingOnStop(lua_State* L) {
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    if (!lua_toboolean(L, 1) && ScriptStopPending()) return ScriptRaiseStop(L);
    return lua_gettop(L);
}

// coroutine.resume(co, ...): a coroutine that met the stop hands it on.
int StopAwareResume(lua_State* L) {
    luaL_argcheck(L, lua_tothread(L, 1), 1, "coroutine expected");
    return CallHandingOnStop(L);
}

// load(reader): the reader's stop is not a load error.
int StopAwareLoad(lua_State* L) {
    luaL_checktype(L, 1, LUA_TFUNCTION);
    return CallHandingOnStop(L);
}

void WrapLibraryFunction(lua_State* L, const char* table, const char* name, lua_CFunction wrapper) {
    if (table)
        lua_getglobal(L, table);
    else
        lua_pushvalue(L, LUA_GLOBALSINDEX);
    if (lua_istable(L, -1)) {
        lua_getfield(L, -1, name);
        lua_pushcclosure(L, wrapper, 1);
        lua_setfield(L, -2, name);
    }
    lua_pop(L, 1);
}

}  // namespace

const char kScriptStopMessage[] = "script stopped: the game is closing";

bool ScriptStopPending() { return g_requests.load(std::memory_order_relaxed) != g_taken; }

int ScriptRaiseStop(lua_State* L) {
    // The message is kept in the registry: pushing it allocates nothing,
    // so the stop is raised even where memory is refused.
    lua_pushstring(L, kScriptStopMessage);
    return lua_error(L);
}

int ScriptPcall(lua_State* L, int nargs, int nresults, int errfunc) {
    if (!ScriptStopPending()) {
        const int status = lua_pcall(L, nargs, nresults, errfunc);
        if (status == 0 || !ScriptStopPending()) return status;
        lua_pop(L, 1);
    } else {
        lua_pop(L, nargs + 1);
    }
    lua_pushstring(L, kScriptStopMessage);
    return LUA_ERRRUN;
}

bool ScriptErrorWorthLogging() {
    if (!ScriptStopPending()) return true;
    if (g_stop_logged) return false;
    g_stop_logged = true;
    return true;
}

bool ScriptCallRunning() { return g_innermost != nullptr; }

void RequestTermination() { g_requests.fetch_add(1, std::memory_order_relaxed); }

int TerminationRequests() { return g_requests.load(std::memory_order_relaxed); }

bool TakeTerminationRequest() {
    const int now = g_requests.load(std::memory_order_relaxed);
    if (now == g_taken) return false;
    g_taken = now;
    g_stop_logged = false;
    return true;
}

void InstallScriptWatch(lua_State* L) {
    if (!L) return;
    lua_sethook(L, Hook, LUA_MASKCOUNT, kHookInstructions);
    lua_pushstring(L, kScriptStopMessage);
    luaL_ref(L, LUA_REGISTRYINDEX);
    lua_register(L, "pcall", StopAwarePcall);
    lua_register(L, "xpcall", StopAwareXpcall);
    WrapLibraryFunction(L, "coroutine", "resume", StopAwareResume);
    WrapLibraryFunction(L, nullptr, "load", StopAwareLoad);
}

ScriptCallWatch::ScriptCallWatch(const char* text_, size_t length_, const char* suffix_)
    : text(text_), length(length_), suffix(suffix_), outer(g_innermost) {
    g_innermost = this;
}

ScriptCallWatch::~ScriptCallWatch() { g_innermost = outer; }

void SetLongScriptCallMs(int milliseconds) { g_long_call_ns = static_cast<int64_t>(milliseconds) * 1'000'000; }

void SetScriptClosePoll(ClosePoll poll) { g_close_poll = poll; }
