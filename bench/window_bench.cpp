// One frame of the window layer alone (message pump, mouse poll, present of
// a cleared 1024 x 768 target) against raw SDL and OpenGL doing the same.
#include <GL/gl.h>
#include <SDL.h>
#include <benchmark/benchmark.h>

#include "timed.h"
#include "app/app_window.h"
#include "render/display_mode.h"
#include "render/render_device.h"

namespace {

// The context a device would make on the window; swap interval 0 so the
// frame is not paced by a display.
SDL_GLContext MakeContext(SDL_Window* w) {
    SDL_GLContext ctx = SDL_GL_CreateContext(w);
    if (ctx) SDL_GL_SetSwapInterval(0);
    return ctx;
}


void BM_WindowFrame(benchmark::State& state) {
    g_requestedDisplayMode = {1024, 768, false, "bench"};
    AppWindow app;
    if (!app.Create() || !g_renderDevice) {
        state.SkipWithError("no window");
        return;
    }
    // The window object made the render device; it clears and presents.
    bench::Timed(state, [&] {
        app.BeginFrame();
        app.PumpMessages();
        g_renderDevice->BeginScene();
        g_renderDevice->Clear(0xFF1A334D);
        g_renderDevice->EndScene();
        app.EndFrame();
    });
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
    // Like the device, draw into a 1024 x 768 framebuffer object and show it
    // flipped on the window.
    auto genFramebuffers = reinterpret_cast<void (*)(GLsizei, GLuint*)>(SDL_GL_GetProcAddress("glGenFramebuffers"));
    auto bindFramebuffer = reinterpret_cast<void (*)(GLenum, GLuint)>(SDL_GL_GetProcAddress("glBindFramebuffer"));
    auto framebufferTexture2D = reinterpret_cast<void (*)(GLenum, GLenum, GLenum, GLuint, GLint)>(
        SDL_GL_GetProcAddress("glFramebufferTexture2D"));
    auto blitFramebuffer = reinterpret_cast<void (*)(GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLint,
                                                     GLbitfield, GLenum)>(SDL_GL_GetProcAddress("glBlitFramebuffer"));
    // Colour and depth-stencil, as the device's back buffer has.
    GLuint tex = 0, depth = 0, fbo = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1024, 768, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glGenTextures(1, &depth);
    glBindTexture(GL_TEXTURE_2D, depth);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH24_STENCIL8, 1024, 768, 0, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, nullptr);
    genFramebuffers(1, &fbo);
    bindFramebuffer(GL_FRAMEBUFFER, fbo);
    framebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex, 0);
    framebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_TEXTURE_2D, depth, 0);
    SDL_GL_SetSwapInterval(1);  // as the device presents
    bench::Timed(state, [&] {
        SDL_Event e;
        while (SDL_PollEvent(&e)) benchmark::DoNotOptimize(e);
        int x, y;
        benchmark::DoNotOptimize(SDL_GetRelativeMouseState(&x, &y));
        bindFramebuffer(GL_FRAMEBUFFER, fbo);
        // Nothing in the frame tests depth, so only the colour is cleared
        // (the device leaves such a frame's depth clear undone).
        glClearColor(0.1f, 0.2f, 0.3f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        bindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
        bindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        blitFramebuffer(0, 0, 1024, 768, 0, 768, 1024, 0, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        SDL_GL_SwapWindow(sdl);
    });
    glDeleteTextures(1, &tex);
    glDeleteTextures(1, &depth);
    SDL_GL_DeleteContext(ctx);
    SDL_DestroyWindow(sdl);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}
BENCHMARK(BM_WindowFrame_RawSdl)->Unit(benchmark::kMicrosecond);

}  // namespace
