#pragma once
// The bare program the engine's start-up is measured against: SDL with the
// same window, GL context attributes and audio device as the engine, a Lua
// state running the same script, and one frame drawn the way the engine's
// device draws it (a colour texture with a depth-stencil buffer, cleared,
// blitted flipped onto the window, presented, finished). Used in the
// benchmark program and by the stand-alone bare program.
#include <GL/gl.h>
#include <SDL.h>

#include <cstdint>
#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

namespace bare {

struct FramebufferCalls {
    void (*genFramebuffers)(GLsizei, GLuint*);
    void (*deleteFramebuffers)(GLsizei, const GLuint*);
    void (*bindFramebuffer)(GLenum, GLuint);
    void (*framebufferTexture2D)(GLenum, GLenum, GLenum, GLuint, GLint);
    void (*genRenderbuffers)(GLsizei, GLuint*);
    void (*deleteRenderbuffers)(GLsizei, const GLuint*);
    void (*bindRenderbuffer)(GLenum, GLuint);
    void (*renderbufferStorage)(GLenum, GLenum, GLsizei, GLsizei);
    void (*framebufferRenderbuffer)(GLenum, GLenum, GLenum, GLuint);
    void (*blitFramebuffer)(GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLbitfield, GLenum);
    template <typename F>
    static void Get(F& f, const char* name) {
        f = reinterpret_cast<F>(SDL_GL_GetProcAddress(name));
    }
    FramebufferCalls() {
        Get(genFramebuffers, "glGenFramebuffers");
        Get(deleteFramebuffers, "glDeleteFramebuffers");
        Get(bindFramebuffer, "glBindFramebuffer");
        Get(framebufferTexture2D, "glFramebufferTexture2D");
        Get(genRenderbuffers, "glGenRenderbuffers");
        Get(deleteRenderbuffers, "glDeleteRenderbuffers");
        Get(bindRenderbuffer, "glBindRenderbuffer");
        Get(renderbufferStorage, "glRenderbufferStorage");
        Get(framebufferRenderbuffer, "glFramebufferRenderbuffer");
        Get(blitFramebuffer, "glBlitFramebuffer");
    }
};

inline void Silence(void*, Uint8* stream, int len) { std::memset(stream, 0, size_t(len)); }

struct Program {
    SDL_AudioDeviceID audio = 0;
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    lua_State* L = nullptr;
    GLuint texture = 0, depth = 0, fbo = 0, read_fbo = 0;
};

// Everything up to the first presented and finished frame. The script
// defines OnGameUpdate and calls ge_resetdisplay; both engine functions are
// stubs here, as is every other name in stubs.
inline bool Start(Program& p, const char* script, const char* const* stubs, int stub_count) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_AUDIO) != 0) return false;
    SDL_AudioSpec want{}, have{};
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = Silence;
    p.audio = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (p.audio) SDL_PauseAudioDevice(p.audio, 0);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    p.window = SDL_CreateWindow("bench", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 1024, 768,
                                SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
    if (!p.window) return false;
    p.context = SDL_GL_CreateContext(p.window);
    if (!p.context) return false;
    SDL_GL_SetSwapInterval(1);
    p.L = luaL_newstate();
    luaL_openlibs(p.L);
    lua_register(p.L, "ge_resetdisplay", [](lua_State*) { return 0; });
    for (int i = 0; i < stub_count; ++i) lua_register(p.L, stubs[i], [](lua_State*) { return 0; });
    luaL_dostring(p.L, script);
    lua_getglobal(p.L, "OnGameUpdate");
    lua_pushnumber(p.L, 16.6);
    lua_pcall(p.L, 1, 0, 0);

    FramebufferCalls gl;
    glGenTextures(1, &p.texture);
    glBindTexture(GL_TEXTURE_2D, p.texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1024, 768, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    gl.genRenderbuffers(1, &p.depth);
    gl.bindRenderbuffer(GL_RENDERBUFFER, p.depth);
    gl.renderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, 1024, 768);
    gl.genFramebuffers(1, &p.fbo);
    gl.bindFramebuffer(GL_FRAMEBUFFER, p.fbo);
    gl.framebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, p.texture, 0);
    gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, p.depth);
    glClearColor(0, 0, 0, 1);
    glClearDepth(1);
    glClearStencil(0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    // Shown through a framebuffer holding the colour alone, as the device
    // shows its back buffer.
    gl.genFramebuffers(1, &p.read_fbo);
    gl.bindFramebuffer(GL_READ_FRAMEBUFFER, p.read_fbo);
    gl.framebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, p.texture, 0);
    gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    gl.blitFramebuffer(0, 0, 1024, 768, 0, 768, 1024, 0, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    SDL_GL_SwapWindow(p.window);
    glFinish();
    return true;
}

// Releases what Start made; the audio device is closed first, as the
// engine does, and the subsystems are left running.
inline void Stop(Program& p) {
    if (p.audio) SDL_CloseAudioDevice(p.audio);
    if (p.L) lua_close(p.L);
    if (p.context) {
        FramebufferCalls gl;
        gl.deleteFramebuffers(1, &p.fbo);
        gl.deleteFramebuffers(1, &p.read_fbo);
        gl.deleteRenderbuffers(1, &p.depth);
        glDeleteTextures(1, &p.texture);
        SDL_GL_DeleteContext(p.context);
    }
    if (p.window) SDL_DestroyWindow(p.window);
    p = Program();
}

}  // namespace bare
