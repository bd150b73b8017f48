#include "script/script_watch.h"

#include <link.h>
#include <linux/membarrier.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

extern "C" {
#include <lauxlib.h>
}

#include "base/log.h"

namespace {

constexpr int64_t kPollAfterNs = 1'000'000'000;
constexpr int64_t kPollEveryNs = 250'000'000;
constexpr auto kTick = std::chrono::milliseconds(50);

std::atomic<int> g_requests{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");
std::atomic<int> g_taken{0};  // written by the main thread only; read by the watchdog
// The shut-down's handlers run: a further request stops nothing until the
// watchdog has seen Lua run for the grace after it (then `g_overdue`).
std::atomic<bool> g_shutting_down{false};
std::atomic<bool> g_overdue{false};
std::atomic<bool> g_state_closing{false};
bool g_stop_logged = false;  // for the request not yet taken
std::atomic<int64_t> g_long_call_ns{3'000'000'000};
std::atomic<ClosePoll> g_close_poll{nullptr};
std::atomic<WindowEventsWaiting> g_window_events{nullptr};

// The innermost call from the engine, published for the watchdog, which
// times and names it. The watchdog marks the call it reads in `g_naming`
// and reads it only while it is still published; a call ending waits while
// it is marked (Dekker's handshake: both sides store, then load, in one
// order).
std::atomic<ScriptCallWatch*> g_innermost{nullptr};
std::atomic<ScriptCallWatch*> g_naming{nullptr};
std::atomic<int64_t> g_tick_ns{0};  // the watchdog's clock, read instead of the system's

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Pointers the Lua thread publishes and the watchdog reads through (the
// thread whose Lua runs, the innermost call): the watchdog marks the one it
// reads and reads it only while it is still published; the Lua thread,
// taking one back (it may be freed then), waits only while it is marked.
// Dekker's handshake, made asymmetric: the Lua thread, which does this on
// every resume and every call, orders its store and load with a compiler
// barrier only, and the watchdog, a few times a second, has the kernel run
// a full barrier on every thread of the process (membarrier). Without it
// both sides take a full fence.
bool g_membarrier = false;  // set before the watchdog starts

void LightFence() {
    if (g_membarrier)
        std::atomic_signal_fence(std::memory_order_seq_cst);
    else
        std::atomic_thread_fence(std::memory_order_seq_cst);
}

void HeavyFence() {
    if (g_membarrier)
        syscall(__NR_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0);
    else
        std::atomic_thread_fence(std::memory_order_seq_cst);
}

void PrepareFences() {
    g_membarrier = syscall(__NR_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}

// On the Lua thread: `slot` no longer publishes `old`.
template <typename T>
void Unpublish(std::atomic<T*>& slot, T* next, std::atomic<T*>& mark, T* old) {
    slot.store(next, std::memory_order_release);
    LightFence();
    while (mark.load(std::memory_order_acquire) == old) std::this_thread::yield();
}

// On the watchdog's thread: what `slot` publishes, marked, or null; Unmark
// after reading it.
template <typename T>
T* MarkPublished(std::atomic<T*>& slot, std::atomic<T*>& mark) {
    T* p = slot.load(std::memory_order_acquire);
    if (!p) return nullptr;
    mark.store(p, std::memory_order_relaxed);
    HeavyFence();
    if (slot.load(std::memory_order_acquire) == p) return p;
    mark.store(nullptr, std::memory_order_release);
    return nullptr;
}

template <typename T>
void Unmark(std::atomic<T*>& mark) {
    mark.store(nullptr, std::memory_order_release);
}

// The thread whose Lua code runs now: the state's main thread, or the
// coroutine resumed last; written by the Lua thread alone. Entering a
// thread needs no wait: its resumer is alive below it.
std::atomic<lua_State*> g_running{nullptr};
std::atomic<lua_State*> g_touching{nullptr};
pthread_t g_lua_thread;
std::atomic<bool> g_lua_thread_known{false};

void LeaveThread(lua_State* left, lua_State* back_to) { Unpublish(g_running, back_to, g_touching, left); }

// Runs f(running thread) from the watchdog's thread while that thread is
// sure to be alive; false when no Lua runs.
template <typename F>
bool TouchRunning(F f) {
    lua_State* running = MarkPublished(g_running, g_touching);
    if (!running) return false;
    f(running);
    Unmark(g_touching);
    return true;
}

bool OnLuaThread() {
    return g_lua_thread_known.load(std::memory_order_relaxed) && pthread_equal(pthread_self(), g_lua_thread);
}

// The hooks. The watch has one, the stop's: put on the running thread once
// when a stop becomes pending, it runs at the next instruction or call of
// whatever the thread runs and raises the stop there. A script's own hook
// is set as `ForwardHook`, which hands every event to the debug library's
// hook (so the script's function runs as Lua runs it) and counts the hooks
// running, for the log line of a game held by one.
void StopHook(lua_State* L, lua_Debug* ar);
void ForwardHook(lua_State* L, lua_Debug* ar);
constexpr int kStopMask = LUA_MASKCALL | LUA_MASKCOUNT;

void ArmStop(lua_State* L) { lua_sethook(L, StopHook, kStopMask, 1); }

lua_Hook g_library_hook = nullptr;  // the debug library's one C hook
std::atomic<int> g_script_hooks_running{0};

// The script's own hook for each thread, kept apart from the stop's (the
// registry slot of a table with weak keys: thread -> {function, mask,
// count}). The function is kept where the debug library keeps it too.
int g_script_hooks_ref = LUA_NOREF;

struct HookSetting {
    int mask = 0;
    int count = 0;
};

// The setting recorded for the thread at `index` of L's stack, or for L
// itself when `index` is 0; with `function` the function is left on the
// stack (nil when none). Allocates nothing: the hook calls it too.
HookSetting RecordedHook(lua_State* L, int index, bool function = false) {
    HookSetting h;
    if (g_script_hooks_ref == LUA_NOREF) {
        if (function) lua_pushnil(L);
        return h;
    }
    lua_rawgeti(L, LUA_REGISTRYINDEX, g_script_hooks_ref);
    if (index)
        lua_pushvalue(L, index);
    else
        lua_pushthread(L);
    lua_rawget(L, -2);
    if (lua_istable(L, -1)) {
        lua_rawgeti(L, -1, 2);
        lua_rawgeti(L, -2, 3);
        h.mask = static_cast<int>(lua_tointeger(L, -2));
        h.count = static_cast<int>(lua_tointeger(L, -1));
        lua_pop(L, 2);
        lua_rawgeti(L, -1, 1);
    } else {
        lua_pushnil(L);
    }
    lua_replace(L, -3);
    lua_pop(L, 1);
    if (!function) lua_pop(L, 1);
    return h;
}

// Puts the script's own hook back on the thread (`index` as above).
void RestoreScriptHook(lua_State* L, lua_State* L1, int index) {
    const HookSetting h = RecordedHook(L, index);
    if (h.mask && g_library_hook)
        lua_sethook(L1, ForwardHook, h.mask, h.count);
    else
        lua_sethook(L1, nullptr, 0, 0);
}

void ForwardHook(lua_State* L, lua_Debug* ar) {
    // An error the script's hook raises leaves the count up: every catcher
    // puts back what it saw before its call.
    g_script_hooks_running.fetch_add(1, std::memory_order_relaxed);
    g_library_hook(L, ar);
    g_script_hooks_running.fetch_sub(1, std::memory_order_relaxed);
}

int EventMask(int event) {
    switch (event) {
        case LUA_HOOKCALL:
            return LUA_MASKCALL;
        case LUA_HOOKRET:
        case LUA_HOOKTAILRET:
            return LUA_MASKRET;
        case LUA_HOOKLINE:
            return LUA_MASKLINE;
        default:
            return LUA_MASKCOUNT;
    }
}

// Left on a thread after its stop was taken (or put on for a poll of the
// window): gives the thread its script's hook back and hands the event on.
void GiveBackAndForward(lua_State* L, lua_Debug* ar) {
    RestoreScriptHook(L, L, 0);
    const int mask = lua_gethookmask(L);
    if (g_library_hook && (mask & EventMask(ar->event)) && ar->event != LUA_HOOKCOUNT) ForwardHook(L, ar);
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

// The window's close, polled on the Lua thread while a call runs long and
// the window system has events for the game: the watchdog puts this hook
// on for one event.
std::atomic<bool> g_poll_asked{false};

void StopHook(lua_State* L, lua_Debug* ar) {
    if (ScriptStopPending()) ScriptRaiseStop(L);
    GiveBackAndForward(L, ar);
    if (!g_poll_asked.exchange(false, std::memory_order_relaxed)) return;
    if (const ClosePoll poll = g_close_poll.load(std::memory_order_relaxed); poll && poll()) RequestTermination();
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

// What a catcher saw before its call, put back when the call failed: the
// hooks running (an error may leave a hook).
struct CatcherState {
    int hooks = g_script_hooks_running.load(std::memory_order_relaxed);
    void Restore() const { g_script_hooks_running.store(hooks, std::memory_order_relaxed); }
};

// The replacements below are the library's own functions line for line,
// each one C function as the library's is (so levels, tracebacks and the
// depth of nested calls are Lua's own), except that they never catch the
// stop: they start nothing while it is pending, and a failure met while it
// is pending is raised on as the stop.

int StopAwarePcall(lua_State* L) {
    luaL_checkany(L, 1);
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    const CatcherState before;
    const int status = lua_pcall(L, lua_gettop(L) - 1, LUA_MULTRET, 0);
    if (status != 0) {
        before.Restore();
        if (ScriptStopPending()) return ScriptRaiseStop(L);
    }
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
    const CatcherState before;
    const int status = lua_pcall(L, 0, LUA_MULTRET, 1);
    if (status != 0) {
        before.Restore();
        if (ScriptStopPending()) return ScriptRaiseStop(L);
    }
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
    lua_State* outer = g_running.load(std::memory_order_relaxed);
    g_running.store(co, std::memory_order_relaxed);
    const CatcherState before;
    const int status = lua_resume(co, narg);
    LeaveThread(co, outer);
    if (status == 0 || status == LUA_YIELD) {
        const int results = lua_gettop(co);
        if (!lua_checkstack(L, results + 1)) luaL_error(L, "too many results to resume");
        lua_xmove(co, L, results);
        return results;
    }
    before.Restore();
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
    const CatcherState before;
    const int status = lua_load(L, ReadFromFunction, nullptr, name);
    if (status == 0) return 1;
    before.Restore();
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    lua_pushnil(L);
    lua_insert(L, -2);
    return 2;
}

// debug.sethook and debug.gethook of the library, wrapped: the script's own
// hook is recorded apart and set as the forwarding hook, so that the stop's
// hook can give it back when it is done, and is what the script reads.
lua_CFunction g_library_sethook = nullptr;
lua_CFunction g_library_gethook = nullptr;

int HookMask(const char* mask, int count) {
    int m = 0;
    if (std::strchr(mask, 'c')) m |= LUA_MASKCALL;
    if (std::strchr(mask, 'r')) m |= LUA_MASKRET;
    if (std::strchr(mask, 'l')) m |= LUA_MASKLINE;
    if (count > 0) m |= LUA_MASKCOUNT;
    return m;
}

int WatchedSethook(lua_State* L) {
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    const int arg = lua_isthread(L, 1) ? 1 : 0;
    lua_State* L1 = arg ? lua_tothread(L, 1) : L;
    int mask = 0, count = 0;
    if (!lua_isnoneornil(L, arg + 1)) {
        luaL_checktype(L, arg + 1, LUA_TFUNCTION);
        const char* text = luaL_checkstring(L, arg + 2);
        count = luaL_optint(L, arg + 3, 0);
        mask = HookMask(text, count);
    }
    if (g_script_hooks_ref == LUA_NOREF) {  // made for the first script that sets a hook
        lua_newtable(L);
        lua_newtable(L);
        lua_pushliteral(L, "k");
        lua_setfield(L, -2, "__mode");
        lua_setmetatable(L, -2);
        g_script_hooks_ref = luaL_ref(L, LUA_REGISTRYINDEX);
    }
    lua_rawgeti(L, LUA_REGISTRYINDEX, g_script_hooks_ref);
    if (arg)
        lua_pushvalue(L, 1);
    else
        lua_pushthread(L);
    if (mask) {
        lua_createtable(L, 3, 0);
        lua_pushvalue(L, arg + 1);
        lua_rawseti(L, -2, 1);
        lua_pushinteger(L, mask);
        lua_rawseti(L, -2, 2);
        lua_pushinteger(L, count);
        lua_rawseti(L, -2, 3);
    } else {
        lua_pushnil(L);
    }
    lua_rawset(L, -3);
    lua_pop(L, 1);
    const int results = g_library_sethook(L);
    if (lua_Hook set = lua_gethook(L1); mask && set && set != ForwardHook && set != StopHook) {
        g_library_hook = set;
        lua_sethook(L1, ForwardHook, mask, count);
    }
    return results;
}

// Lua's answer for a thread whose hook is one of the watch's: the
// script's function (none for a coroutine that took its hook from its
// creator, as in Lua), mask and count.
int WatchedGethook(lua_State* L) {
    if (ScriptStopPending()) return ScriptRaiseStop(L);
    const int arg = lua_isthread(L, 1) ? 1 : 0;
    lua_State* L1 = arg ? lua_tothread(L, 1) : L;
    const lua_Hook hook = lua_gethook(L1);
    if (hook != ForwardHook && hook != StopHook) return g_library_gethook(L);
    HookSetting h = RecordedHook(L, arg, true);
    if (hook == ForwardHook) h = {lua_gethookmask(L1), lua_gethookcount(L1)};
    char text[4] = {};
    int n = 0;
    if (h.mask & LUA_MASKCALL) text[n++] = 'c';
    if (h.mask & LUA_MASKRET) text[n++] = 'r';
    if (h.mask & LUA_MASKLINE) text[n++] = 'l';
    lua_pushstring(L, text);
    lua_pushinteger(L, h.count);
    return 3;
}

// os.execute as the library's (the C library's system(), its status as
// system() gives it), except that the engine does not ignore SIGINT while
// the command runs, as system() would: an interrupt that comes while a
// script runs commands in a loop asks the game to end as any other.
int WatchedExecute(lua_State* L) {
    const char* command = luaL_optstring(L, 1, nullptr);
    if (!command) {
        lua_pushinteger(L, std::system(nullptr));
        return 1;
    }
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGQUIT);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char sh[] = "sh", c[] = "-c";
    char* argv[] = {sh, c, const_cast<char*>(command), nullptr};
    pid_t pid = -1;
    int status = -1;
    if (posix_spawn(&pid, "/bin/sh", nullptr, &attr, argv, environ) == 0) {
        while (waitpid(pid, &status, 0) < 0)
            if (errno != EINTR) {
                status = -1;
                break;
            }
    }
    posix_spawnattr_destroy(&attr);
    lua_pushinteger(L, status);
    return 1;
}

void Replace(lua_State* L, const char* table, const char* name, lua_CFunction function) {
    lua_getglobal(L, table);
    if (lua_istable(L, -1)) {
        lua_pushcfunction(L, function);
        lua_setfield(L, -2, name);
    }
    lua_pop(L, 1);
}

// Whether Lua's hooks are allowed on a thread: Lua turns them off while a
// hook or a finalizer runs. Read from the thread's state as the library
// lays it out (checked against the library's own answers when the watch is
// installed; unknown when they differ).
struct LuaStateHead {
    void* next;
    unsigned char tt, marked, status;
    void *top, *base, *l_G, *ci;
    const void* savedpc;
    void *stack_last, *stack, *end_ci, *base_ci;
    int stacksize, size_ci;
    unsigned short nCcalls, baseCcalls;
    unsigned char hookmask, allowhook;
    int basehookcount, hookcount;
    lua_Hook hook;
};
bool g_layout_known = false;

void CheckLayout(lua_State* L) {
    const lua_Hook before = lua_gethook(L);
    const int mask = lua_gethookmask(L), count = lua_gethookcount(L);
    const auto* head = reinterpret_cast<const LuaStateHead*>(L);
    lua_sethook(L, StopHook, LUA_MASKLINE, 7);
    bool same = head->hook == StopHook && head->hookmask == LUA_MASKLINE && head->basehookcount == 7 &&
                head->allowhook == 1;
    lua_sethook(L, StopHook, LUA_MASKCALL, 3);
    same = same && head->hookmask == LUA_MASKCALL && head->basehookcount == 3;
    lua_sethook(L, before, mask, count);
    g_layout_known = same;
}

// -1 unknown, 0 hooks off (a hook or a finalizer runs), 1 on.
int HooksAllowed(lua_State* L) {
    if (!g_layout_known) return -1;
    return reinterpret_cast<const volatile LuaStateHead*>(L)->allowhook ? 1 : 0;
}

// Whether the Lua thread runs Lua: a signal takes the address it was at,
// compared with the library's code. The library's Lua runs there (its
// virtual machine, its collector and its own functions); the engine's work
// (a scene load, a file read) runs elsewhere, calling into the library now
// and then. Without the library as a shared object apart, every sample says
// Lua, and the grace counts whatever the thread does.
constexpr int kSampleSignal = SIGURG;
struct CodeRange {
    uintptr_t begin, end;
};
CodeRange g_lua_code[4];
int g_lua_code_ranges = 0;
std::atomic<int> g_sample{0};  // -1 asked, 0 elsewhere, 1 in Lua
// A busy machine, for tests: every answer comes this late
// (QUILD_SAMPLE_ANSWER_LATE_MS, below a second).
timespec g_answer_late{};
static_assert(std::atomic<int>::is_always_lock_free, "the sample is written in a signal handler");

int FindLuaCode(dl_phdr_info* info, size_t, void*) {
    if (!info->dlpi_name || !std::strstr(info->dlpi_name, "liblua")) return 0;
    for (int i = 0; i < info->dlpi_phnum && g_lua_code_ranges < 4; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD || !(ph.p_flags & PF_X)) continue;
        const uintptr_t begin = info->dlpi_addr + ph.p_vaddr;
        g_lua_code[g_lua_code_ranges++] = {begin, begin + ph.p_memsz};
    }
    return 1;
}

void TakeSample(int, siginfo_t*, void* context) {
    uintptr_t at = 0;
#if defined(__x86_64__)
    at = static_cast<uintptr_t>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    at = static_cast<uintptr_t>(static_cast<ucontext_t*>(context)->uc_mcontext.pc);
#else
    (void)context;
#endif
    if (g_answer_late.tv_nsec) nanosleep(&g_answer_late, nullptr);
    bool lua = at == 0;
    for (int i = 0; i < g_lua_code_ranges; ++i)
        if (at >= g_lua_code[i].begin && at < g_lua_code[i].end) lua = true;
    g_sample.store(lua ? 1 : 0, std::memory_order_relaxed);
}

void PrepareSampling() {
    dl_iterate_phdr(FindLuaCode, nullptr);
    if (const char* late = std::getenv("QUILD_SAMPLE_ANSWER_LATE_MS"))
        g_answer_late.tv_nsec = std::clamp(std::atol(late), 0L, 999L) * 1'000'000;
    struct sigaction sa {};
    sa.sa_sigaction = TakeSample;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_SIGINFO;
    sigaction(kSampleSignal, &sa, nullptr);
}

// Asks the Lua thread where it is; false when it cannot be asked. The
// answer comes when the thread next runs: a machine too busy to run it
// soon delays the answer, it does not change it.
bool SendSample() {
    if (g_lua_code_ranges == 0 || !g_lua_thread_known.load(std::memory_order_acquire)) return false;
    g_sample.store(-1, std::memory_order_relaxed);
    return pthread_kill(g_lua_thread, kSampleSignal) == 0;
}

std::atomic<int> g_grace_ms{0};
std::atomic<HeldGameClose> g_close{nullptr};

// Names the innermost call once it has run long, and asks the Lua thread
// to look for the window's close while it runs on.
void WatchLongCall(int64_t now) {
    static int64_t last_poll_ns = 0;
    ScriptCallWatch* w = MarkPublished(g_innermost, g_naming);
    if (!w) return;
    const int64_t ran = now - w->started_ns;
    std::string name;
    if (!w->warned && ran > g_long_call_ns.load(std::memory_order_relaxed)) {
        w->warned = true;
        name = Name(*w);
    }
    Unmark(g_naming);
    if (!name.empty())
        LogFromAnyThread("[WARNING] : script %s has been running for %lld ms", name.c_str(),
                         static_cast<long long>(ran / 1'000'000));
    // Only the Lua thread may read the window's events: it is asked (by the
    // stop's hook, for one event) when the window system has some for the
    // game.
    const WindowEventsWaiting events = g_window_events.load(std::memory_order_relaxed);
    if (events && ran > kPollAfterNs && now - last_poll_ns > kPollEveryNs && !ScriptStopPending() && events()) {
        last_poll_ns = now;
        g_poll_asked.store(true, std::memory_order_relaxed);
        TouchRunning([](lua_State* L) {
            if (lua_gethook(L) != StopHook) ArmStop(L);
        });
    }
}

// The innermost call's name, for a log line from the watchdog's thread.
std::string InnermostName() {
    ScriptCallWatch* w = MarkPublished(g_innermost, g_naming);
    if (!w) return "a script";
    std::string name = Name(*w);
    Unmark(g_naming);
    return name;
}

// What holds the Lua thread, which the stop's hook does not reach.
const char* WhatHolds() {
    if (g_state_closing.load(std::memory_order_relaxed)) return "a finalizer run as the script state closes";
    int allowed = -1;
    TouchRunning([&](lua_State* L) { allowed = HooksAllowed(L); });
    if (allowed == 0)
        return g_script_hooks_running.load(std::memory_order_relaxed) > 0 ? "a hook of the script" : "a finalizer";
    if (allowed == 1) return "a loop out of the hook's reach (a library function)";
    return "Lua out of the hook's reach (a finalizer or a hook)";
}

// The watchdog: a tick every 50 ms. While a request waits, it puts the
// stop's hook on the running thread when it is not there (a script's C
// code may take it off), and counts the time the Lua thread is seen
// running Lua: over the grace, what holds it is closed from outside. In the
// shut-down, a further request is given the grace before it stops the
// shut-down's handlers, and the state's finalizers the grace before the
// game is closed.
void Watch() {
    int64_t last = NowNs();
    int64_t lua_ns = 0;      // Lua seen running for the request
    int64_t asked_ns = 0;    // time since the outstanding sample was sent
    bool asked = false;      // a sample is outstanding
    int counted_for = -1;    // what the time is counted for (a request, a phase)
    while (true) {
        std::this_thread::sleep_for(kTick);
        const int64_t now = NowNs();
        // A tick that came late (a stopped process) counts for a few at most.
        const int64_t tick = std::min<int64_t>(now - last, 250'000'000);
        last = now;
        g_tick_ns.store(now, std::memory_order_relaxed);
        WatchLongCall(now);

        const int taken = g_taken.load(std::memory_order_relaxed);
        const bool waiting = g_requests.load(std::memory_order_relaxed) != taken;
        const bool shutting_down = g_shutting_down.load(std::memory_order_relaxed);
        const bool overdue = g_overdue.load(std::memory_order_relaxed);
        const bool closing = g_state_closing.load(std::memory_order_relaxed) && (taken > 0 || waiting);
        // The stop's hook reaches every Lua but a finalizer's or a hook's.
        if (ScriptStopPending())
            TouchRunning([](lua_State* L) {
                if (lua_gethook(L) != StopHook) ArmStop(L);
            });
        const HeldGameClose close = g_close.load(std::memory_order_acquire);
        if (!close || !(waiting || closing)) {
            counted_for = -1;
            continue;
        }
        const int phase = taken * 8 + shutting_down * 4 + overdue * 2 + closing;
        if (phase != counted_for) {
            counted_for = phase;
            lua_ns = 0;
        }
        if (asked) {
            asked_ns += tick;
            const int sample = g_sample.load(std::memory_order_relaxed);
            if (sample >= 0) {
                if (sample == 1) lua_ns += asked_ns;
                asked = false;
            }
        }
        if (!asked) {
            asked = SendSample();
            asked_ns = 0;
            if (!asked) lua_ns += tick;  // no way to tell: the time counts
        }
        const int64_t grace_ns = int64_t(g_grace_ms.load(std::memory_order_relaxed)) * 1'000'000;
        if (lua_ns < grace_ns) continue;
        const int grace_ms = int(grace_ns / 1'000'000);
        if (shutting_down && !closing && !overdue) {
            LogFromAnyThread("[EXITING] : %s still ran %d ms after a further request to close; stopped as a stuck script",
                             InnermostName().c_str(), grace_ms);
            g_overdue.store(true, std::memory_order_relaxed);
            continue;
        }
        close(WhatHolds(), grace_ms);
    }
}

void StartWatchdog() {
    static std::once_flag started;
    std::call_once(started, [] {
        g_tick_ns.store(NowNs(), std::memory_order_relaxed);
        PrepareFences();
        PrepareSampling();
        std::thread(Watch).detach();
    });
}

}  // namespace

const char kScriptStopMessage[] = "script stopped: the game is closing";

bool ScriptStopPending() {
    return g_requests.load(std::memory_order_relaxed) != g_taken.load(std::memory_order_relaxed) &&
           (!g_shutting_down.load(std::memory_order_relaxed) || g_overdue.load(std::memory_order_relaxed));
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
        const CatcherState before;
        const int status = lua_pcall(L, nargs, nresults, errfunc);
        if (status == 0) return status;
        before.Restore();
        if (!ScriptStopPending()) return status;
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

bool ScriptCallRunning() { return g_innermost.load(std::memory_order_relaxed) != nullptr; }

void RequestTermination() {
    g_requests.fetch_add(1, std::memory_order_relaxed);
    // On the Lua thread (also in a signal handler there) the running thread
    // is alive and the hook goes on at once; from elsewhere the watchdog
    // puts it on at its next tick, and the next script function entered
    // raises the stop.
    if (OnLuaThread() && ScriptStopPending())
        if (lua_State* running = g_running.load(std::memory_order_relaxed)) ArmStop(running);
}

int TerminationRequests() { return g_requests.load(std::memory_order_relaxed); }

bool TakeTerminationRequest() {
    const int now = g_requests.load(std::memory_order_relaxed);
    if (now == g_taken.load(std::memory_order_relaxed)) return false;
    g_taken.store(now, std::memory_order_relaxed);
    g_stop_logged = false;
    return true;
}

void BeginScriptShutDown() {
    TakeTerminationRequest();
    g_shutting_down.store(true, std::memory_order_relaxed);
}

void InstallScriptWatch(lua_State* L) {
    if (!L) return;
    lua_pushstring(L, kScriptStopMessage);
    g_stop_ref = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_pushcfunction(L, NoHandler);
    g_no_handler_ref = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_register(L, "pcall", StopAwarePcall);
    lua_register(L, "xpcall", StopAwareXpcall);
    lua_register(L, "load", StopAwareLoad);
    Replace(L, "coroutine", "resume", StopAwareResume);
    Replace(L, "coroutine", "wrap", StopAwareWrap);
    Replace(L, "os", "execute", WatchedExecute);
    // The library as loaded: the global "debug" is the engine's own function.
    lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");
    lua_getfield(L, -1, "debug");
    lua_remove(L, -2);
    if (lua_istable(L, -1)) {
        lua_getfield(L, -1, "sethook");
        g_library_sethook = lua_tocfunction(L, -1);
        lua_getfield(L, -2, "gethook");
        g_library_gethook = lua_tocfunction(L, -1);
        lua_pop(L, 2);
    }
    if (g_library_sethook && g_library_gethook) {
        lua_pushcfunction(L, WatchedSethook);
        lua_setfield(L, -2, "sethook");
        lua_pushcfunction(L, WatchedGethook);
        lua_setfield(L, -2, "gethook");
    }
    lua_pop(L, 1);
    CheckLayout(L);
    if (!g_lua_thread_known.load(std::memory_order_relaxed)) {
        g_lua_thread = pthread_self();
        g_lua_thread_known.store(true, std::memory_order_release);
    }
    g_running.store(L, std::memory_order_release);
    StartWatchdog();
}

void SetScriptStateClosing(bool closing) { g_state_closing.store(closing, std::memory_order_relaxed); }

void UninstallScriptWatch() {
    if (lua_State* L = g_running.load(std::memory_order_relaxed)) LeaveThread(L, nullptr);
    g_no_handler_ref = g_stop_ref = g_script_hooks_ref = LUA_NOREF;
    g_script_hooks_running.store(0, std::memory_order_relaxed);
}

void StartClosingWatchdog(int grace_ms, HeldGameClose close) {
    if (g_close.load(std::memory_order_acquire)) return;
    g_grace_ms.store(grace_ms, std::memory_order_relaxed);
    g_close.store(close, std::memory_order_release);
    StartWatchdog();
}

ScriptCallWatch::ScriptCallWatch(const char* text_, size_t length_, const char* suffix_)
    : text(text_),
      length(length_),
      suffix(suffix_),
      started_ns(g_tick_ns.load(std::memory_order_relaxed)),
      outer(g_innermost.load(std::memory_order_relaxed)) {
    g_innermost.store(this, std::memory_order_release);
}

ScriptCallWatch::~ScriptCallWatch() {
    Unpublish(g_innermost, outer, g_naming, this);
}

void SetLongScriptCallMs(int milliseconds) {
    g_long_call_ns.store(static_cast<int64_t>(milliseconds) * 1'000'000, std::memory_order_relaxed);
}

void SetScriptClosePoll(ClosePoll poll, WindowEventsWaiting waiting) {
    g_close_poll.store(poll, std::memory_order_relaxed);
    g_window_events.store(waiting, std::memory_order_relaxed);
}
