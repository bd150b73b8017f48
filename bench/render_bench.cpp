// Render device hot paths beside raw OpenGL doing the same work.
#include <benchmark/benchmark.h>

#include "timed.h"
#include "gl_program.h"

#include <cstdlib>
#include <functional>
#include <vector>

#include "bench_device.h"
#include "kept.h"
#include "samples_drawn.h"
#include "gl_program.h"
#include "render/d3d_render_device.h"

namespace {

D3DRenderDevice* Device() {
    static D3DRenderDevice* dev = CreateBenchDevice(1024, 768);
    bench::UseDevice(dev);
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
    auto frame = [&] {
        // Unblended, as the raw-GL quads below are.
        dev->SetRenderMode(0x09, 0xFFFFFFFF);
        dev->SetTexture(0, t);
        for (int i = 0; i < 10000; ++i) dev->DrawRect((i * 7) % 1008, (i * 13) % 752, 16, 16, 0, 0, 1, 1);
        dev->FlushBatch();
        glFinish();
    };
    bench::Timed(state, [&] { frame(); });
    bench::RequireDrawn(state, frame);
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_DrawRect10k)->Unit(benchmark::kMillisecond);

// A program drawing pre-transformed pixel positions (x, y) with texture
// coordinates (z, w) through the given fragment stage.
GLuint ScreenProgram(const char* fragment) {
    return LinkGlProgram("#version 330\nlayout(location=0) in vec4 p;\nout vec2 uv;\n"
                         "void main(){ uv = p.zw; gl_Position = vec4(p.x / 512.0 - 1.0, "
                         "p.y / 384.0 - 1.0, 0.0, 1.0); }\n",
                         fragment);
}

// Raw GL draws into the device's back buffer with nothing of its state in
// the way.
void ClearDeviceStateForRawGl() {
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_BLEND);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
}

// The same 10,000 quads from one buffer in one call, straight GL.
void BM_RawGlQuads10k(benchmark::State& state) {
    D3DRenderDevice* dev = Device();
    TextureRecord* t = SmallTexture();
    (void)t;
    static GLuint prog = 0, vao = 0, vbo = 0, tex = 0;
    static unsigned made_in = 0;
    std::vector<float> v;
    for (int i = 0; i < 10000; ++i) {
        float x = float((i * 7) % 1008), y = float((i * 13) % 752);
        float q[6][4] = {{x, y, 0, 0}, {x + 16, y, 1, 0}, {x, y + 16, 0, 1},
                         {x + 16, y, 1, 0}, {x + 16, y + 16, 1, 1}, {x, y + 16, 0, 1}};
        for (auto& c : q) v.insert(v.end(), c, c + 4);
    }
    if (!prog || made_in != bench::KeptGeneration()) {
        made_in = bench::KeptGeneration();
        prog = ScreenProgram("#version 330\nuniform sampler2D t;\nin vec2 uv;\nout vec4 o;\n"
                             "void main(){ o = texture(t, uv); }\n");
        glGenVertexArrays(1, &vao);
        glGenBuffers(1, &vbo);
        glGenTextures(1, &tex);
        std::vector<uint32_t> px(16 * 16, 0xFF80C0FF);
        glBindTexture(GL_TEXTURE_2D, tex);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 16, 16, 0, GL_BGRA, GL_UNSIGNED_BYTE, px.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    }
    ClearDeviceStateForRawGl();
    auto frame = [&] {
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
    };
    bench::Timed(state, [&] { frame(); });
    bench::RequireDrawn(state, frame);
    glUseProgram(0);
    // The device's shadows of the GL state no longer hold.
    dev->GetDevice()->ForgetGlState();
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_RawGlQuads10k)->Unit(benchmark::kMillisecond);

std::vector<uint32_t>& BigPixels() {
    static std::vector<uint32_t> px(1024 * 1024, 0x80FF8040);
    return px;
}

void BM_CreateTexture1024(benchmark::State& state) {
    D3DRenderDevice* dev = Device();
    bench::Timed(state, [&] {
        TextureRecord* t = dev->CreateTexture(1024, 1024, TEXKIND_A8R8G8B8, BigPixels().data(), 1024 * 1024 * 4);
        glFinish();
        dev->ReleaseTexture(t);
    });
}
BENCHMARK(BM_CreateTexture1024)->Unit(benchmark::kMillisecond);

