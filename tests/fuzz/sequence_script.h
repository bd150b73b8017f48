#pragma once
// The call-sequence fuzzer's game: the scenes it adds to the bundled game
// (a cube scene holding an object of every class, a page scene of pages
// and nested hotspots below it) and, from a seed, the start-up script that
// plays a random sequence of script calls, one step a frame, with hostile
// arguments, handles kept from earlier calls and harmful calls inside the
// input and scene handlers.
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

// The start-up script for one seed: the bundled game's start-up with the
// sequence and its driver behind it. `calls` is the length of the main
// sequence; a call naming any of `without` is drawn again.
std::string SequenceScript(const std::string& demo_main, const std::vector<FunctionInfo>& functions, uint64_t seed,
                           int calls, const std::vector<std::string>& without);

}  // namespace seqfuzz
