// One frame of the window layer alone (message pump, mouse poll, present of
// a cleared 1024 x 768 target) against raw SDL and OpenGL doing the same.
#include <GL/gl.h>
#include <SDL.h>
#include <benchmark/benchmark.h>

#include "app/app_window.h"
#include "render/display_mode.h"

namespace {

// The context a device would make on the window; swap interval 0 so the
// frame is not paced by a display.
SDL_GLContext MakeContext(SDL_Window* w) {
    SDL_GLContext ctx = SDL_GL_CreateContext(w);
    if (ctx) SDL_GL_SetSwapInterval(0);
    return ctx;
}

void ClearAndPresent(SDL_Window* w) {
    glClearColor(0.1f, 0.2f, 0.3f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SDL_GL_SwapWindow(w);
}

void BM_WindowFrame(benchmark::State& state) {
    g_requestedDisplayMode = {1024, 768, false, "bench"};
    AppWindow app;
    if (!app.Create()) {
        state.SkipWithError("no window");
        return;
    }
    auto* sdl = static_cast<SDL_Window*>(plat::NativeWindowHandle(g_windowHandle));
    SDL_GLContext ctx = MakeContext(sdl);
    if (!ctx) {
        state.SkipWithError("no GL context");
        return;
    }
    for (auto _ : state) {
        app.BeginFrame();
        app.PumpMessages();
        ClearAndPresent(sdl);
        app.EndFrame();
    }
    SDL_GL_DeleteContext(ctx);
    app.Destroy();
}
BENCHMARK(BM_WindowFrame)->Unit(benchmark::kMicrosecond);

void BM_WindowFrame_RawSdl(benchmark::State& state) {
    SDL_InitSubSystem(SDL_INIT_VIDEO);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_Window* sdl = SDL_CreateWindow("bench", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 1024, 768,
                                       SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
    SDL_GLContext ctx = sdl ? MakeContext(sdl) : nullptr;
    if (!ctx) {
        state.SkipWithError("no window or GL context");
        return;
    }
    for (auto _ : state) {
        SDL_Event e;
        while (SDL_PollEvent(&e)) benchmark::DoNotOptimize(e);
        int x, y;
        benchmark::DoNotOptimize(SDL_GetRelativeMouseState(&x, &y));
        ClearAndPresent(sdl);
    }
    SDL_GL_DeleteContext(ctx);
    SDL_DestroyWindow(sdl);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}
BENCHMARK(BM_WindowFrame_RawSdl)->Unit(benchmark::kMicrosecond);

}  // namespace
