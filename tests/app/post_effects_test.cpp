// The post-effect chain drawn by the real (headless) device: the scene is
// painted into the engine's render target, the chain puts it on the back
// buffer or into a target, and the pixels are read back.
// The device read-back and PNG helpers of the render tests (first: they
// name the device's own Texture before the engine's is declared).
// clang-format off
#include "app/post_effects.h"
// clang-format on

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "app/engine.h"
#include "media/image/draw2d.h"
#include "render/render_fixture.h"
#include "render/shader_program.h"

namespace {

constexpr int kW = 64, kH = 64;
constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF, kGrey = 0x404040;

// Pre-transformed draws run a pass-through vertex stage; a program still
// needs one of its own to compile.
const char* kVs = R"(
float4x4 matViewProjection;
struct VS_OUTPUT { float4 Position : POSITION0; float2 Texcoord : TEXCOORD0; };
VS_OUTPUT vs_main(float4 Position : POSITION0, float2 Texcoord : TEXCOORD0) {
    VS_OUTPUT Output;
    Output.Position = mul(Position, matViewProjection);
    Output.Texcoord = Texcoord;
    return Output;
}
)";

// Red from the right by c0.xy, green in place, blue from the left by c1.zw.
const char* kCrAbPs = R"(
sampler2D scene : register(s0);
float4 c0;
float4 c1;
float4 ps_main(float2 uv : TEXCOORD0) : COLOR0 {
    return float4(tex2D(scene, uv + c0.xy).r, tex2D(scene, uv).g, tex2D(scene, uv + c1.zw).b, 1.0);
}
)";

// The scene times "blurScale".
const char* kGlowPs = R"(
sampler2D scene : register(s0);
float blurScale;
float4 ps_main(float2 uv : TEXCOORD0) : COLOR0 { return float4(tex2D(scene, uv).rgb * blurScale, 1.0); }
)";

const char* kInvertPs = R"(
sampler2D scene : register(s0);
float4 ps_main(float2 uv : TEXCOORD0) : COLOR0 { return float4(1.0 - tex2D(scene, uv).rgb, 1.0); }
)";

// Shows its constants and the side of the quad's coordinates.
const char* kLensPs = R"(
float4 widthheight;
float offset;
float4 ps_main(float2 uv : TEXCOORD0) : COLOR0 {
    return float4(widthheight.x, offset * 5.0, uv.x < 0.0 ? 1.0 : 0.0, 1.0);
}
)";

int32_t TwoDScene(const GameScene*) { return 1; }

class PostEffectsTest : public render_test::RenderTest {
protected:
    void SetUp() override {
        Open(kW, kH);
        saved_ = g_renderDevice;
        g_renderDevice = dev;
        ResetPostEffects();
        GetPostEffects().sceneViewType = nullptr;
        e.screenRect.Set(0, 0, kW, kH);
        e.virtualRect.Set(0, 0, kW, kH);
        e.shadersOn = true;
        e.currentScene = reinterpret_cast<GameScene*>(&scene_token_);  // only its presence counts
        e.renderTarget = dev->CreateTexture(kW, kH, TEXKIND_RENDER_TARGET, nullptr, 0);
        e.dissolveBuffer = dev->CreateTexture(kW, kH, TEXKIND_RENDER_TARGET, nullptr, 0);
        e.postFxBuffer = dev->CreateTexture(kW, kH, TEXKIND_RENDER_TARGET, nullptr, 0);
        ASSERT_TRUE(e.renderTarget && e.dissolveBuffer && e.postFxBuffer);
        dev->Clear(0xFF000000 | kGrey);
    }
    void TearDown() override {
        e.currentScene = nullptr;
        ResetPostEffects();
        GetPostEffects().sceneViewType = nullptr;
        for (TextureRecord* t : {e.renderTarget, e.dissolveBuffer, e.postFxBuffer}) dev->ReleaseTexture(t);
        g_renderDevice = saved_;
        Close();
    }

