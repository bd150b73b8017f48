#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/log.h"
#include "platform/gpu/direct3d.h"
#include "render/d3d_shader_program.h"
#include "render/render_fixture.h"

namespace render_test {
namespace {

using namespace plat::gpu;

const char* kVs = R"(
float4x4 matViewProjection;
struct VS_INPUT { float4 Position : POSITION0; float2 Texcoord : TEXCOORD0; };
struct VS_OUTPUT { float4 Position : POSITION0; float2 Texcoord : TEXCOORD0; };
VS_OUTPUT vs_main(VS_INPUT Input) {
    VS_OUTPUT Output;
    Output.Position = mul(Input.Position, matViewProjection);
    Output.Texcoord = Input.Texcoord;
    return Output;
}
)";

const char* kPs = R"(
float4 tint < string UIName = "tint"; > = float4(0.0, 0.0, 1.0, 1.0);
float4 ps_main(float2 tex : TEXCOORD0) : COLOR0 { return tint; }
)";

std::vector<std::string> g_lines;
void Capture(const char* line, unsigned) { g_lines.push_back(line); }

struct Pos {
    float x, y, z;
};

// A clip-space quad (identity transforms), clockwise on screen.
void DrawQuad(D3DRenderDevice* dev, float half, uint32_t mode, uint32_t color, bool normals) {
    struct V {
        float x, y, z, nx, ny, nz;
    } n[4] = {{-half, half, 0.5f, 0, 0, -1}, {half, half, 0.5f, 0, 0, -1}, {-half, -half, 0.5f, 0, 0, -1},
              {half, -half, 0.5f, 0, 0, -1}};
    struct T {
        float x, y, z, u, v;
    } t[4] = {{-half, half, 0.5f, 0, 0}, {half, half, 0.5f, 1, 0}, {-half, -half, 0.5f, 0, 1}, {half, -half, 0.5f, 1, 1}};
    dev->SetRenderMode(mode, color);
    if (normals)
        dev->SetVertexArray(n, sizeof n[0]);
    else
        dev->SetVertexArray(t, sizeof t[0]);
    dev->DrawImmediate(4);
}

TEST_F(RenderTest, ShaderConstantsByNameReachThePixels) {
    dev->GetDevice()->ResetStats();
    ShaderProgram* p = dev->CreateShaderProgram("flat", kVs, kPs);
    ASSERT_NE(p, nullptr);
    // Linked at its creation: its draws below link nothing more.
    EXPECT_EQ(dev->GetDevice()->GetStats().programLinks, 1u);
    dev->Clear(0xFF000000);
    dev->BindShaderProgram(p);
    plat::Matrix m;  // identity plus a move right by half the screen
    m.m[3][0] = 0.5f;
    p->SetVertexConstantByName("matViewProjection", &m.m[0][0], SHADER_MATRIX);
    const float green[4] = {0, 1, 0, 1};
    p->SetPixelConstantByName("tint", green, SHADER_VECTOR);
    p->SetPixelConstantByName("missing", green, SHADER_VECTOR);  // nothing happens
    DrawQuad(dev, 0.25f, 0x1001, 0xFFFFFFFF, false);
    // Bound again: the source's default colour comes back.
    dev->BindShaderProgram(nullptr);
    dev->BindShaderProgram(p);
    m.m[3][0] = -0.5f;
    p->SetVertexConstantByName("matViewProjection", &m.m[0][0], SHADER_MATRIX);
    DrawQuad(dev, 0.25f, 0x1001, 0xFFFFFFFF, false);
    dev->BindShaderProgram(nullptr);
    EXPECT_EQ(dev->GetDevice()->GetStats().programLinks, 1u);
    auto px = Read();
    SavePng(px, dev->width, dev->height, "shader_constants");
    EXPECT_EQ(At(px, 48, 32), 0x00FF00u);  // moved right, by the row-3 translation
    EXPECT_EQ(At(px, 16, 32), 0x0000FFu);  // moved left, default tint
    EXPECT_EQ(At(px, 32, 32), 0u);
    EXPECT_EQ(At(px, 48, 10), 0u);
}