void BM_RawGlTexImage1024(benchmark::State& state) {
    Device();
    bench::Timed(state, [&] {
        GLuint tex = 0;
        glGenTextures(1, &tex);
        glActiveTexture(GL_TEXTURE15);
        glBindTexture(GL_TEXTURE_2D, tex);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1024, 1024, 0, GL_BGRA, GL_UNSIGNED_BYTE, BigPixels().data());
        glFinish();
        glDeleteTextures(1, &tex);
    });
    Device()->GetDevice()->ForgetGlState();
}
BENCHMARK(BM_RawGlTexImage1024)->Unit(benchmark::kMillisecond);

TextureRecord* WhiteTexture() {
    static TextureRecord* t = [] {
        std::vector<uint32_t> px(16 * 16, 0xFFFFFFFF);
        return Device()->CreateTexture(16, 16, TEXKIND_X8R8G8B8, px.data(), 16 * 16 * 4);
    }();
    return t;
}

// The four settings the mode benchmarks cycle through: textured
// pre-transformed lists and strips, alpha-blended, additive and plain.
constexpr uint32_t kCycleModes[4] = {0x19, 0x1019, 0x119, 0x1009};

// 200 rectangles, each with its own render mode, tint and texture, so every
// one is a draw of its own: the caches let the repeats through without GL
// calls, and each draw uploads only its own vertices.
void DeviceModeAndTextureChanges(D3DRenderDevice* dev) {
    for (int i = 0; i < 200; ++i) {
        dev->SetRenderMode(kCycleModes[i & 3], (i & 4) ? 0xFFFFFFFF : 0x80FFFFFF);
        dev->SetTexture(0, (i & 8) ? WhiteTexture() : SmallTexture());
        dev->DrawRect(i, i, 16, 16, 0, 0, 1, 1);
    }
    dev->FlushBatch();
}

// The same 200 rectangles in straight GL: per rectangle the blend state,
// the tint, the texture, a fresh upload of its vertices and one draw. GL is
// left as the device expects it when it goes.
class RawModeAndTextureChanges {
public:
    RawModeAndTextureChanges() : dev_(Device()) {
        static unsigned made_in = 0;
        if (!prog_ || made_in != bench::KeptGeneration()) {
            made_in = bench::KeptGeneration();
            prog_ = ScreenProgram("#version 330\nuniform sampler2D t;\nuniform vec4 tint;\n"
                                  "in vec2 uv;\nout vec4 o;\nvoid main(){ o = texture(t, uv) * tint; }\n");
            tint_ = glGetUniformLocation(prog_, "tint");
            glGenVertexArrays(1, &vao_);
            glGenBuffers(1, &vbo_);
            glGenTextures(2, tex_);
            const uint32_t colours[2] = {0xFF80C0FF, 0xFFFFFFFF};
            for (int k = 0; k < 2; ++k) {
                std::vector<uint32_t> px(16 * 16, colours[k]);
                glBindTexture(GL_TEXTURE_2D, tex_[k]);
                glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 16, 16, 0, GL_BGRA, GL_UNSIGNED_BYTE, px.data());
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
            }
            glGenSamplers(1, &smp_);
            glSamplerParameteri(smp_, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glSamplerParameteri(smp_, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        }
        ClearDeviceStateForRawGl();
        glUseProgram(prog_);
        glBindVertexArray(vao_);
        glBindBuffer(GL_ARRAY_BUFFER, vbo_);
        glEnableVertexAttribArray(0);
        glActiveTexture(GL_TEXTURE0);
        glBindSampler(0, smp_);
    }
    ~RawModeAndTextureChanges() {
        glDisable(GL_BLEND);
        glBindSampler(0, 0);
        glUseProgram(0);
        dev_->GetDevice()->ForgetGlState();
    }
    RawModeAndTextureChanges(const RawModeAndTextureChanges&) = delete;
    RawModeAndTextureChanges& operator=(const RawModeAndTextureChanges&) = delete;

    void Frame() const {
        for (int i = 0; i < 200; ++i) {
            const uint32_t mode = kCycleModes[i & 3];
            const bool translucent = !(i & 4);
            if (mode & 0x100) {
                glEnable(GL_BLEND);
                glBlendFunc(GL_ONE, GL_ONE);
            } else if ((mode & 0x10) || translucent) {
                glEnable(GL_BLEND);
                glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            } else {
                glDisable(GL_BLEND);
            }
            glUniform4f(tint_, 1, 1, 1, translucent ? 128.0f / 255.0f : 1.0f);
            glBindTexture(GL_TEXTURE_2D, tex_[(i & 8) ? 1 : 0]);
            // GL samples pixels at their centres: no half-pixel shift.
            const float l = float(i), t = float(i), r = l + 16, b = t + 16;
            if (mode & 0x1000) {
                const float v[4][4] = {{l, t, 0, 0}, {r, t, 1, 0}, {l, b, 0, 1}, {r, b, 1, 1}};
                glBufferData(GL_ARRAY_BUFFER, sizeof v, v, GL_STREAM_DRAW);
                glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, 16, nullptr);
                glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
            } else {
                const float v[6][4] = {{l, t, 0, 0}, {r, t, 1, 0}, {l, b, 0, 1},
                                       {r, t, 1, 0}, {r, b, 1, 1}, {l, b, 0, 1}};
                glBufferData(GL_ARRAY_BUFFER, sizeof v, v, GL_STREAM_DRAW);
                glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, 16, nullptr);
                glDrawArrays(GL_TRIANGLES, 0, 6);
            }
        }
    }

