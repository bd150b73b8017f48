// Render device hot paths beside raw OpenGL doing the same work.
#include <benchmark/benchmark.h>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include <cstdlib>
#include <vector>

#include "render/d3d_render_device.h"

namespace {

D3DRenderDevice* Device() {
    static D3DRenderDevice* dev = [] {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        auto* d = new D3DRenderDevice();
        d->width = 1024;
        d->height = 768;
        if (d->Create(false) != 0) std::abort();
        d->BeginScene();
        d->EnableDepth(false);
        return d;
    }();
    dev->GetDevice()->MakeCurrent();
    return dev;
}

TextureRecord* SmallTexture() {
    static TextureRecord* t = [] {
        std::vector<uint32_t> px(16 * 16, 0xFF80C0FF);
        return Device()->CreateTexture(16, 16, TEXKIND_A8R8G8B8, px.data(), 16 * 16 * 4);
    }();
    return t;
}

void BM_DrawRect10k(benchmark::State& state) {
    D3DRenderDevice* dev = Device();
    TextureRecord* t = SmallTexture();
    for (auto _ : state) {
        dev->SetRenderMode(0x19, 0xFFFFFFFF);
        dev->SetTexture(0, t);
        for (int i = 0; i < 10000; ++i) dev->DrawRect((i * 7) % 1008, (i * 13) % 752, 16, 16, 0, 0, 1, 1);
        dev->FlushBatch();
        glFinish();
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_DrawRect10k)->Unit(benchmark::kMillisecond);

GLuint Compile(GLenum type, const char* src) {
    GLuint s = glCreateShader(type);
    glShaderSource(s, 1, &src, nullptr);
    glCompileShader(s);
    return s;
}

// The same 10,000 quads from one buffer in one call, straight GL.
void BM_RawGlQuads10k(benchmark::State& state) {
    D3DRenderDevice* dev = Device();
    TextureRecord* t = SmallTexture();
    (void)t;
    static GLuint prog = 0, vao = 0, vbo = 0, tex = 0;
    std::vector<float> v;
    for (int i = 0; i < 10000; ++i) {
        float x = float((i * 7) % 1008), y = float((i * 13) % 752);
        float q[6][4] = {{x, y, 0, 0}, {x + 16, y, 1, 0}, {x, y + 16, 0, 1},
                         {x + 16, y, 1, 0}, {x + 16, y + 16, 1, 1}, {x, y + 16, 0, 1}};
        for (auto& c : q) v.insert(v.end(), c, c + 4);
    }
    if (!prog) {
        GLuint vs = Compile(GL_VERTEX_SHADER, "#version 330\nlayout(location=0) in vec4 p;\nout vec2 uv;\n"
                                              "void main(){ uv = p.zw; gl_Position = vec4(p.x / 512.0 - 1.0, "
                                              "p.y / 384.0 - 1.0, 0.0, 1.0); }\n");
        GLuint fs = Compile(GL_FRAGMENT_SHADER, "#version 330\nuniform sampler2D t;\nin vec2 uv;\nout vec4 o;\n"
                                                "void main(){ o = texture(t, uv); }\n");
        prog = glCreateProgram();
        glAttachShader(prog, vs);
        glAttachShader(prog, fs);
        glLinkProgram(prog);
        glGenVertexArrays(1, &vao);
        glGenBuffers(1, &vbo);
        glGenTextures(1, &tex);
        std::vector<uint32_t> px(16 * 16, 0xFF80C0FF);
        glBindTexture(GL_TEXTURE_2D, tex);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 16, 16, 0, GL_BGRA, GL_UNSIGNED_BYTE, px.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    }
    for (auto _ : state) {
        glUseProgram(prog);
        glBindVertexArray(vao);
        glBindBuffer(GL_ARRAY_BUFFER, vbo);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(v.size() * 4), v.data(), GL_STREAM_DRAW);
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, 16, nullptr);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, tex);
        glBindSampler(0, 0);
        glDrawArrays(GL_TRIANGLES, 0, 60000);
        glFinish();
    }
    // Leave GL as the device expects it: its shadows no longer hold.
    dev->GetDevice()->ResetStats();
    glUseProgram(0);
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_RawGlQuads10k)->Unit(benchmark::kMillisecond);

