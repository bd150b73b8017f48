#include "script/script_watch.h"

#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <ucontext.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

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
constexpr auto kTick = std::chrono::milliseconds(50);

std::atomic<int> g_requests{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");
std::atomic<int> g_taken{0};  // written by the main thread only; read by the watchdog
std::atomic<bool> g_state_closing{false};
bool g_stop_logged = false;  // for the request not yet taken
ScriptCallWatch* g_innermost = nullptr;
std::atomic<int64_t> g_long_call_ns{3'000'000'000};
ClosePoll g_close_poll = nullptr;
int64_t g_last_poll_ns = 0;
unsigned g_hook_calls = 0;

// What the watchdog sees of the calls from the engine, written by the Lua
// thread: the serial is odd while an outermost call runs (each call's start
// and end add one), and the start is the watchdog's clock at its last tick.
std::atomic<uint64_t> g_call_serial{0};
std::atomic<int64_t> g_call_started_ns{0};
std::atomic<int64_t> g_tick_ns{0};  // the watchdog's clock, read instead of the system's
// The outermost call the watchdog has put the hook on for: the hook stays
// on while that call runs.
std::atomic<uint64_t> g_watched_serial{0};

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Whether the watch needs its hook on the running Lua now.
bool HookWanted() {
    if (ScriptStopPending()) return true;
    const uint64_t serial = g_call_serial.load(std::memory_order_relaxed);
    return (serial & 1) && g_watched_serial.load(std::memory_order_relaxed) == serial;
}

void Hook(lua_State* L, lua_Debug*);

void Arm(lua_State* L) { lua_sethook(L, Hook, LUA_MASKCOUNT, kHookInstructions); }

// The script's own hook for each thread, kept apart from the watch's hook
// (registry slot of a table with weak keys: thread -> count * 16 + mask).
// The function itself stays where the debug library keeps it; what it sets
// is the library's one C hook, learnt when a script first sets a hook.
int g_script_hooks_ref = LUA_NOREF;
lua_Hook g_library_hook = nullptr;

struct HookSetting {
    int mask = 0;
    int count = 0;
};

// The setting recorded for the thread at `index` of L's stack, or for L
// itself when `index` is 0. Allocates nothing: the hook calls it too.
HookSetting RecordedHook(lua_State* L, int index) {
    HookSetting h;
    if (g_script_hooks_ref == LUA_NOREF) return h;
    lua_rawgeti(L, LUA_REGISTRYINDEX, g_script_hooks_ref);
    if (index)
        lua_pushvalue(L, index);
    else
        lua_pushthread(L);
    lua_rawget(L, -2);
    if (lua_isnumber(L, -1)) {
        const double v = lua_tonumber(L, -1);
        h.mask = static_cast<int>(std::fmod(v, 16));
        h.count = static_cast<int>(v / 16);
    }
    lua_pop(L, 2);
    return h;
}

// Puts the script's own hook back on the thread (`index` as above).
void RestoreScriptHook(lua_State* L, lua_State* L1, int index) {
    const HookSetting h = RecordedHook(L, index);
    if (h.mask && g_library_hook)
        lua_sethook(L1, g_library_hook, h.mask, h.count);
    else
        lua_sethook(L1, nullptr, 0, 0);
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

// The watch's hook. Put on by whoever finds it needed; once it is not, the
// first call puts the script's own hook back on the thread.
void Hook(lua_State* L, lua_Debug*) {
    if (ScriptStopPending()) ScriptRaiseStop(L);
    if (!HookWanted()) {
        RestoreScriptHook(L, L, 0);
        return;
    }
    if (++g_hook_calls % kClockEvery != 0 || !g_innermost) return;
    ScriptCallWatch* w = g_innermost;
    const int64_t now = NowNs();
    const int64_t ran = now - w->started_ns;
    if (!w->warned && ran > g_long_call_ns.load(std::memory_order_relaxed)) {
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
// coroutine resumed last; written by the Lua thread alone. The watchdog
// puts the hook on it from its own thread: it names the thread it touches
// first and checks that it still runs, and the Lua thread, leaving a
// coroutine (which may be collected once the resume returns), waits while
// the watchdog names it. Entering a thread needs no wait: its resumer is
// alive below it.
std::atomic<lua_State*> g_running{nullptr};
std::atomic<lua_State*> g_touching{nullptr};
pthread_t g_lua_thread;
std::atomic<bool> g_lua_thread_known{false};

void LeaveThread(lua_State* left, lua_State* back_to) {
    g_running.store(back_to, std::memory_order_seq_cst);
    while (g_touching.load(std::memory_order_seq_cst) == left) std::this_thread::yield();
}

// From the watchdog's thread.
void ArmRunningFromOutside() {
    lua_State* running = g_running.load(std::memory_order_seq_cst);
    if (!running) return;
    g_touching.store(running, std::memory_order_seq_cst);
    if (g_running.load(std::memory_order_seq_cst) == running) Arm(running);
    g_touching.store(nullptr, std::memory_order_seq_cst);
}

bool OnLuaThread() {
    return g_lua_thread_known.load(std::memory_order_relaxed) && pthread_equal(pthread_self(), g_lua_thread);
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
    lua_State* outer = g_running.load(std::memory_order_relaxed);
    g_running.store(co, std::memory_order_relaxed);
    if (HookWanted() && lua_gethook(co) != Hook) Arm(co);
    const int depth = EngineWorkDepth();
    const int status = lua_resume(co, narg);
    RestoreEngineWorkDepth(depth);
    LeaveThread(co, outer);
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

// debug.sethook and debug.gethook of the library, wrapped: the script's own
// hook is recorded apart, so that the watch can put it back when it takes
// its hook off, and is what the script reads while the watch's hook is on.
// While the watch needs its hook, it takes precedence.
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
    if (mask)
        lua_pushnumber(L, count * 16.0 + mask);
    else
        lua_pushnil(L);
    lua_rawset(L, -3);
    lua_pop(L, 1);
    const bool watched = lua_gethook(L1) == Hook;
    const int results = g_library_sethook(L);
    if (lua_Hook set = lua_gethook(L1); mask && set && set != Hook) g_library_hook = set;
    if (watched && HookWanted()) Arm(L1);
    return results;
}

int WatchedGethook(lua_State* L) {
    const int arg = lua_isthread(L, 1) ? 1 : 0;
    lua_State* L1 = arg ? lua_tothread(L, 1) : L;
    if (lua_gethook(L1) != Hook) return g_library_gethook(L);
    RestoreScriptHook(L, L1, arg);
    const int results = g_library_gethook(L);
    Arm(L1);
    return results;
}

void Replace(lua_State* L, const char* table, const char* name, lua_CFunction function) {
    lua_getglobal(L, table);
    if (lua_istable(L, -1)) {
        lua_pushcfunction(L, function);
        lua_setfield(L, -2, name);
    }
    lua_pop(L, 1);
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
    bool lua = at == 0;
    for (int i = 0; i < g_lua_code_ranges; ++i)
        if (at >= g_lua_code[i].begin && at < g_lua_code[i].end) lua = true;
    g_sample.store(lua ? 1 : 0, std::memory_order_relaxed);
}

void PrepareSampling() {
    dl_iterate_phdr(FindLuaCode, nullptr);
    struct sigaction sa {};
    sa.sa_sigaction = TakeSample;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_SIGINFO;
    sigaction(kSampleSignal, &sa, nullptr);
}

bool LuaThreadRunsLua() {
    if (g_lua_code_ranges == 0 || !g_lua_thread_known.load(std::memory_order_acquire)) return true;
    g_sample.store(-1, std::memory_order_relaxed);
    if (pthread_kill(g_lua_thread, kSampleSignal) != 0) return true;
    // A thread in the kernel answers when it comes back: it runs no Lua.
    for (int i = 0; i < 20 && g_sample.load(std::memory_order_relaxed) < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return g_sample.load(std::memory_order_relaxed) == 1;
}

std::atomic<int> g_grace_ms{0};
std::atomic<HeldGameClose> g_close{nullptr};

// The watchdog: a tick every 50 ms.
void Watch() {
    int64_t last = NowNs();
    int64_t lua_ns = 0;      // Lua seen running while the request waits
    bool waiting = false;    // the request has been seen at a tick before
    int64_t closing_ns = -1;  // the closing of a state, after a request taken; -1 not seen
    int taken = g_taken.load(std::memory_order_relaxed);
    while (true) {
        std::this_thread::sleep_for(kTick);
        const int64_t now = NowNs();
        // A tick that came late counts for a few at most.
        const int64_t tick = std::min<int64_t>(now - last, 250'000'000);
        last = now;
        g_tick_ns.store(now, std::memory_order_relaxed);

        // A call from the engine that has run long enough to be named, or
        // to poll for the window's close, gets the hook.
        const uint64_t serial = g_call_serial.load(std::memory_order_relaxed);
        const int64_t watch_after = std::min(kPollAfterNs, g_long_call_ns.load(std::memory_order_relaxed));
        if ((serial & 1) && g_watched_serial.load(std::memory_order_relaxed) != serial &&
            now - g_call_started_ns.load(std::memory_order_relaxed) >= watch_after) {
            g_watched_serial.store(serial, std::memory_order_seq_cst);
            ArmRunningFromOutside();
        }

        const HeldGameClose close = g_close.load(std::memory_order_acquire);
        const int64_t grace_ns = int64_t(g_grace_ms.load(std::memory_order_relaxed)) * 1'000'000;
        // The shut-down of a game closing on a request: the state's
        // finalizers run with hooks off, and one that loops would hold the
        // exit for good.
        if (g_state_closing.load(std::memory_order_relaxed) && g_taken.load(std::memory_order_relaxed) > 0) {
            closing_ns = closing_ns < 0 ? 0 : closing_ns + tick;
            if (close && closing_ns >= grace_ns)
                close("the finalizers run as the script state closes", int(grace_ns / 1'000'000));
        } else {
            closing_ns = -1;
        }
        // Counted for one request: a request taken starts it again.
        const int now_taken = g_taken.load(std::memory_order_relaxed);
        if (!ScriptStopPending() || now_taken != taken) {
            taken = now_taken;
            lua_ns = 0;
            waiting = false;
            continue;
        }
        // A script may have taken the hook off, or put its own on: the
        // watch's goes back on the thread that runs. lua_sethook is Lua's
        // one call made to be safe from outside the running code.
        ArmRunningFromOutside();
        if (!close) continue;
        // Counted from the first tick that saw the request: the time before
        // it may be older than the request.
        if (waiting && LuaThreadRunsLua()) lua_ns += tick;
        waiting = true;
        if (lua_ns >= grace_ns) close("Lua out of the hook's reach (a finalizer or a hook)", int(grace_ns / 1'000'000));
    }
}

void StartWatchdog() {
    static std::once_flag started;
    std::call_once(started, [] {
        g_tick_ns.store(NowNs(), std::memory_order_relaxed);
        PrepareSampling();
        std::thread(Watch).detach();
    });
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

void RequestTermination() {
    g_requests.fetch_add(1, std::memory_order_relaxed);
    // On the Lua thread (also in a signal handler there) the running thread
    // is alive and the hook goes on at once; from elsewhere the watchdog
    // puts it on at its next tick.
    if (OnLuaThread())
        if (lua_State* running = g_running.load(std::memory_order_relaxed)) Arm(running);
}

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
    lua_pushstring(L, kScriptStopMessage);
    g_stop_ref = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_pushcfunction(L, NoHandler);
    g_no_handler_ref = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_register(L, "pcall", StopAwarePcall);
    lua_register(L, "xpcall", StopAwareXpcall);
    lua_register(L, "load", StopAwareLoad);
    Replace(L, "coroutine", "resume", StopAwareResume);
    Replace(L, "coroutine", "wrap", StopAwareWrap);
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
    if (!g_lua_thread_known.load(std::memory_order_relaxed)) {
        g_lua_thread = pthread_self();
        g_lua_thread_known.store(true, std::memory_order_release);
    }
    g_running.store(L, std::memory_order_seq_cst);
    StartWatchdog();
}

void SetScriptStateClosing(bool closing) { g_state_closing.store(closing, std::memory_order_relaxed); }

void UninstallScriptWatch() {
    if (lua_State* L = g_running.load(std::memory_order_relaxed)) LeaveThread(L, nullptr);
    g_no_handler_ref = g_stop_ref = g_script_hooks_ref = LUA_NOREF;
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
      outer(g_innermost) {
    g_innermost = this;
    if (outer) return;
    // Only the Lua thread writes these: no read-modify-write needed.
    g_call_started_ns.store(started_ns, std::memory_order_relaxed);
    g_call_serial.store(g_call_serial.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

ScriptCallWatch::~ScriptCallWatch() {
    g_innermost = outer;
    if (!outer) g_call_serial.store(g_call_serial.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

void SetLongScriptCallMs(int milliseconds) {
    g_long_call_ns.store(static_cast<int64_t>(milliseconds) * 1'000'000, std::memory_order_relaxed);
}

void SetScriptClosePoll(ClosePoll poll) { g_close_poll = poll; }
