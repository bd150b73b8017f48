#pragma once
// The watch over running scripts. A count hook on the running Lua thread
// ends the script that runs when the program is asked to terminate (a
// signal, the window's close), so an endless loop cannot hold the game;
// and a script call that runs for long gets one warning naming it, so the
// author knows where the time goes. The hook is on only while it is needed
// (a request waits, or a call from the engine has run for a while): plain
// Lua runs at the library's own speed, and scripts see their own hooks.
#include <cstddef>
#include <cstdint>

extern "C" {
#include <lua.h>
}

// Asks the program to end. Safe in a signal handler: it counts the request
// and, on the Lua thread, puts the hook on the running Lua (Lua's
// lua_sethook, a few stores); elsewhere the watchdog does at its next tick.
// A script running now, or started before the request is taken, is stopped
// with a Lua error at its next hook.
void RequestTermination();
// The number of termination requests so far.
int TerminationRequests();
// True once for every new request: the caller ends the game; scripts
// started from then on (the shut-down's handlers) run unhindered until the
// next request.
bool TakeTerminationRequest();

// Watches the state, whose Lua runs on the calling thread: replaces pcall,
// xpcall, load, coroutine.resume and coroutine.wrap with versions that hand
// the stop on (while the game is closing no script catches the stop for
// good), and debug.sethook and debug.gethook with versions that keep the
// script's own hook apart from the watch's. Scripts see Lua's own
// functions in every other way. Starts the watchdog thread (once).
void InstallScriptWatch(lua_State* L);
// Before the state is closed.
void UninstallScriptWatch();
// Around the closing of the state, which runs every finalizer left.
void SetScriptStateClosing(bool closing);

// What the hook cannot reach: Lua runs finalizers and hooks with hooks off.
// The watchdog thread (the one that puts the hook on when it is needed)
// looks, while a termination request waits, at what the Lua thread does:
// when it has been seen running Lua for `grace_ms` in all (engine work, a
// scene load or a long file read from a script function, does not count:
// it runs to its end and the request is then taken), it calls `close` with
// what held the game and the grace, which ends the process from that
// thread. A game closing on a request it has taken has as long again to
// close its state: the finalizers run there, hooks off. Started once;
// later calls do nothing.
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
// calls stack; the innermost is the one timed and named. Entering costs a
// few stores and no clock reading: the start is the watchdog's last tick
// (it ticks every 50 ms), and the watchdog puts the hook on once the
// outermost call has run long enough to be worth watching.
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
    bool warned = false;
    ScriptCallWatch* outer;
};

// After how long a running call is named in the log (3000 ms by default).
void SetLongScriptCallMs(int milliseconds);

// Polled now and then while a call has run for over a second; true when the
// user asked to close the window (the frame loop cannot see it while a
// script holds the main thread).
using ClosePoll = bool (*)();
void SetScriptClosePoll(ClosePoll poll);
