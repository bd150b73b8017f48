#pragma once
// The sweep of the call-sequence fuzzer: every script function is called
// with plausible and hostile argument lists while Lua that runs inside the
// call does something destructive (unloads every scene, removes every
// resource, removes or deletes an object passed to the call, switches or
// reloads the scene, closes a file, removes texts, destroys an edit box,
// removes or recompiles a script of the sandbox). That Lua is a finalizer
// run at the 1st, 2nd, ... collection step inside the call, or a
// metamethod of a "default globals" table (_G's __index or __newindex) at
// its 1st, 2nd, ... call; the steps go on until the call ends before the
// action fired. The engine's own paths that run Lua while they hold
// objects (SweepPaths) are swept the same way. One combination runs a
// frame, so a frame renders after each; the script is the bundled game's
// start-up script with the sweep behind it.
#include <string>
#include <utility>
#include <vector>

namespace seqfuzz {

// One function of a slice, with its argument lists (SweepArguments).
struct SweepEntry {
    std::string function;
    std::vector<std::string> lists;
};

// The actions and where they fire from, by name (as --action and
// --trigger take them).
const std::vector<std::string>& SweepActions();
const std::vector<std::string>& SweepTriggers();

// Functions the sweep leaves out, and why.
const std::vector<std::pair<std::string, std::string>>& SweepSkipped();

// The engine's own paths that run Lua while they hold objects, swept as
// functions of these names: hover, click, key, node switch, transitions,
// drawing, the video's close, the statement queue, the script cache.
const std::vector<std::string>& SweepPaths();

// Functions that name scripts: swept with the sandbox's script alone
// (sandbox/ in the game's folder, a copy of its scripts), so that no call
// deletes or replaces one of the game's own.
const std::vector<std::string>& SweepSandboxed();
std::vector<std::string> SandboxArguments();

// Functions swept with their plausible argument list alone, and why.
const std::vector<std::pair<std::string, std::string>>& SweepPlausibleOnly();

// Functions that ask for work the engine does at the next frame's start
// (scene switches, transitions, page turns, tasks, display resets): their
// actions stay armed until then.
const std::vector<std::string>& SweepThrough();

// Where a game of a slice starts: indices (0-based) of the function in
// the slice, the argument list, the action and the trigger.
struct SweepPlace {
    int function = 0, list = 0, action = 0, trigger = 0;
};

struct SweepLimits {
    int dense = 10;  // steps 1 to `dense` each; then each step half as far again as the last
    int cap = 150;   // the last step tried
    // A script function's combinations and steps sampled: every
    // `sample`-th action of each list and trigger, of the dense steps after
    // the first every `sample`-th, the sparse ones further apart (the same
    // in every run; the paths and a replay take all); 1 takes all.
    int sample = 1;
    // A replay: one argument list, action, trigger or step alone (-1 or
    // empty: all).
    int list = -1;
    std::string action, trigger;
    int step = 0;
    // Known failures, not run: "function", "function action" or
    // "function action trigger".
    std::vector<std::string> known;
};

// The log the game writes: "run F L A T STEP function action trigger",
// with "through" for a function of SweepThrough, before each call (0-based indices into the slice), then
// "fired" or "quiet" after it, "capped" when the last step still fired, and "end" when the slice is done.
// "stale WHAT" follows a run whose release did not show at once (a file closed but empty, a removed
// object still found).
inline constexpr const char* kSweepLog = "sweep_runs.log";

std::string SweepScript(const std::string& demo_main, const std::vector<SweepEntry>& slice,
                        const SweepPlace& from, const SweepLimits& limits);

// The next trigger after a combination: where a slice goes on after one
// of its calls broke the game.
SweepPlace SweepPlaceAfter(const SweepPlace& failed);

}  // namespace seqfuzz
