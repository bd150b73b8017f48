#pragma once
// Runs the real engine executable on a data root with a temporary HOME and
// collects what it left behind.
#include <functional>
#include <map>
#include <string>
#include <vector>

struct EngineRun {
    int exit_code = -1;  // -1 when the program did not exit (killed, timed out)
    double seconds = 0;  // wall time of the run
    int term_ms = -1;    // from the SIGTERM to the game's last log line or the end of the program; -1 when none was sent
    std::string log;     // log.txt
    std::string output;  // stdout and stderr
    std::string trace;   // trace.txt written by the test scripts, if any
    std::string files;   // names in the data root afterwards, sorted, one a line
};

struct EngineRunOptions {
    std::map<std::string, std::string> env;  // added to the child's environment
    // Taken out of the child's environment (also the SDL drivers the runs
    // otherwise set to off-screen video and dummy sound).
    std::vector<std::string> unset;
    std::string args;
    // An existing data root to run in (what the run writes stays there);
    // empty: a fresh one, removed afterwards.
    std::string root;
    // Called with the data root (after main.lua is written) and with HOME
    // before the run, to put more files in place.
    std::function<void(const std::string& root)> prepare_root;
    std::function<void(const std::string& home)> prepare_home;
    int timeout_seconds = 120;
    // When set, the engine gets SIGTERM once its log.txt holds this text.
    std::string term_when_logged;
    // When set too, a second SIGTERM follows once the log holds this text.
    std::string term_again_when_logged;
};

// Copies `main_lua` into a fresh data root as main.lua and runs the engine
// there. Extra environment entries are added to the child's environment.
EngineRun RunEngine(const std::string& main_lua, const std::map<std::string, std::string>& env = {},
                    const std::string& args = "");
EngineRun RunEngineWith(const std::string& main_lua, const EngineRunOptions& options);

// Runs the engine in an existing data root (main.lua written there first)
// with a temporary HOME.
EngineRun RunEngineIn(const std::string& root, const std::string& main_lua,
                      const std::map<std::string, std::string>& env = {});

// Lines of the log that begin with "[EXITING] : " and the last line.
std::string LogLinesStartingWith(const std::string& log, const std::string& prefix);

// Runs the scene generator (tools/scenegen.cpp) on a data root with the
// arguments, the root emptied first unless `keep` is set; its exit status.
int RunSceneGen(const std::string& root, const std::string& args, bool keep = false);
