#pragma once
// The watch over running scripts. When the program is asked to terminate (a
// signal, the window's close), a hook put once on the running Lua thread
// ends the script that runs, so an endless loop cannot hold the game; and
// a script call that runs for long gets one warning naming it, written by
// the watchdog's thread. The watch has no hook on while no request waits:
// plain Lua runs at the library's own speed, and scripts' own hooks run as
// Lua runs them.
#include <cstddef>
#include <cstdint>

extern "C" {
#include <lua.h>
}

// Asks the program to end. Safe in a signal handler: it counts the request
// and, on the Lua thread, puts the hook on the running Lua (Lua's
// lua_sethook, a few stores); elsewhere the watchdog does at its next tick,
// and the next script function entered raises the stop. A script running
// now, or started before the request is taken, is stopped with a Lua error
// at its next instruction or call.
void RequestTermination();
// The number of termination requests so far.
int TerminationRequests();
// True once for every new request: the caller ends the game; scripts
// started from then on run unhindered until the next request.
bool TakeTerminationRequest();
// The shut-down's handlers begin (the request waiting is taken): a further
// request does not stop them until the watchdog has seen Lua run for the
// grace after it, when the handler still running is stopped as a stuck
// script is (one log line names it). For the rest of the program.
void BeginScriptShutDown();

// Watches the state, whose Lua runs on the calling thread: replaces pcall,
// xpcall, load, coroutine.resume and coroutine.wrap with versions that hand
// the stop on (while the game is closing no script catches the stop for
// good), debug.sethook and debug.gethook with versions that keep the
// script's own hook apart from the watch's, and os.execute with one that
// does not ignore SIGINT while the command runs. Scripts see Lua's own
// functions in every other way. Starts the watchdog thread (once).
void InstallScriptWatch(lua_State* L);
// Before the state is closed.
void UninstallScriptWatch();
// Around the closing of the state, which runs every finalizer left.
void SetScriptStateClosing(bool closing);

// What the hook cannot reach: Lua runs finalizers and hooks with hooks off.
// The watchdog thread looks, while a termination request waits, at what
// the Lua thread does (a signal samples where it runs; a thread slow to
// answer on a busy machine is waited for, not guessed): when it has been
// seen running Lua for `grace_ms` in all (engine work, a scene load or a
// long file read from a script function, does not count: it runs to its
// end and the request is then taken), it calls `close` with what held the
// game (a finalizer, a hook, a library function) and the grace, which ends
// the process from that thread. The closing of the state after a request
// has the same grace, counted the same way: its finalizers run hooks off.
// Started once; later calls do nothing.
using HeldGameClose = void (*)(const char* what, int grace_ms);
void StartClosingWatchdog(int grace_ms, HeldGameClose close);

// The stop: the message of the error that ends scripts while the game is
// closing, that is while a termination request has not been taken yet.
extern const char kScriptStopMessage[];
bool ScriptStopPending();
// Raises the stop in L (a Lua error; does not return). For the script
// functions that run Lua protected: after a failed call, when the stop is
// pending, they raise it to their caller instead of handling the failure.
// Call it with no C++ object alive in the calling frame.
int ScriptRaiseStop(lua_State* L);
// lua_pcall for the engine and the script functions: while the stop is
// pending it runs nothing, and a call that fails while it is pending fails
// with the stop's message; either way the status is LUA_ERRRUN.
int ScriptPcall(lua_State* L, int nargs, int nresults, int errfunc = 0);
// For the engine's error lines: false when the game is closing and its stop
// has been logged once already (the first call of a request counts it as
// logged), so one closing leaves one stop line.
bool ScriptErrorWorthLogging();
// True while a script call from the engine runs.
bool ScriptCallRunning();

// While a script call from the engine runs, one of these names it. Nested
// calls stack; the innermost is the one timed and named, by the watchdog's
// thread (which reads it only while it is published; the destructor waits
// while it reads). Entering costs a few stores and no clock reading: the
// start is the watchdog's last tick (it ticks every 50 ms).
class ScriptCallWatch {
public:
    // The name: `length` bytes of `text` (cut to a readable length), with
    // `suffix` appended; the text must live as long as the watch.
    ScriptCallWatch(const char* text, size_t length, const char* suffix = "");
    ~ScriptCallWatch();
    ScriptCallWatch(const ScriptCallWatch&) = delete;
    ScriptCallWatch& operator=(const ScriptCallWatch&) = delete;

    const char* text;
    size_t length;
    const char* suffix;
    int64_t started_ns;  // the watchdog's clock when the call began
    bool warned = false;  // written by the watchdog alone
    ScriptCallWatch* outer;
};

// After how long a running call is named in the log (3000 ms by default).
void SetLongScriptCallMs(int milliseconds);

// The window's close while a call holds the main thread, where no hook of
// the watch is on: the watchdog asks `waiting` (from its own thread; it
// must not take anything) every 250 ms once a call has run for a second;
// when the window system has events for the game, the stop's hook goes on
// for one instruction, and `poll` (on the Lua thread) says whether the
// user asked to close the window.
using ClosePoll = bool (*)();
using WindowEventsWaiting = bool (*)();
void SetScriptClosePoll(ClosePoll poll, WindowEventsWaiting waiting);