    // The scene: vertical stripes 16 pixels wide in the given colours.
    void PaintScene(std::vector<uint32_t> stripes) {
        ASSERT_EQ(dev->BeginRenderTarget(e.renderTarget), 1);
        int w = kW / int(stripes.size());
        for (size_t i = 0; i < stripes.size(); ++i) FillRect(int(i) * w, 0, w, kH, 0xFF000000 | stripes[i]);
        dev->EndRenderTarget();
    }
    void PaintQuadrants() {
        ASSERT_EQ(dev->BeginRenderTarget(e.renderTarget), 1);
        FillRect(0, 0, 32, 32, 0xFF000000 | kRed);
        FillRect(32, 0, 32, 32, 0xFF000000 | kGreen);
        FillRect(0, 32, 32, 32, 0xFF000000 | kBlue);
        FillRect(32, 32, 32, 32, 0xFF000000 | kWhite);
        dev->EndRenderTarget();
    }
    ShaderProgram* Program(const char* name, const char* ps) {
        ShaderProgram* p = dev->CreateShaderProgram(name, kVs, ps);
        EXPECT_NE(p, nullptr) << name;
        return p;
    }
    // One frame: the motion-blur pass, then the chain to the back buffer.
    std::vector<uint32_t> Frame(TextureRecord* target = nullptr) {
        MotionBlurPass(&e);
        EXPECT_TRUE(ComposePostEffects(&e, target));
        return Read(target);
    }

    Engine e;
    RenderDevice* saved_ = nullptr;
    int scene_token_ = 0;
};

uint32_t Channel(uint32_t rgb, int shift) { return (rgb >> shift) & 0xFF; }
void ExpectNear(uint32_t rgb, uint32_t want, int tolerance = 2) {
    for (int s : {16, 8, 0})
        EXPECT_NEAR(int(Channel(rgb, s)), int(Channel(want, s)), tolerance) << std::hex << rgb << " vs " << want;
}

TEST_F(PostEffectsTest, NothingRequestedDrawsNothingAndScaleAloneCopies) {
    PaintQuadrants();
    EXPECT_FALSE(MotionBlurPass(&e));
    EXPECT_FALSE(ComposePostEffects(&e, nullptr));
    auto px = Read();
    EXPECT_EQ(At(px, 5, 5), kGrey);
    EXPECT_EQ(At(px, 60, 60), kGrey);
    // With no scene the pass reports false, but still copies the word.
    EnablePostEffects(&e, kPostScreenScale);
    e.currentScene = nullptr;
    EXPECT_FALSE(MotionBlurPass(&e));
    EXPECT_EQ(e.postFxLast, uint32_t(kPostScreenScale));
    e.currentScene = reinterpret_cast<GameScene*>(&scene_token_);
    // Scale 1, rotation 0: the plain copy, pixel for pixel.
    px = Frame();
    EXPECT_EQ(At(px, 0, 0), kRed);
    EXPECT_EQ(At(px, 31, 31), kRed);
    EXPECT_EQ(At(px, 32, 0), kGreen);
    EXPECT_EQ(At(px, 0, 63), kBlue);
    EXPECT_EQ(At(px, 63, 63), kWhite);
    DisablePostEffects(&e, kPostScreenScale);
    EXPECT_EQ(e.postFxRequested, 0u);
}

