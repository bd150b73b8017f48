// The first two seconds of the bundled game as a player meets them: the
// engine's own program started in the game's folder (written by
// quild_demogen), its frames timed from the game's own frame clock, the
// worst frame after the first reported beside the median frame of the same
// starts. "cold": every start with an empty GL shader cache (a first launch,
// or the first after a driver update: Mesa's disk cache pointed at a new
// folder); "warm": every start with the cache a start before it filled.
//
// Each iteration is one start. QUILD_BENCH_STARTS sets how many (2 when
// unset, to keep the each-benchmark-alone test short; the figures in
// docs/PERFORMANCE.md are taken with 10).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "temp_folder.h"

namespace {

// Appended to the game's start-up script: each frame's start (the frame
// clock's milliseconds) is kept by a wrapper around the game's own update
// handler; two seconds after the end of the first frame (the one that loads
// the title page) the lengths of the frames so far go to the file the
// benchmark names, and the game quits.
const char* kFrameClock = R"lua(
local bench_starts, bench_done = {}, false
local bench_game_update = OnGameUpdate
function OnGameUpdate(dt)
  if bench_done then return end
  local now = ge_getcounter()
  bench_starts[#bench_starts + 1] = now
  if #bench_starts > 2 and now - bench_starts[2] >= 2000 then
    bench_done = true
    local out = io.open(os.getenv("QUILD_BENCH_FRAMES"), "wb")
    if out then
      for i = 2, #bench_starts do out:write(bench_starts[i] - bench_starts[i - 1], "\n") end
      out:close()
    end
    quit()
    return
  end
  if bench_game_update then return bench_game_update(dt) end
end
)lua";

// The game written once for the program's life. The faces of the cube rooms
// are made small: the title page, all the first two seconds show, is the
// same at every face size.
struct Game {
    bench::TempFolder folder{"quild-bench-game"};
    bench::TempFolder home{"quild-bench-game-home"};
    bool ok = false;
    Game() {
        if (folder.path().empty() || home.path().empty()) return;
        const std::string cmd =
            std::string("'") + QUILD_DEMOGEN_EXE + "' '" + folder.file("game") + "' --faces 128 > /dev/null";
        if (std::system(cmd.c_str()) != 0) return;
        std::FILE* f = std::fopen(folder.file("game/main.lua").c_str(), "ab");
        if (!f) return;
        ok = std::fputs(kFrameClock, f) >= 0;
        ok = std::fclose(f) == 0 && ok;
    }
    std::string root() const { return folder.file("game"); }
};

Game& TheGame() {
    static Game game;
    return game;
}

int Starts() {
    const char* v = std::getenv("QUILD_BENCH_STARTS");
    const int n = v ? std::atoi(v) : 0;
    return n > 0 ? n : 2;
}

// The frame lengths in milliseconds of one start of the game with the given
// shader cache folder; empty when it failed, and why in *failure.
std::vector<double> StartGame(const std::string& cache, std::string* failure) {
    Game& game = TheGame();
    const std::string frames = game.home.file("frames.txt");
    std::remove(frames.c_str());
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const char* keep = *e;
        for (const char* name : {"MESA_SHADER_CACHE_DIR=", "MESA_SHADER_CACHE_DISABLE=", "HOME=",
                                 "XDG_DOCUMENTS_DIR=", "QUILD_BENCH_FRAMES="})
            if (std::strncmp(*e, name, std::strlen(name)) == 0) keep = nullptr;
        if (keep) env.emplace_back(keep);
    }
    env.push_back("MESA_SHADER_CACHE_DIR=" + cache);
    env.push_back("HOME=" + game.home.path());
    env.push_back("XDG_DOCUMENTS_DIR=" + game.home.path());
    env.push_back("QUILD_BENCH_FRAMES=" + frames);
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, game.root().c_str());
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char exe[] = QUILD_EXE;
    char* argv[] = {exe, nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, exe, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    std::vector<double> lengths;
    if (spawned != 0) {
        *failure = "the engine's program could not be started";
        return lengths;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *failure = WIFSIGNALED(status) ? "the game ended on signal " + std::to_string(WTERMSIG(status))
                                       : "the game exited with " + std::to_string(WEXITSTATUS(status));
        return lengths;
    }
    std::ifstream in(frames);
    for (double ms; in >> ms;) lengths.push_back(ms);
    if (lengths.size() < 2) *failure = "the game timed fewer than two frames";
    return lengths;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Arg 0: cold, 1: warm. The reported time of an iteration is that start's
// worst frame after the first.
void BM_BundledGameFirstTwoSeconds(benchmark::State& state) {
    const bool warm = state.range(0) == 1;
    if (!TheGame().ok) {
        state.SkipWithError("the game could not be written");
        return;
    }
    bench::TempFolder caches("quild-bench-shader-cache");
    int serial = 0;
    const std::string warm_cache = caches.file("warm");
    std::string failure;
    if (warm && StartGame(warm_cache, &failure).size() < 2) {
        state.SkipWithError(failure.c_str());
        return;
    }
    const double goal = warm ? 20.0 : 33.0;
    std::vector<double> worst, second, typical;
    int over = 0;
    for (auto _ : state) {
        const std::string cache = warm ? warm_cache : caches.file("cold" + std::to_string(++serial));
        std::vector<double> frames = StartGame(cache, &failure);
        if (frames.size() < 2) {
            state.SkipWithError(failure.c_str());
            return;
        }
        const double w = *std::max_element(frames.begin() + 1, frames.end());
        worst.push_back(w);
        second.push_back(frames[1]);
        typical.push_back(Median(frames));
        if (w > goal) ++over;
        state.SetIterationTime(w / 1e3);
    }
    state.counters["worst_frame_ms"] = *std::max_element(worst.begin(), worst.end());
    state.counters["median_worst_frame_ms"] = Median(worst);
    state.counters["median_second_frame_ms"] = Median(second);
    state.counters["median_frame_ms"] = Median(typical);
    state.counters["starts_over_goal"] = over;
    state.counters["starts"] = double(worst.size());
    state.SetLabel(warm ? "warm shader cache, goal 20 ms" : "cold shader cache, goal 33 ms");
}
BENCHMARK(BM_BundledGameFirstTwoSeconds)
    ->ArgName("warm")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(Starts())
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
