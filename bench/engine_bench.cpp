// The engine's start-up to its first presented frame and its shut-down,
// beside a bare SDL + OpenGL + Lua program doing the same work; and an idle
// frame (no scene) beside the window layer's own frame.
#include <GL/gl.h>
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "app/app_main.h"
#include "app/app_window.h"
#include "app/engine.h"
#include "platform/system.h"
#include "render/render_device.h"
#include "script/script_function.h"

namespace {

const char* kMain = R"lua(
ge_resetdisplay(1024, 768, 32, false, 0, "bench", 0)
function OnGameUpdate(dt) bench_first_frame() quit() end
)lua";

int64_t g_first_frame = 0;
int BenchFirstFrame(lua_State*) {
    g_first_frame = plat::PerfCounter();
    return 0;
}
ScriptFunctionRecord r_bench_first_frame("bench_first_frame", BenchFirstFrame);

// A data root holding the script, entered for the run.
struct DataRoot {
    std::string old;
    std::filesystem::path dir;
    DataRoot() {
        old = std::filesystem::current_path().string();
        dir = std::filesystem::temp_directory_path() / ("quild-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        FILE* f = std::fopen((dir / "main.lua").c_str(), "wb");
        std::fputs(kMain, f);
        std::fclose(f);
        std::filesystem::current_path(dir);
        setenv("HOME", dir.c_str(), 1);
    }
    ~DataRoot() {
        std::filesystem::current_path(old);
        std::filesystem::remove_all(dir);
    }
};

void BM_EngineStartToFirstFrameAndStop(benchmark::State& state) {
    DataRoot root;
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

struct FramebufferCalls {
    void (*genFramebuffers)(GLsizei, GLuint*);
    void (*bindFramebuffer)(GLenum, GLuint);
    void (*framebufferTexture2D)(GLenum, GLenum, GLenum, GLuint, GLint);
    void (*blitFramebuffer)(GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLbitfield, GLenum);
    FramebufferCalls() {
        genFramebuffers = reinterpret_cast<decltype(genFramebuffers)>(SDL_GL_GetProcAddress("glGenFramebuffers"));
        bindFramebuffer = reinterpret_cast<decltype(bindFramebuffer)>(SDL_GL_GetProcAddress("glBindFramebuffer"));
        framebufferTexture2D =
            reinterpret_cast<decltype(framebufferTexture2D)>(SDL_GL_GetProcAddress("glFramebufferTexture2D"));
        blitFramebuffer = reinterpret_cast<decltype(blitFramebuffer)>(SDL_GL_GetProcAddress("glBlitFramebuffer"));
    }
};

// The same work done bare: window and GL context, a Lua state running the
// same script, one cleared and presented frame, then everything released.
void BM_BareSdlGlLuaBaseline(benchmark::State& state) {
    double startup = 0;
    // Video stays initialised across runs, as the engine's device layer
    // keeps it (and the GL driver) loaded for the life of the process.
    SDL_InitSubSystem(SDL_INIT_VIDEO);
    for (auto _ : state) {
        int64_t t0 = plat::PerfCounter();
        SDL_InitSubSystem(SDL_INIT_VIDEO);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
        SDL_Window* w = SDL_CreateWindow("bench", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 1024, 768,
                                         SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
        SDL_GLContext ctx = SDL_GL_CreateContext(w);
        FramebufferCalls gl;
        lua_State* L = luaL_newstate();
        luaL_openlibs(L);
        lua_register(L, "ge_resetdisplay", [](lua_State*) { return 0; });
        lua_register(L, "quit", [](lua_State*) { return 0; });
        lua_register(L, "bench_first_frame", [](lua_State*) { return 0; });
        luaL_dostring(L, kMain);
        lua_getglobal(L, "OnGameUpdate");
        lua_pushnumber(L, 16.6);
        lua_pcall(L, 1, 0, 0);
        // Like the engine: clear a 1024 x 768 framebuffer object and show it
        // flipped on the window.
        GLuint tex = 0, fbo = 0;
        glGenTextures(1, &tex);
        glBindTexture(GL_TEXTURE_2D, tex);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1024, 768, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
        gl.genFramebuffers(1, &fbo);
        gl.bindFramebuffer(GL_FRAMEBUFFER, fbo);
        gl.framebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex, 0);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        gl.bindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
        gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        gl.blitFramebuffer(0, 0, 1024, 768, 0, 768, 1024, 0, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        SDL_GL_SwapWindow(w);
        glDeleteTextures(1, &tex);
        startup += static_cast<double>(plat::PerfCounter() - t0) / 1e6;
        lua_close(L);
        SDL_GL_DeleteContext(ctx);
        SDL_DestroyWindow(w);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    state.counters["startup_ms"] = benchmark::Counter(startup, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_BareSdlGlLuaBaseline)->Unit(benchmark::kMillisecond)->Iterations(10);

const char* kIdleMain = R"lua(
ge_resetdisplay(1024, 768, 32, false, 0, "bench", 0)
)lua";

void BM_EngineIdleFrame(benchmark::State& state) {
    DataRoot root;
    FILE* f = std::fopen("main.lua", "wb");
    std::fputs(kIdleMain, f);
    std::fclose(f);
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