TEST_F(PostEffectsTest, ScreenQuadIsScaledAboutTheCentreAndTurned) {
    PaintQuadrants();
    SetScreenScaleRotation(&e, true, 0.5f, 0.5f, 0.0f);
    auto px = Frame();
    SavePng(px, kW, kH, "postfx_half_size");
    // Half size, centred: (16, 16) to (48, 48).
    EXPECT_EQ(At(px, 15, 15), kGrey);
    EXPECT_EQ(At(px, 17, 17), kRed);
    EXPECT_EQ(At(px, 46, 17), kGreen);
    EXPECT_EQ(At(px, 17, 46), kBlue);
    EXPECT_EQ(At(px, 46, 46), kWhite);
    EXPECT_EQ(At(px, 48, 48), kGrey);

    // A quarter turn (clockwise on screen): the top-left quadrant goes to the top right.
    dev->Clear(0xFF000000 | kGrey);
    SetScreenScaleRotation(&e, true, 1.0f, 1.0f, 90.0f);
    px = Frame();
    SavePng(px, kW, kH, "postfx_quarter_turn");
    EXPECT_EQ(At(px, 48, 16), kRed);
    EXPECT_EQ(At(px, 48, 48), kGreen);
    EXPECT_EQ(At(px, 16, 16), kBlue);
    EXPECT_EQ(At(px, 16, 48), kWhite);

    // The turned quad samples the coordinates it is given, like the unturned one.
    dev->Clear(0xFF000000 | kGrey);
    SetScreenScaleRotation(&e, true, 1.0f, 1.0f, 180.0f);
    dev->SetTexture(0, e.renderTarget);
    dev->SetRenderMode(kModeTexturedQuad, 0xFFFFFFFF);
    DrawScreenQuad(&e, 0.0f, 0.0f, 0.5f, 0.5f);
    px = Read();
    EXPECT_EQ(At(px, 4, 4), kRed);
    EXPECT_EQ(At(px, 60, 60), kRed);

    SetScreenScaleRotation(&e, false, 0.5f, 0.5f, 45.0f);
    EXPECT_EQ(e.scaleValue1, 1.0f);
    EXPECT_EQ(e.scaleValue2, 1.0f);
    EXPECT_EQ(GetPostEffects().screenRotation, 0.0f);
    EXPECT_EQ(e.postFxRequested, 0u);
}

TEST_F(PostEffectsTest, MotionBlurCopiesTheFirstFrameThenBlendsNewFrames) {
    EnablePostEffects(&e, kPostMotionBlur);
    PaintScene({kRed});
    auto px = Frame();
    EXPECT_EQ(At(px, 10, 10), kRed);  // first frame: the scene unchanged
    PaintScene({kBlue});
    px = Frame();
    // 0x60 of the new frame over the accumulation.
    ExpectNear(At(px, 10, 10), (0xFF * (0xFF - 0x60) / 0xFF) << 16 | 0x60);
    PaintScene({kBlue});
    px = Frame();
    SavePng(px, kW, kH, "postfx_motion_blur");
    ExpectNear(At(px, 10, 10), 0x9F * (0xFF - 0x60) / 0xFF << 16 | (0x60 + 0x9F * 0x60 / 0xFF));

    // While a dissolve runs nothing accumulates and the scene is drawn as it is.
    e.dissolveState = 1;
    PaintScene({kGreen});
    px = Frame();
    EXPECT_EQ(At(px, 10, 10), kGreen);
    e.dissolveState = 0;
    // Switched off for a frame and on again: a fresh start.
    DisablePostEffects(&e, kPostMotionBlur);
    EnablePostEffects(&e, kPostScreenScale);
    Frame();
    EnablePostEffects(&e, kPostMotionBlur);
    px = Frame();
    EXPECT_EQ(At(px, 10, 10), kGreen);
}

TEST_F(PostEffectsTest, ACaptureIntoTheDissolveBufferDoesNotReadTheAccumulation) {
    ShaderProgram* blur = Program("blur", kGlowPs);
    EnablePostEffects(&e, kPostMotionBlur);
    PaintScene({kRed});
    Frame();
    SetGlowEffect(&e, 0.5f);
    ASSERT_EQ(GetPostEffects().shader, blur);
    PaintScene({kWhite});
    MotionBlurPass(&e);
    // A screenshot captures the chain into the dissolve buffer: the scene
    // through the glow, not the accumulation drawn onto itself.
    ASSERT_TRUE(ComposePostEffects(&e, e.dissolveBuffer));
    auto px = Read(e.dissolveBuffer);
    ExpectNear(At(px, 10, 10), 0x808080);
}

