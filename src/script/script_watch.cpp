#include "script/script_watch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <string>

extern "C" {
#include <lauxlib.h>
}

#include "base/log.h"
#include "script/engine_work.h"

namespace {

// Instructions between two hook calls; every 16th call reads the clock.
constexpr int kHookInstructions = 1000;
constexpr unsigned kClockEvery = 16;
constexpr int64_t kPollAfterNs = 1'000'000'000;
constexpr int64_t kPollEveryNs = 250'000'000;

std::atomic<int> g_requests{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");
std::atomic<int> g_taken{0};  // written by the main thread only; read by the watchdog
std::atomic<bool> g_state_closing{false};
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

// The thread whose Lua code runs now: the state's main thread, or the
// coroutine resumed last. The watchdog puts the hook back on it; the lock
// keeps a coroutine alive (it is on its resumer's stack) while the watchdog
// touches it.
std::mutex g_running_lock;
lua_State* g_running = nullptr;

lua_State* SetRunning(lua_State* L) {
    std::lock_guard<std::mutex> guard(g_running_lock);
    lua_State* outer = g_running;
    g_running = L;
    return outer;
}

int g_no_handler_ref = LUA_NOREF;  // registry slot of NoHandler's closure
int g_stop_ref = LUA_NOREF;        // registry slot of the stop's message

// The stop's message from the registry: unlike lua_pushstring, this runs no
// collection step, whose finalizers could fail outside every protected call.
void PushStopMessage(lua_State* L) {
    if (g_stop_ref != LUA_NOREF)
        lua_rawgeti(L, LUA_REGISTRYINDEX, g_stop_ref);
    else
        lua_pushstring(L, kScriptStopMessage);
}

// What a closing game's xpcall runs instead of the script's handler: the
// message goes on as it is.
int NoHandler(lua_State*) { return 1; }

// The replacements below are the library's own functions line for line,
// each one C function as the library's is (so levels, tracebacks and the
// depth of nested calls are Lua's own), except that they never catch the
// stop: they start nothing while it is pending, and a failure met while it
// is pending is raised on as the stop.

int StopAwarePcall(lua_State* L) {
    luaL_checkany(L, 1);
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    const int depth = EngineWorkDepth();
    const int status = lua_pcall(L, lua_gettop(L) - 1, LUA_MULTRET, 0);
    RestoreEngineWorkDepth(depth);
    if (status != 0 && ScriptStopPending()) return ScriptRaiseStop(L);
    lua_pushboolean(L, status == 0);
    lua_insert(L, 1);
    return lua_gettop(L);
}

// The handler stays in slot 1 of this function's frame, where Lua finds it
// for every error of the call: ScriptRaiseStop replaces it there.
int StopAwareXpcall(lua_State* L) {
    luaL_checkany(L, 2);
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    lua_settop(L, 2);
    lua_insert(L, 1);  // the handler under the function
    const int depth = EngineWorkDepth();
    const int status = lua_pcall(L, 0, LUA_MULTRET, 1);
    RestoreEngineWorkDepth(depth);
    if (status != 0 && ScriptStopPending()) return ScriptRaiseStop(L);
    lua_pushboolean(L, status == 0);
    lua_replace(L, 1);
    return lua_gettop(L);
}

// Lets no xpcall handler on L's stack run for the stop about to be raised:
// the stop raised from the hook reaches the handler with Lua's hooks off,
// so a handler that loops could not be stopped.
void DisarmHandlers(lua_State* L) {
    if (g_no_handler_ref == LUA_NOREF) return;
    lua_Debug ar;
    for (int level = 0; lua_getstack(L, level, &ar); ++level) {
        if (!lua_getinfo(L, "f", &ar)) continue;
        const bool xpcall = lua_tocfunction(L, -1) == StopAwareXpcall;
        lua_pop(L, 1);
        if (!xpcall) continue;
        lua_rawgeti(L, LUA_REGISTRYINDEX, g_no_handler_ref);
        lua_setlocal(L, &ar, 1);
    }
}

const char* const kCoroutineStates[] = {"running", "suspended", "normal", "dead"};
enum { kRunning, kSuspended, kNormal, kDead };

int CoroutineState(lua_State* L, lua_State* co) {
    if (L == co) return kRunning;
    switch (lua_status(co)) {
        case LUA_YIELD:
            return kSuspended;
        case 0: {
            lua_Debug ar;
            if (lua_getstack(co, 0, &ar) > 0) return kNormal;
            return lua_gettop(co) == 0 ? kDead : kSuspended;
        }
        default:
            return kDead;
    }
}

// Resumes co with narg values from L's top: the number of results moved
// to L, or -1 with the error on L's top.
int Resume(lua_State* L, lua_State* co, int narg) {
    const int state = CoroutineState(L, co);
    if (!lua_checkstack(co, narg)) luaL_error(L, "too many arguments to resume");
    if (state != kSuspended) {
        lua_pushfstring(L, "cannot resume %s coroutine", kCoroutineStates[state]);
        return -1;
    }
    lua_xmove(L, co, narg);
    lua_setlevel(L, co);
    lua_State* outer = SetRunning(co);
    const int depth = EngineWorkDepth();
    const int status = lua_resume(co, narg);
    RestoreEngineWorkDepth(depth);
    SetRunning(outer);
    if (status == 0 || status == LUA_YIELD) {
        const int results = lua_gettop(co);
        if (!lua_checkstack(L, results + 1)) luaL_error(L, "too many results to resume");
        lua_xmove(co, L, results);
        return results;
    }
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    lua_xmove(co, L, 1);
    return -1;
}

int StopAwareResume(lua_State* L) {
    lua_State* co = lua_tothread(L, 1);
    luaL_argcheck(L, co, 1, "coroutine expected");
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    const int r = Resume(L, co, lua_gettop(L) - 1);
    if (r < 0) {
        lua_pushboolean(L, 0);
        lua_insert(L, -2);
        return 2;
    }
    lua_pushboolean(L, 1);
    lua_insert(L, -(r + 1));
    return r + 1;
}

int WrappedCoroutine(lua_State* L) {
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    const int r = Resume(L, lua_tothread(L, lua_upvalueindex(1)), lua_gettop(L));
    if (r < 0) {
        if (lua_isstring(L, -1)) {
            luaL_where(L, 1);
            lua_insert(L, -2);
            lua_concat(L, 2);
        }
        lua_error(L);
    }
    return r;
}

int StopAwareWrap(lua_State* L) {
    lua_State* co = lua_newthread(L);
    luaL_argcheck(L, lua_isfunction(L, 1) && !lua_iscfunction(L, 1), 1, "Lua function expected");
    lua_pushvalue(L, 1);
    lua_xmove(L, co, 1);
    lua_pushcclosure(L, WrappedCoroutine, 1);
    return 1;
}

const char* ReadFromFunction(lua_State* L, void*, size_t* size) {
    luaL_checkstack(L, 2, "too many nested functions");
    lua_pushvalue(L, 1);
    lua_call(L, 0, 1);
    if (lua_isnil(L, -1)) {
        *size = 0;
        return nullptr;
    }
    if (lua_isstring(L, -1)) {
        lua_replace(L, 3);
        return lua_tolstring(L, 3, size);
    }
    luaL_error(L, "reader function must return a string");
    return nullptr;
}

int StopAwareLoad(lua_State* L) {
    const char* name = luaL_optstring(L, 2, "=(load)");
    luaL_checktype(L, 1, LUA_TFUNCTION);
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    lua_settop(L, 3);
    const int depth = EngineWorkDepth();
    const int status = lua_load(L, ReadFromFunction, nullptr, name);
    RestoreEngineWorkDepth(depth);
    if (status == 0) return 1;
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    lua_pushnil(L);
    lua_insert(L, -2);
    return 2;
}

void Replace(lua_State* L, const char* table, const char* name, lua_CFunction function) {
    lua_getglobal(L, table);
    if (lua_istable(L, -1)) {
        lua_pushcfunction(L, function);
        lua_setfield(L, -2, name);
    }
    lua_pop(L, 1);
}

}  // namespace

const char kScriptStopMessage[] = "script stopped: the game is closing";

bool ScriptStopPending() {
    return g_requests.load(std::memory_order_relaxed) != g_taken.load(std::memory_order_relaxed);
}

int ScriptRaiseStop(lua_State* L) {
    DisarmHandlers(L);
    // The message is kept in the registry: pushing it allocates nothing,
    // so the stop is raised even where memory is refused.
    PushStopMessage(L);
    return lua_error(L);
}

int ScriptPcall(lua_State* L, int nargs, int nresults, int errfunc) {
    if (!ScriptStopPending()) {
        const int depth = EngineWorkDepth();
        const int status = lua_pcall(L, nargs, nresults, errfunc);
        RestoreEngineWorkDepth(depth);
        if (status == 0 || !ScriptStopPending()) return status;
        lua_pop(L, 1);
    } else {
        lua_pop(L, nargs + 1);
    }
    PushStopMessage(L);
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
    if (now == g_taken.load(std::memory_order_relaxed)) return false;
    g_taken.store(now, std::memory_order_relaxed);
    g_stop_logged = false;
    return true;
}

void InstallScriptWatch(lua_State* L) {
    if (!L) return;
    lua_sethook(L, Hook, LUA_MASKCOUNT, kHookInstructions);
    lua_pushstring(L, kScriptStopMessage);
    g_stop_ref = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_pushcfunction(L, NoHandler);
    g_no_handler_ref = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_register(L, "pcall", StopAwarePcall);
    lua_register(L, "xpcall", StopAwareXpcall);
    lua_register(L, "load", StopAwareLoad);
    Replace(L, "coroutine", "resume", StopAwareResume);
    Replace(L, "coroutine", "wrap", StopAwareWrap);
    SetRunning(L);
}

void SetScriptStateClosing(bool closing) { g_state_closing.store(closing, std::memory_order_relaxed); }

void UninstallScriptWatch() {
    SetRunning(nullptr);
    g_no_handler_ref = g_stop_ref = LUA_NOREF;
}

void StartClosingWatchdog(int grace_ms, void (*close)()) {
    static std::once_flag started;
    std::call_once(started, [grace_ms, close] {
        std::thread([grace_ms, close] {
            constexpr auto kLook = std::chrono::milliseconds(50);
            int pending_for_ms = 0;
            int closing_for_ms = 0;
            int taken = g_taken.load(std::memory_order_relaxed);
            while (true) {
                std::this_thread::sleep_for(kLook);
                // The shut-down of a game closing on a request: the state's
                // finalizers run with hooks off, and one that loops would
                // hold the exit for good.
                if (g_state_closing.load(std::memory_order_relaxed) && g_taken.load(std::memory_order_relaxed) > 0) {
                    closing_for_ms += int(kLook.count());
                    if (closing_for_ms >= grace_ms) close();
                } else {
                    closing_for_ms = 0;
                }
                // Counted for one request: a request taken starts it again.
                const int now_taken = g_taken.load(std::memory_order_relaxed);
                if (!ScriptStopPending() || now_taken != taken) {
                    taken = now_taken;
                    pending_for_ms = 0;
                    continue;
                }
                // A script may have taken the hook off (debug.sethook) or
                // put its own on: the watch's hook goes back on the thread
                // that runs. lua_sethook is Lua's one call made to be safe
                // from outside the running code.
                {
                    std::lock_guard<std::mutex> guard(g_running_lock);
                    if (g_running) lua_sethook(g_running, Hook, LUA_MASKCOUNT, kHookInstructions);
                }
                pending_for_ms += int(kLook.count());
                if (pending_for_ms >= grace_ms) close();
            }
        }).detach();
    });
}

ScriptCallWatch::ScriptCallWatch(const char* text_, size_t length_, const char* suffix_)
    : text(text_), length(length_), suffix(suffix_), outer(g_innermost) {
    g_innermost = this;
}

ScriptCallWatch::~ScriptCallWatch() { g_innermost = outer; }

void SetLongScriptCallMs(int milliseconds) { g_long_call_ns = static_cast<int64_t>(milliseconds) * 1'000'000; }

void SetScriptClosePoll(ClosePoll poll) { g_close_poll = poll; }
