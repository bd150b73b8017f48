#include "engine_run.h"

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "support/test_support.h"

namespace {

EngineRun RunIn(const std::string& root, const std::string& main_lua, const EngineRunOptions& options) {
    quild_test::TempDir home;
    quild_test::WriteFile(root + "/main.lua", main_lua);
    std::remove((root + "/trace.txt").c_str());
    if (options.prepare_root) options.prepare_root(root);
    if (options.prepare_home) options.prepare_home(home.path());
    std::string cmd = "cd '" + root + "' || exit 1; env";
    for (const std::string& name : options.unset) cmd += " -u " + name;
    std::map<std::string, std::string> env = {{"SDL_VIDEODRIVER", "offscreen"}, {"SDL_AUDIODRIVER", "dummy"}};
    for (const std::string& name : options.unset) env.erase(name);
    env["HOME"] = home.path();
    for (const auto& [k, v] : options.env) env[k] = v;
    for (const auto& [k, v] : env) cmd += " " + k + "='" + v + "'";
    cmd += " timeout -s KILL " + std::to_string(options.timeout_seconds) + " '" + QUILD_EXE + "' " + options.args +
           " > out.txt 2>&1";
    if (!options.term_when_logged.empty()) {
        // In the background; timeout hands the signal on to the engine.
        cmd += " & pid=$!; n=0; while ! grep -qF '" + options.term_when_logged + "' '" + home.path() +
               "/Documents/Quorvane/log.txt' 2>/dev/null && [ $n -lt " +
               std::to_string(options.timeout_seconds * 10) +
               " ]; do sleep 0.1; n=$((n+1)); done; t0=$(date +%s%N); kill -TERM $pid; " +
               (options.term_again_when_logged.empty()
                    ? std::string()
                    : "while kill -0 $pid 2>/dev/null && ! grep -qF '" + options.term_again_when_logged + "' '" +
                          home.path() + "/Documents/Quorvane/log.txt' 2>/dev/null; do sleep 0.02; done; kill -TERM $pid; ") +
               // Timed to the game's last log line (or the end of the
               // program, without one): the sanitizers' leak check at exit
               // takes seconds on a busy machine, and is not the game's.
               "while kill -0 $pid 2>/dev/null && ! grep -qE '\\[QUIT\\]|closed without the shut-down' '" +
               home.path() + "/Documents/Quorvane/log.txt' 2>/dev/null; do sleep 0.02; done; echo "
               "$((($(date +%s%N) - t0) / 1000000)) > '" +
               home.path() + "/term_ms.txt'; wait $pid; exit $?";
    }
    EngineRun run;
    auto start = std::chrono::steady_clock::now();
    int status = std::system(cmd.c_str());
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // timeout reports a killed child as 128 + 9.
    run.exit_code = WIFEXITED(status) && WEXITSTATUS(status) != 137 ? WEXITSTATUS(status) : -1;
    run.log = quild_test::ReadFile(home.path() + "/Documents/Quorvane/log.txt");
    run.output = quild_test::ReadFile(root + "/out.txt");
    run.trace = quild_test::ReadFile(root + "/trace.txt");
    const std::string term_ms = quild_test::ReadFile(home.path() + "/term_ms.txt");
    if (!term_ms.empty()) run.term_ms = std::atoi(term_ms.c_str());
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(root)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) run.files += n + "\n";
    return run;
}

}  // namespace

EngineRun RunEngine(const std::string& main_lua, const std::map<std::string, std::string>& env,
                    const std::string& args) {
    EngineRunOptions options;
    options.env = env;
    options.args = args;
    return RunEngineWith(main_lua, options);
}

EngineRun RunEngineWith(const std::string& main_lua, const EngineRunOptions& options) {
    if (!options.root.empty()) return RunIn(options.root, main_lua, options);
    quild_test::TempDir root;
    return RunIn(root.path(), main_lua, options);
}

EngineRun RunEngineIn(const std::string& root, const std::string& main_lua,
                      const std::map<std::string, std::string>& env) {
    EngineRunOptions options;
    options.env = env;
    return RunIn(root, main_lua, options);
}

std::string LogLinesStartingWith(const std::string& log, const std::string& prefix) {
    std::istringstream in(log);
    std::string line, out;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(prefix, 0) == 0) out += line + "\n";
    }
    return out;
}

int RunSceneGen(const std::string& root, const std::string& args, bool keep) {
    if (!keep) {
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root);
    }
    const std::string cmd = std::string("'") + QUILD_SCENEGEN + "' '" + root + "' " + args;
    return std::system(cmd.c_str());
}