TEST_F(PostEffectsTest, ChromaticAberrationOffsetsTheChannels) {
    Program("CrAb", kCrAbPs);
    PaintScene({0, 0, 0, 0, 0, 0, 0, kWhite, 0, 0, 0, 0, 0, 0, 0, 0});  // a white bar at x 28..31
    SetChromaticAberration(&e, 6250);  // k = 0.0625: 4 pixels
    const PostEffects& fx = GetPostEffects();
    EXPECT_EQ(fx.c0[0], 0.0625f);
    EXPECT_EQ(fx.c0[1], -0.0625f);
    EXPECT_EQ(fx.c1[3], -0.0625f);
    MotionBlurPass(&e);
    ASSERT_TRUE(ComposePostEffects(&e, nullptr));
    auto px = Read();
    SavePng(px, kW, kH, "postfx_aberration");
    EXPECT_EQ(At(px, 25, 32), kRed);    // red read 4 pixels to the right
    EXPECT_EQ(At(px, 29, 32), kGreen);  // green in place
    EXPECT_EQ(At(px, 33, 32), kBlue);   // blue read 4 pixels to the left
    EXPECT_EQ(At(px, 20, 32), 0u);

    // Into a target, and with another bit: through the post-effect buffer,
    // scaled once by the final pass.
    SetScreenScaleRotation(&e, true, 0.5f, 0.5f, 0.0f);
    dev->Clear(0xFF000000 | kGrey);
    px = Frame();
    SavePng(px, kW, kH, "postfx_aberration_half");
    EXPECT_EQ(At(px, 15, 32), kGrey);
    EXPECT_EQ(At(px, 28, 32), kRed);    // the aberration halved with the image
    EXPECT_EQ(At(px, 30, 32), kGreen);
    EXPECT_EQ(At(px, 32, 32), kBlue);
    EXPECT_EQ(At(px, 20, 32), 0u);

    SetChromaticAberration(&e, 0);
    EXPECT_EQ(e.postFxRequested, uint32_t(kPostScreenScale));
    SetChromaticAberration(&e, 250000);
    EXPECT_EQ(fx.c0[0], 2.5f);
    EXPECT_EQ(fx.c0[1], -2.5f);
    EXPECT_EQ(fx.c1[1], 2.5f);
    EXPECT_EQ(fx.c1[2], -2.5f);
}

TEST_F(PostEffectsTest, AberrationWithGlowSamplesTheBufferWhole) {
    Program("CrAb", kCrAbPs);
    Program("blur", kGlowPs);
    // A 2-D scene filling a 32 x 32 corner of the target: red and green in it.
    GetPostEffects().sceneViewType = TwoDScene;
    e.virtualRect.Set(0, 0, 32, 32);
    PaintScene({kRed, kGreen, kBlue, kWhite});
    SetChromaticAberration(&e, 1);
    SetGlowEffect(&e, 1.0f);
    auto px = Frame(e.dissolveBuffer);
    SavePng(px, kW, kH, "postfx_aberration_glow");
    EXPECT_EQ(At(px, 10, 10), kRed);
    EXPECT_EQ(At(px, 54, 10), kGreen);
    EXPECT_EQ(At(px, 54, 60), kGreen);
}

