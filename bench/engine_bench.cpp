// The engine's start-up to its first presented frame and its shut-down,
// beside a bare SDL + OpenGL + Lua program doing the same work; and an idle
// frame (no scene) beside the window layer's own frame.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bare_program.h"
#include "temp_folder.h"

#include "app/app_main.h"
#include "app/app_window.h"
#include "app/engine.h"
#include "platform/system.h"
#include "render/render_device.h"
#include "script/script_function.h"

namespace {

// One frame presented, then the clock stops: the statement queued in the
// first frame runs at the start of the second, right after the first
// present; it waits for the GL work to finish and ends the game.
const char* kMain = R"lua(
ge_resetdisplay(1024, 768, 32, false, 0, "bench", 0)
function OnGameUpdate(dt) ge_task("bench_first_frame() quit()") end
)lua";

int64_t g_first_frame = 0;
int BenchFirstFrame(lua_State*) {
    glFinish();
    g_first_frame = plat::PerfCounter();
    return 0;
}
ScriptFunctionRecord r_bench_first_frame("bench_first_frame", BenchFirstFrame);

// A data root holding the script, entered for the run; the folder, the
// working folder and HOME are put back afterwards.
struct DataRoot {
    std::string old, old_home;
    bool had_home = false;
    bench::TempFolder folder{"quild-bench-engine"};
    explicit DataRoot(const char* script) {
        old = std::filesystem::current_path().string();
        if (const char* h = std::getenv("HOME")) {
            had_home = true;
            old_home = h;
        }
        FILE* f = std::fopen(folder.file("main.lua").c_str(), "wb");
        std::fputs(script, f);
        std::fclose(f);
        std::filesystem::current_path(folder.path());
        setenv("HOME", folder.path().c_str(), 1);
    }
    ~DataRoot() {
        std::filesystem::current_path(old);
        if (had_home)
            setenv("HOME", old_home.c_str(), 1);
        else
            unsetenv("HOME");
    }
};

void BM_EngineStartToFirstFrameAndStop(benchmark::State& state) {
    DataRoot root(kMain);
    double startup = 0, shutdown = 0;
    for (auto _ : state) {
        int64_t t0 = plat::PerfCounter();
        ApplicationMain("bench", "", "final");
        int64_t t1 = plat::PerfCounter();
        startup += static_cast<double>(g_first_frame - t0) / 1e6;
        shutdown += static_cast<double>(t1 - g_first_frame) / 1e6;
    }
    state.counters["startup_ms"] = benchmark::Counter(startup, benchmark::Counter::kAvgIterations);
    state.counters["first_frame_to_exit_ms"] = benchmark::Counter(shutdown, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_EngineStartToFirstFrameAndStop)->Unit(benchmark::kMillisecond)->Iterations(10);

// The same work done bare, clock stopped at the same point. Video stays
// initialised across runs, as the engine's device layer keeps it (and the
// GL driver) loaded for the life of the process.
void BM_BareSdlGlLuaBaseline(benchmark::State& state) {
    double startup = 0, audio_close = 0, rest = 0;
    SDL_InitSubSystem(SDL_INIT_VIDEO);
    const char* stubs[] = {"ge_task", "bench_first_frame", "quit"};
    for (auto _ : state) {
        int64_t t0 = plat::PerfCounter();
        bare::Program p;
        bare::Start(p, kMain, stubs, 3);
        int64_t t1 = plat::PerfCounter();
        SDL_CloseAudioDevice(p.audio);
        p.audio = 0;
        int64_t t2 = plat::PerfCounter();
        bare::Stop(p);
        SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_VIDEO);
        int64_t t3 = plat::PerfCounter();
        startup += static_cast<double>(t1 - t0) / 1e6;
        audio_close += static_cast<double>(t2 - t1) / 1e6;
        rest += static_cast<double>(t3 - t2) / 1e6;
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    state.counters["startup_ms"] = benchmark::Counter(startup, benchmark::Counter::kAvgIterations);
    state.counters["audio_close_ms"] = benchmark::Counter(audio_close, benchmark::Counter::kAvgIterations);
    state.counters["other_teardown_ms"] = benchmark::Counter(rest, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_BareSdlGlLuaBaseline)->Unit(benchmark::kMillisecond)->Iterations(10);

// Whole processes, start to exit, one presented frame: the engine's own
// program over a "main" that quits in its first frame, and the bare program
// over the same script. Wall time; the children inherit SDL_VIDEODRIVER
// and SDL_AUDIODRIVER.
const char* kProcessMain = R"lua(
ge_resetdisplay(1024, 768, 32, false, 0, "bench", 0)
function OnGameUpdate(dt) quit() end
)lua";

void RunProcess(benchmark::State& state, const char* exe) {
    DataRoot root(kProcessMain);
    for (auto _ : state) {
        char* argv[] = {const_cast<char*>(exe), nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, exe, nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("cannot start the program");
            return;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the program failed");
            return;
        }
    }
}

void BM_EngineProcessOneFrame(benchmark::State& state) {
    RunProcess(state, QUILD_EXE);
}
BENCHMARK(BM_EngineProcessOneFrame)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

void BM_BareProcessOneFrameBaseline(benchmark::State& state) {
    RunProcess(state, QUILD_BARE_EXE);
}
BENCHMARK(BM_BareProcessOneFrameBaseline)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

const char* kIdleMain = R"lua(
ge_resetdisplay(1024, 768, 32, false, 0, "bench", 0)
)lua";

void BM_EngineIdleFrame(benchmark::State& state) {
    DataRoot root(kIdleMain);
    Engine* e = GetEngine();
    if (!e || !e->displayInitialised) {
        state.SkipWithError("engine did not start");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(FrameTick());
    e->Shutdown();
}
BENCHMARK(BM_EngineIdleFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