TEST_F(RenderTest, PixelStageRunsOnPretransformedDraws) {
    ShaderProgram* p = dev->CreateShaderProgram("flat", kVs, kPs);
    ASSERT_NE(p, nullptr);
    dev->Clear(0xFF000000);
    dev->BindShaderProgram(p);
    dev->SetRenderMode(0x1009, 0xFFFFFFFF);
    dev->DrawRect(4, 4, 8, 8, 0, 0, 1, 1);
    dev->BindShaderProgram(nullptr);
    auto px = Read();
    EXPECT_EQ(At(px, 4, 4), 0x0000FFu);
    EXPECT_EQ(At(px, 11, 11), 0x0000FFu);
    EXPECT_EQ(At(px, 12, 12), 0u);
}

// Looks a table up in the direction the vertex stage passes on. Drawn from
// pre-transformed vertices that direction is zero, its normalised form NaN:
// the texture look-ups at NaN coordinates (units 1 and 2 empty, unit 2
// point-sampled and wrapped: the driver's look-up read far outside the
// texture there) must neither crash the draw nor spoil the picture.
const char* kDirectionVs = R"(
float4x4 matViewProjection;
struct VS_OUT { float4 Position : POSITION0; float2 Uv : TEXCOORD0; float3 Dir : TEXCOORD1; };
VS_OUT vs_main(float4 p : POSITION0, float2 uv : TEXCOORD0) {
    VS_OUT o;
    o.Position = mul(p, matViewProjection); o.Uv = uv; o.Dir = p.xyz;
    return o;
}
)";

const char* kDirectionPs = R"(
sampler2D Face : register(s0);
sampler2D Map : register(s1);
sampler2D Table : register(s2);
float Look(float2 v) {
    float4 t = tex2D(Table, v / max(abs(v.x), abs(v.y)) * 0.498 + 0.5);
    return t.r + t.g / 256.0;
}
float4 ps_main(float2 tex : TEXCOORD0, float3 dir : TEXCOORD1) : COLOR0 {
    float3 n = normalize(dir);
    float2 at = float2(Look(n.xz), frac(Look(float2(-n.y, length(n.xz))) + 0.5) - 0.5);
    float4 cell = tex2D(Map, at);
    float3 face = tex2D(Face, tex).rgb;
    return float4(any(cell.rgb) ? cell.rgb : face + float3(0.0, 0.0, 1.0), 1.0);
}
)";

TEST_F(RenderTest, TextureLookUpsAtNaNCoordinatesDrawSafely) {
    Close();
    Open(400, 300);
    ShaderProgram* p = dev->CreateShaderProgram("direction", kDirectionVs, kDirectionPs);
    ASSERT_NE(p, nullptr);
    TextureRecord* face = SolidTexture(dev, 32, 32, 0xFFFF0000);
    // A present through a gamma ramp leaves nothing on the stages it used:
    // the table, emptied before it, still reads black after it.
    dev->SetTexture(1, face);
    dev->BindShaderProgram(p);
    dev->SetRenderMode(0x1019, 0);
    dev->DrawRect(0, 0, 8, 8, 0, 0, 1, 1);
    dev->BindShaderProgram(nullptr);
    dev->SetTexture(1, nullptr);
    uint16_t bright[256];
    std::fill(std::begin(bright), std::end(bright), uint16_t(0xFFFF));
    dev->SetGammaRamp(bright);
    dev->Present();
    dev->SetTexture(0, face);
    dev->SetTextureFilter(0, 0, 1);
    dev->SetTextureFilter(0, 1, 1);
    auto* d3d = dev->GetDevice();
    d3d->SetSamplerState(1, ss::MinFilter, tf::Linear);
    d3d->SetSamplerState(1, ss::MagFilter, tf::Linear);
    d3d->SetSamplerState(2, ss::MinFilter, tf::Point);
    d3d->SetSamplerState(2, ss::MagFilter, tf::Point);
    dev->Clear(0xFF000000);
    dev->BindShaderProgram(p);
    dev->SetRenderMode(0x1019, 0);
    dev->DrawRect(0, 0, int32_t(dev->width), int32_t(dev->height) / 2, 0, 0, 1, 1);
    dev->BindShaderProgram(nullptr);
    dev->ReleaseTexture(face);
    auto px = Read();
    EXPECT_EQ(At(px, 2, 2), 0xFF00FFu);  // the face, unmarked: the empty table reads black
    EXPECT_EQ(At(px, 2, dev->height - 2), 0u);
}