TEST_F(PostEffectsTest, RadialBlurAddsFourZoomsTowardTheCentre) {
    ASSERT_EQ(dev->BeginRenderTarget(e.renderTarget), 1);
    FillRect(0, 0, kW, kH, 0xFF000000);
    FillRect(16, 16, 32, 32, 0xFFFFFFFF);
    dev->EndRenderTarget();
    SetRadialBlurEffect(&e, 0.03125f);  // zooms of 2, 4, 6 and 8 pixels at each edge
    EXPECT_EQ(e.postFxRequested, uint32_t(kPostRadialBlur));
    auto px = Frame();
    SavePng(px, kW, kH, "postfx_radial");
    EXPECT_EQ(GetPostEffects().radialPassCount, 4);
    EXPECT_EQ(At(px, 4, 32), 0u);  // beyond every zoom
    EXPECT_EQ(At(px, 32, 32), kWhite);
    // Outside the square: lit by the zooms that reach it, more nearer to it.
    uint32_t near = Channel(At(px, 14, 32), 0), far = Channel(At(px, 11, 32), 0);
    EXPECT_GT(far, 20u);
    EXPECT_GT(near, far);
    EXPECT_LT(near, 0xFFu);
    SetRadialBlurEffect(&e, 0.0f);
    EXPECT_EQ(e.postFxRequested, 0u);
}

TEST_F(PostEffectsTest, NamedShaderAndLensViewDrawThroughTheProgram) {
    Program("invert", kInvertPs);
    Program("lensview", kLensPs);
    PaintQuadrants();
    EXPECT_FALSE(SetPostEffectShader(&e, "missing"));
    EXPECT_EQ(e.postFxRequested, 0u);
    EXPECT_TRUE(SetPostEffectShader(&e, "invert"));
    auto px = Frame();
    EXPECT_EQ(At(px, 10, 10), 0x00FFFFu);
    EXPECT_EQ(At(px, 50, 50), 0u);
    EXPECT_TRUE(SetPostEffectShader(&e, ""));
    EXPECT_EQ(e.postFxRequested, 0u);

    EXPECT_TRUE(SetLensViewEffect(&e, true));
    px = Frame();
    SavePng(px, kW, kH, "postfx_lens");
    // "widthheight" x = 1, "offset" 0.1, coordinates -1..1 across the quad.
    ExpectNear(At(px, 8, 8), 0xFF80FF);
    ExpectNear(At(px, 56, 8), 0xFF8000);
    EXPECT_TRUE(SetLensViewEffect(&e, false));
    EXPECT_EQ(e.postFxRequested, 0u);
}

TEST_F(PostEffectsTest, WithoutShadersOrProgramsTheImageIsDrawnPlain) {
    PaintQuadrants();
    // Flags that were set while shaders were on, then shaders went off.
    Program("CrAb", kCrAbPs);
    ShaderProgram* blur = Program("blur", kGlowPs);
    SetGlowEffect(&e, 0.25f);
    SetChromaticAberration(&e, 6250);
    ASSERT_EQ(e.postFxRequested, uint32_t(kPostGlow | kPostChromatic));
    e.shadersOn = false;
    auto px = Frame();
    EXPECT_EQ(At(px, 10, 10), kRed);
    EXPECT_EQ(At(px, 50, 50), kWhite);
    // With shaders off the bindings switch shader effects off.
    SetGlowEffect(&e, 0.25f);
    EXPECT_EQ(GetPostEffects().shader, nullptr);
    EXPECT_EQ(e.postFxRequested, uint32_t(kPostChromatic));
    EXPECT_TRUE(SetLensViewEffect(&e, true));
    EXPECT_TRUE(SetPostEffectShader(&e, "blur"));
    EXPECT_EQ(e.postFxRequested, uint32_t(kPostChromatic));
    // Shaders on, but the aberration program is gone: drawn without it.
    e.shadersOn = true;
    dev->DeleteShaderProgram(dev->FindShaderProgram("CrAb"));
    px = Frame();
    EXPECT_EQ(At(px, 10, 10), kRed);
    // Glow without its program ("blur" deleted) does not switch on.
    dev->DeleteShaderProgram(blur);
    SetGlowEffect(&e, 0.25f);
    EXPECT_EQ(e.postFxRequested & kPostGlow, 0u);
}

}  // namespace
