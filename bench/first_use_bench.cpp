// First-use costs a player meets when something is drawn for the first
// time: a new combination of the states that select the fixed-function
// program (generated, compiled and linked, then the driver's own code for
// the draw), and a new HLSL program (translated, compiled, linked, first
// draw). Each is beside the same draw made again once warm. Every timed
// first use is a combination or program this device has not seen; with
// MESA_SHADER_CACHE_DISABLE=true the driver's disk cache is out of play too
// (a first launch); without it, what a later launch pays.
#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "timed.h"
#include "platform/gpu/device.h"
#include "platform/system.h"
#include "render/d3d_render_device.h"
#include "render/shader_program.h"

namespace {

using namespace plat::gpu;

// A device of the benchmark's own, gone at the end of it.
struct OwnDevice {
    D3DRenderDevice* dev = new D3DRenderDevice();
    TextureRecord* texture = nullptr;
    OwnDevice() {
        dev->width = 1024;
        dev->height = 768;
        if (dev->Create(false) != 0) std::abort();
        dev->BeginScene();
        dev->EnableDepth(false);
        std::vector<uint32_t> px(64 * 64, 0xFF8040C0);
        texture = dev->CreateTexture(64, 64, TEXKIND_A8R8G8B8, px.data(), uint32_t(px.size() * 4));
    }
    ~OwnDevice() {
        dev->EndScene();
        dev->ReleaseTexture(texture);
        delete dev;
    }
};

const char* CacheLabel() {
    const char* off = std::getenv("MESA_SHADER_CACHE_DISABLE");
    return off && (off[0] == 't' || off[0] == '1') ? "driver shader cache off" : "driver shader cache on";
}

// Stage 0 operations: colour x alpha gives 36 distinct programs.
constexpr uint32_t kColourOps[] = {top::SelectArg1, top::SelectArg2, top::Modulate, top::Modulate2x, top::Modulate4x,
                                   top::Add,        top::AddSigned,  top::AddSigned2x, top::Subtract};
constexpr uint32_t kAlphaOps[] = {top::SelectArg1, top::SelectArg2, top::Modulate, top::Add};
constexpr int kCombinations = int(std::size(kColourOps) * std::size(kAlphaOps));

// One textured quad through the device with the given stage-0 operations,
// waited for.
void DrawWithOps(OwnDevice& d, uint32_t colour_op, uint32_t alpha_op) {
    struct V {
        float x, y, z, rhw;
        uint32_t colour;
        float u, v;
    } q[4] = {{100, 100, 0.5f, 1, 0xFFFFFFFF, 0, 0},
              {356, 100, 0.5f, 1, 0xFFFFFFFF, 1, 0},
              {100, 356, 0.5f, 1, 0xFFFFFFFF, 0, 1},
              {356, 356, 0.5f, 1, 0xFFFFFFFF, 1, 1}};
    Device* g = d.dev->GetDevice();
    g->SetTexture(0, static_cast<Texture*>(d.texture->texture));
    g->SetTextureStageState(0, tss::ColorOp, colour_op);
    g->SetTextureStageState(0, tss::ColorArg1, ta::Texture);
    g->SetTextureStageState(0, tss::ColorArg2, ta::Diffuse);
    g->SetTextureStageState(0, tss::AlphaOp, alpha_op);
    g->SetTextureStageState(0, tss::AlphaArg1, ta::Texture);
    g->SetTextureStageState(0, tss::AlphaArg2, ta::Diffuse);
    g->SetFVF(fvf::XYZRHW | fvf::Diffuse | fvf::Tex1);
    g->DrawPrimitiveUP(PrimitiveType::TriangleStrip, 2, q, sizeof q[0]);
    glFinish();
}

void BM_FirstUseOfStateCombination(benchmark::State& state) {
    OwnDevice d;
    int next = 0;
    for (auto _ : state) {
        int i = next++ % kCombinations;
        DrawWithOps(d, kColourOps[i / std::size(kAlphaOps)], kAlphaOps[i % std::size(kAlphaOps)]);
    }
    state.SetLabel(CacheLabel());
}
BENCHMARK(BM_FirstUseOfStateCombination)->Unit(benchmark::kMillisecond)->Iterations(kCombinations)->UseRealTime();

void BM_WarmStateCombinationBaseline(benchmark::State& state) {
    OwnDevice d;
    bench::Timed(state, [&] { DrawWithOps(d, top::Modulate, top::Modulate); });
}
BENCHMARK(BM_WarmStateCombinationBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();

// An HLSL program whose text is new to this process and to the driver's
// cache: the tint differs in every one.
std::string PixelSource(int n) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "float4 ps_main(float2 tex : TEXCOORD0) : COLOR0 { return float4(0.%06d, 0.%05d, 0.5, 1.0); }\n",
                  n % 1000000, int(getpid() % 100000));
    return text;
}

const char* kVertexSource = R"(
struct VS_OUT { float4 pos : POSITION0; float2 uv : TEXCOORD0; };
VS_OUT vs_main(float4 pos : POSITION0, float2 uv : TEXCOORD0) {
    VS_OUT o;
    o.pos = pos;
    o.uv = uv;
    return o;
}
)";

void DrawWithProgram(OwnDevice& d, ShaderProgram* p) {
    d.dev->BindShaderProgram(p);
    d.dev->SetRenderMode(0x1009, 0xFFFFFFFF);
    d.dev->DrawRect(100, 100, 256, 256, 0, 0, 1, 1);
    d.dev->FlushBatch();
    d.dev->BindShaderProgram(nullptr);
    glFinish();
}

void BM_FirstUseOfHlslProgram(benchmark::State& state) {
    OwnDevice d;
    static int serial = int(plat::PerfCounter() % 900000);
    double compile = 0;
    for (auto _ : state) {
        std::string ps = PixelSource(++serial);
        int64_t t0 = plat::PerfCounter();
        ShaderProgram* p = d.dev->CreateShaderProgram("bench", kVertexSource, ps.c_str());
        compile += static_cast<double>(plat::PerfCounter() - t0) / 1e6;
        if (!p) {
            state.SkipWithError("the program did not compile");
            return;
        }
        DrawWithProgram(d, p);
    }
    state.counters["translate_and_compile_ms"] = benchmark::Counter(compile, benchmark::Counter::kAvgIterations);
    state.SetLabel(CacheLabel());
}
BENCHMARK(BM_FirstUseOfHlslProgram)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

void BM_WarmHlslProgramBaseline(benchmark::State& state) {
    OwnDevice d;
    ShaderProgram* p = d.dev->CreateShaderProgram("bench", kVertexSource, PixelSource(0).c_str());
    if (!p) {
        state.SkipWithError("the program did not compile");
        return;
    }
    bench::Timed(state, [&] { DrawWithProgram(d, p); });
}
BENCHMARK(BM_WarmHlslProgramBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
