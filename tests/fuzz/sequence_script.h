#pragma once
// The call-sequence fuzzer's game: the scenes it adds to the bundled game
// (a cube scene holding an object of every class, a page scene of pages
// and nested hotspots below it) and, from a seed, the start-up script that
// plays a random sequence of script calls, one step a frame, with hostile
// arguments, handles kept from earlier calls, exchanges of live objects of
// every kind (two loaded scenes among them, freed later), harmful calls
// inside the input and scene handlers, and finalizers that call the engine,
// raise or yield, run by collections at varied points.
#include <cstdint>
#include <string>
#include <vector>

namespace seqfuzz {

// One registered script function and what its arguments are, from the
// reference (tools/script_functions.txt); empty when it is not described.
struct FunctionInfo {
    std::string name;
    std::vector<std::string> args;
};

// The registered functions, with the arguments the reference gives them.
std::vector<FunctionInfo> ScriptFunctions(const std::string& reference_path);

// Writes the fuzzer's own scenes into a game folder the demo generator
// has written.
bool AddFuzzScenes(const std::string& root);

// The stop test of a seed: every eighth seed (8, 16, ...) sends its game
// into an endless script loop of one shape (finalizers that loop with
// Lua's hooks off, and scripts that remove the engine's hook, among them),
// which the driver ends with one SIGTERM; the game has to log its end in
// time (WithinMs).
struct Spin {
    bool on = false;
    std::string shape;  // the loop, by name
    std::string from;   // where it starts: "main", "call", "handler" or "task"
    int delay_ms = 0;   // from the loop's start to the signal
    // No hook of the engine's reaches the loop (it runs inside a finalizer,
    // which Lua runs with its hooks off): only such a loop may end with the
    // game closed from outside.
    bool held = false;
    // How long the game may take to log its end after the signal: three
    // seconds (it takes a few hundred milliseconds; the rest leaves room
    // for a loaded machine), or for a held loop the engine's grace for a
    // game its scripts hold, and three seconds.
    int WithinMs() const { return held ? 5000 + 3000 : 3000; }
};
Spin SpinOf(uint64_t seed, bool finalizers);
// Whether the sequences hold finalizers: --without newproxy leaves them
// out, with the collections, raises and stop tests that came with them, so
// that a seed gives the sequence it gave before they were learnt.
bool Finalizers(const std::vector<std::string>& without);
// Written into the game folder when the loop starts: the loop, and this
// line when no hook reaches it there (it runs inside a finalizer).
inline constexpr const char* kSpinMark = "fuzz_spin.txt";
inline constexpr const char* kHooksOff = "hooks off";

// The start-up script for one seed: the bundled game's start-up with the
// sequence and its driver behind it. `calls` is the length of the main
// sequence; a call naming any of `without` is drawn again.
// Whether a call text quits with a status (quit(n), not quit()).
bool QuitsWithAStatus(const std::string& call);

std::string SequenceScript(const std::string& demo_main, const std::vector<FunctionInfo>& functions, uint64_t seed,
                           int calls, const std::vector<std::string>& without);

// Argument lists for the sweep of one function (sweep_script.h): the
// even ones plausible (live objects of the kinds the arguments name, in
// the cube scene; names that exist; a scene to load is the other cube
// scene in list 0, the page scene in list 2, which leaves out the optional
// arguments at the end), the odd ones drawn as the
// sequences draw them, hostile values among them. They depend on the function's name and
// `lists` alone; none names a function of `without`.
std::vector<std::string> SweepArguments(const std::vector<FunctionInfo>& functions, const FunctionInfo& f, int lists,
                                        const std::vector<std::string>& without);

}  // namespace seqfuzz