private:
    static inline GLuint prog_ = 0, vao_ = 0, vbo_ = 0, tex_[2] = {}, smp_ = 0;
    static inline GLint tint_ = -1;
    D3DRenderDevice* dev_;
};

// The check of the 200-draw pair, whichever side ran and whether or not the
// other ran before it: both sides' frames drawn on black here, sampled at a
// few pixels along the rectangles' diagonal. The device and raw GL must give
// the same picture for the comparison to be fair.
bool ModeAndTextureSidesDrawAlike() {
    const std::vector<std::pair<int, int>> at = {{20, 20}, {60, 60}, {107, 107}, {150, 150}, {206, 206}};
    D3DRenderDevice* dev = Device();
    const std::vector<uint8_t> device = SamplesOnBlack([dev] { DeviceModeAndTextureChanges(dev); }, at);
    // Scissor and clear colour were set behind the device's back.
    dev->GetDevice()->ForgetGlState();
    RawModeAndTextureChanges raw;
    return SameSamples(device, SamplesOnBlack([&raw] { raw.Frame(); }, at), 2);
}

void BM_ModeAndTextureChanges200(benchmark::State& state) {
    D3DRenderDevice* dev = Device();
    auto frame = [dev] { DeviceModeAndTextureChanges(dev); };
    uint64_t calls = 0, frames = 0;
    bench::Timed(state, [&] {
        dev->GetDevice()->ResetStats();
        frame();
        glFinish();
        const auto& s = dev->GetDevice()->GetStats();
        calls += s.stateCalls + s.textureBinds + s.programBinds;
        ++frames;
    });
    state.counters["gl_state_calls_per_frame"] = double(calls) / double(frames ? frames : 1);
    bench::RequireDrawn(state, frame);
    if (!ModeAndTextureSidesDrawAlike()) state.SkipWithError("the device and raw GL drew different pictures");
}
BENCHMARK(BM_ModeAndTextureChanges200)->Unit(benchmark::kMicrosecond);

void BM_RawGlModeAndTextureChanges200(benchmark::State& state) {
    {
        RawModeAndTextureChanges side;
        auto frame = [&side] { side.Frame(); };
        bench::Timed(state, [&] {
            frame();
            glFinish();
        });
        bench::RequireDrawn(state, frame);
    }
    if (!ModeAndTextureSidesDrawAlike()) state.SkipWithError("the device and raw GL drew different pictures");
}
BENCHMARK(BM_RawGlModeAndTextureChanges200)->Unit(benchmark::kMicrosecond);

// The same 200 calls all repeating one setting: no GL state call at all.
void BM_RepeatedSettings200(benchmark::State& state) {
    D3DRenderDevice* dev = Device();
    uint64_t calls = 0, frames = 0;
    dev->SetRenderMode(0x19, 0xFFFFFFFF);
    dev->SetTexture(0, SmallTexture());
    dev->DrawRect(0, 0, 16, 16, 0, 0, 1, 1);
    dev->FlushBatch();
    bench::Timed(state, [&] {
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
    });
    state.counters["gl_state_calls_per_frame"] = double(calls) / double(frames ? frames : 1);
}
BENCHMARK(BM_RepeatedSettings200)->Unit(benchmark::kMicrosecond);

}  // namespace