std::vector<uint32_t>& BigPixels() {
    static std::vector<uint32_t> px(1024 * 1024, 0x80FF8040);
    return px;
}

void BM_CreateTexture1024(benchmark::State& state) {
    D3DRenderDevice* dev = Device();
    for (auto _ : state) {
        TextureRecord* t = dev->CreateTexture(1024, 1024, TEXKIND_A8R8G8B8, BigPixels().data(), 1024 * 1024 * 4);
        glFinish();
        dev->ReleaseTexture(t);
    }
}
BENCHMARK(BM_CreateTexture1024)->Unit(benchmark::kMillisecond);

void BM_RawGlTexImage1024(benchmark::State& state) {
    Device();
    for (auto _ : state) {
        GLuint tex = 0;
        glGenTextures(1, &tex);
        glActiveTexture(GL_TEXTURE15);
        glBindTexture(GL_TEXTURE_2D, tex);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1024, 1024, 0, GL_BGRA, GL_UNSIGNED_BYTE, BigPixels().data());
        glFinish();
        glDeleteTextures(1, &tex);
    }
}
BENCHMARK(BM_RawGlTexImage1024)->Unit(benchmark::kMillisecond);

// 200 render-mode and texture changes, cycling through four settings: the
// caches let the repeats through without GL calls.
void BM_ModeAndTextureChanges200(benchmark::State& state) {
    D3DRenderDevice* dev = Device();
    static TextureRecord* other = [] {
        std::vector<uint32_t> px(16 * 16, 0xFFFFFFFF);
        return Device()->CreateTexture(16, 16, TEXKIND_X8R8G8B8, px.data(), 16 * 16 * 4);
    }();
    const uint32_t modes[4] = {0x19, 0x1019, 0x119, 0x1009};
    uint64_t calls = 0, frames = 0;
    for (auto _ : state) {
        dev->GetDevice()->ResetStats();
        for (int i = 0; i < 200; ++i) {
            dev->SetRenderMode(modes[i & 3], (i & 4) ? 0xFFFFFFFF : 0x80FFFFFF);
            dev->SetTexture(0, (i & 8) ? other : SmallTexture());
            dev->DrawRect(i, i, 16, 16, 0, 0, 1, 1);
        }
        dev->FlushBatch();
        glFinish();
        const auto& s = dev->GetDevice()->GetStats();
        calls += s.stateCalls + s.textureBinds + s.programBinds;
        ++frames;
    }
    state.counters["gl_state_calls_per_frame"] = double(calls) / double(frames ? frames : 1);
}
BENCHMARK(BM_ModeAndTextureChanges200)->Unit(benchmark::kMicrosecond);

// The same 200 calls all repeating one setting: no GL state call at all.
void BM_RepeatedSettings200(benchmark::State& state) {
    D3DRenderDevice* dev = Device();
    uint64_t calls = 0, frames = 0;
    dev->SetRenderMode(0x19, 0xFFFFFFFF);
    dev->SetTexture(0, SmallTexture());
    dev->DrawRect(0, 0, 16, 16, 0, 0, 1, 1);
    dev->FlushBatch();
    for (auto _ : state) {
        dev->GetDevice()->ResetStats();
        for (int i = 0; i < 200; ++i) {
            dev->SetRenderMode(0x19, 0xFFFFFFFF);
            dev->SetTexture(0, SmallTexture());
            dev->SetTextureFilter(0, 0, 1);
            dev->EnableDepth(false);
        }
        const auto& s = dev->GetDevice()->GetStats();
        calls += s.stateCalls + s.textureBinds + s.programBinds + s.drawCalls;
        ++frames;
    }
    state.counters["gl_state_calls_per_frame"] = double(calls) / double(frames ? frames : 1);
}
BENCHMARK(BM_RepeatedSettings200)->Unit(benchmark::kMicrosecond);

}  // namespace
