// The engine's start-up to its first presented frame and its shut-down,
// beside a bare SDL + OpenGL + Lua program doing the same work; and an idle
// frame (no scene) beside the window layer's own frame.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bare_program.h"
#include "kept.h"
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
double g_first_frame_cpu = 0;
double ProcessCpuMs();
int BenchFirstFrame(lua_State*) {
    glFinish();
    g_first_frame = plat::PerfCounter();
    g_first_frame_cpu = ProcessCpuMs();
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

double Ms(int64_t from, int64_t to) { return static_cast<double>(to - from) / 1e6; }

double CpuMs(const rusage& u) {
    return (double(u.ru_utime.tv_sec) + double(u.ru_stime.tv_sec)) * 1e3 +
           (double(u.ru_utime.tv_usec) + double(u.ru_stime.tv_usec)) / 1e3;
}
// CPU time of every thread of this process so far (the GL driver's workers
// included).
double ProcessCpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return CpuMs(u);
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Start-up to the first presented and finished frame, the engine and the
// bare program taking turns in each iteration so that both meet the same
// load on the machine. Counters are medians over the iterations, in wall
// time and in CPU time of the whole process (the driver's threads wait for
// cores on a loaded machine, which only the wall time shows); the bare side
// also times its audio device's closing apart from the rest of its
// tear-down. Video stays initialised across runs, as the engine's device
// layer keeps it (and the GL driver) loaded for the life of the process.
void BM_StartToFirstFrame_EngineVsBare(benchmark::State& state) {
    bench::EngineAlone alone;
    DataRoot root(kMain);
    SDL_InitSubSystem(SDL_INIT_VIDEO);
    const char* stubs[] = {"ge_task", "bench_first_frame", "quit"};
    std::vector<double> engine, engine_stop, bare, bare_audio, bare_rest, engine_cpu, bare_cpu;
    for (auto _ : state) {
        double c0 = ProcessCpuMs();
        int64_t t0 = plat::PerfCounter();
        ApplicationMain("bench", "", "final");
        int64_t t1 = plat::PerfCounter();
        engine.push_back(Ms(t0, g_first_frame));
        engine_stop.push_back(Ms(g_first_frame, t1));
        engine_cpu.push_back(g_first_frame_cpu - c0);

        c0 = ProcessCpuMs();
        int64_t b0 = plat::PerfCounter();
        bare::Program p;
        bare::Start(p, kMain, stubs, 3);
        int64_t b1 = plat::PerfCounter();
        bare_cpu.push_back(ProcessCpuMs() - c0);
        SDL_CloseAudioDevice(p.audio);
        p.audio = 0;
        int64_t b2 = plat::PerfCounter();
        bare::Stop(p);
        SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_VIDEO);
        int64_t b3 = plat::PerfCounter();
        bare.push_back(Ms(b0, b1));
        bare_audio.push_back(Ms(b1, b2));
        bare_rest.push_back(Ms(b2, b3));
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    state.counters["engine_startup_ms"] = Median(engine);
    state.counters["bare_startup_ms"] = Median(bare);
    state.counters["ratio"] = Median(engine) / std::max(Median(bare), 1e-9);
    state.counters["engine_startup_cpu_ms"] = Median(engine_cpu);
    state.counters["bare_startup_cpu_ms"] = Median(bare_cpu);
    state.counters["engine_first_frame_to_exit_ms"] = Median(engine_stop);
    state.counters["bare_audio_close_ms"] = Median(bare_audio);
    state.counters["bare_other_teardown_ms"] = Median(bare_rest);
}
BENCHMARK(BM_StartToFirstFrame_EngineVsBare)->Unit(benchmark::kMillisecond)->Iterations(15);

// Whole processes, start to exit, one presented frame: the engine's own
// program over a "main" that quits in its first frame, and the bare program
// over the same script, taking turns. Wall time; the children inherit
// SDL_VIDEODRIVER and SDL_AUDIODRIVER (and the benchmark's per-user folder).
const char* kProcessMain = R"lua(
ge_resetdisplay(1024, 768, 32, false, 0, "bench", 0)
function OnGameUpdate(dt) quit() end
)lua";

// Milliseconds from start to exit, and the CPU time the program used;
// false when it failed.
bool RunProcess(const char* exe, double& wall, double& cpu) {
    char* argv[] = {const_cast<char*>(exe), nullptr};
    int64_t t0 = plat::PerfCounter();
    pid_t pid = 0;
    if (posix_spawn(&pid, exe, nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    rusage u{};
    if (wait4(pid, &status, 0, &u) != pid) return false;
    wall = Ms(t0, plat::PerfCounter());
    cpu = CpuMs(u);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_WholeProcess_EngineVsBare(benchmark::State& state) {
    DataRoot root(kProcessMain);
    std::vector<double> engine, bare, engine_cpu, bare_cpu;
    for (auto _ : state) {
        double e = 0, b = 0, ec = 0, bc = 0;
        if (!RunProcess(QUILD_EXE, e, ec)) {
            state.SkipWithError("the engine's program failed");
            return;
        }
        if (!RunProcess(QUILD_BARE_EXE, b, bc)) {
            state.SkipWithError("the bare program failed");
            return;
        }
        engine.push_back(e);
        bare.push_back(b);
        engine_cpu.push_back(ec);
        bare_cpu.push_back(bc);
    }
    state.counters["engine_ms"] = Median(engine);
    state.counters["bare_ms"] = Median(bare);
    state.counters["ratio"] = Median(engine) / std::max(Median(bare), 1e-9);
    state.counters["engine_cpu_ms"] = Median(engine_cpu);
    state.counters["bare_cpu_ms"] = Median(bare_cpu);
}
BENCHMARK(BM_WholeProcess_EngineVsBare)->Unit(benchmark::kMillisecond)->Iterations(15)->UseRealTime();

const char* kIdleMain = R"lua(
ge_resetdisplay(1024, 768, 32, false, 0, "bench", 0)
)lua";

void BM_EngineIdleFrame(benchmark::State& state) {
    bench::EngineAlone alone;
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
