#include "engine_run.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "support/test_support.h"

namespace {

EngineRun RunIn(const std::string& root, const std::string& main_lua, const std::map<std::string, std::string>& env,
                const std::string& args) {
    quild_test::TempDir home;
    quild_test::WriteFile(root + "/main.lua", main_lua);
    std::remove((root + "/trace.txt").c_str());
    std::string cmd = "cd '" + root + "' && env HOME='" + home.path() +
                      "' SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy";
    for (const auto& [k, v] : env) cmd += " " + k + "='" + v + "'";
    cmd += std::string(" timeout 120 '") + QUILD_EXE + "' " + args + " > out.txt 2>&1";
    EngineRun run;
    int status = std::system(cmd.c_str());
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.log = quild_test::ReadFile(home.path() + "/Documents/Quorvane/log.txt");
    run.output = quild_test::ReadFile(root + "/out.txt");
    run.trace = quild_test::ReadFile(root + "/trace.txt");
    return run;
}

}  // namespace

EngineRun RunEngine(const std::string& main_lua, const std::map<std::string, std::string>& env,
                    const std::string& args) {
    quild_test::TempDir root;
    return RunIn(root.path(), main_lua, env, args);
}

EngineRun RunEngineIn(const std::string& root, const std::string& main_lua,
                      const std::map<std::string, std::string>& env) {
    return RunIn(root, main_lua, env, "");
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