TEST_F(RenderTest, SyntaxErrorLogsOneLineAndFails) {
    g_lines.clear();
    SetLogSink(Capture);
    ShaderProgram* p = dev->CreateShaderProgram("broken", "float4 vs_main( : POSITION { return 0; }", kPs);
    SetLogSink(nullptr);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(dev->FindShaderProgram("broken"), nullptr);
    int vsLines = 0;
    for (const auto& l : g_lines)
        if (l.rfind("VS - broken:\r\n", 0) == 0) ++vsLines;
    EXPECT_EQ(vsLines, 1);
    EXPECT_EQ(g_lines.size(), 1u);
}

TEST_F(RenderTest, NewestProgramOfANameIsFound) {
    ShaderProgram* a = dev->CreateShaderProgram("same", kVs, kPs);
    ShaderProgram* b = dev->CreateShaderProgram("same", kVs, kPs);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(dev->FindShaderProgram("same"), b);
    EXPECT_EQ(dev->FindShaderProgram("Same"), nullptr);
    dev->DeleteShaderProgram(b);
    EXPECT_EQ(dev->FindShaderProgram("same"), a);
    dev->BindShaderProgram(nullptr);
}

TEST_F(RenderTest, PixelShader14DrivesFixedFunctionLighting) {
    Close();
    TestOverride o;
    o.pixelShaderVersion = PixelShaderVersion(1, 4);
    SetTestOverride(o);
    Open(64, 64);
    EXPECT_EQ(dev->pixelShaderVersion, 0x104u);
    ShaderProgram* p = dev->CreateShaderProgram("lit", "this is not even HLSL", "nor this");
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(static_cast<D3DShaderProgram*>(p)->UsesFixedFunction());
    const float light[4] = {0, 0, -10, 1};
    const float ambient[4] = {0.1f, 0.1f, 0.1f, 1};
    const float diffuse[4] = {0.5f, 0, 0, 1};
    const float specular[4] = {0, 1, 0, 1};
    uint32_t specOn = 99;
    auto frame = [&](float power) {
        const float pw[4] = {power, 0, 0, 0};
        p->SetVertexConstant(VC_LIGHT_POSITION, light);
        p->SetPixelConstant(PC_AMBIENT, ambient);
        p->SetPixelConstant(PC_DIFFUSE, diffuse);
        p->SetPixelConstant(PC_SPECULAR, specular);
        p->SetPixelConstant(PC_SPECULAR_POWER, pw);
        dev->GetDevice()->GetRenderState(rs::SpecularEnable, &specOn);
        dev->Clear(0xFF000000);
        dev->BindShaderProgram(p);
        DrawQuad(dev, 0.5f, 0x1004, 0xFFFFFFFF, true);
        dev->BindShaderProgram(nullptr);
        return Read();
    };
    auto off = frame(0.0f);
    EXPECT_EQ(specOn, 0u);
    auto on = frame(8.0f);
    EXPECT_EQ(specOn, 1u);
    SavePng(on, dev->width, dev->height, "fixed_function_highlight");
    const uint32_t a = At(off, 32, 32), b = At(on, 32, 32);
    EXPECT_NEAR(int(a >> 16 & 255), 153, 3);  // 0.1 ambient + 0.5 diffuse
    EXPECT_NEAR(int(a >> 8 & 255), 26, 3);
    // Lighting is per vertex: the corners' highlight (about a third) shows in green.
    EXPECT_GT(int(b >> 8 & 255), int(a >> 8 & 255) + 50);
    EXPECT_NEAR(int(b >> 16 & 255), 153, 3);
    EXPECT_EQ(At(off, 2, 2), 0u);            // outside the quad
}

TEST_F(RenderTest, BindNullWithNoProgramsDoesNothing) {
    dev->BindShaderProgram(nullptr);
    EXPECT_EQ(dev->GetDevice()->GetPixelShader(), nullptr);
}

}  // namespace
}  // namespace render_test
