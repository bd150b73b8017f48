#include <gtest/gtest.h>

#include <cstring>

#include "platform/gpu/gl_api.h"
#include "platform/gpu/gpu_fixture.h"

namespace gpu_test {
namespace {

TEST_F(GpuTest, ClearFillsTheViewportOnly) {
    EXPECT_EQ(dev->Clear(0, nullptr, kClearTarget | kClearZBuffer, 0xFF102030, 1.0f, 0), kOk);
    Viewport vp{8, 4, 16, 8, 0, 1};
    dev->SetViewport(&vp);
    dev->Clear(0, nullptr, kClearTarget, 0xFFFF0000, 1.0f, 0);
    auto px = Read();
    EXPECT_EQ(At(px, 0, 0), 0x102030u);
    EXPECT_EQ(At(px, 8, 4), 0xFF0000u);
    EXPECT_EQ(At(px, 23, 11), 0xFF0000u);
    EXPECT_EQ(At(px, 24, 11), 0x102030u);
    EXPECT_EQ(At(px, 23, 12), 0x102030u);
}

TEST_F(GpuTest, PretransformedQuadCoversWholePixels) {
    dev->Clear(0, nullptr, kClearTarget, 0xFF000000, 1.0f, 0);
    dev->SetRenderState(rs::Lighting, 0);
    dev->SetRenderState(rs::ZEnable, 0);
    dev->SetFVF(fvf::XYZRHW | fvf::Diffuse);
    struct V {
        float x, y, z, w;
        uint32_t c;
    } quad[4] = {{9.5f, 4.5f, 0, 1, 0xFF00FF00},
                 {19.5f, 4.5f, 0, 1, 0xFF00FF00},
                 {9.5f, 14.5f, 0, 1, 0xFF00FF00},
                 {19.5f, 14.5f, 0, 1, 0xFF00FF00}};
    // Texture stage 0 defaults to modulate with the texture: none bound.
    dev->SetTextureStageState(0, tss::ColorOp, top::SelectArg1);
    dev->SetTextureStageState(0, tss::ColorArg1, ta::Diffuse);
    ASSERT_EQ(dev->DrawPrimitiveUP(PrimitiveType::TriangleStrip, 2, quad, sizeof(V)), kOk);
    auto px = Read();
    EXPECT_EQ(At(px, 9, 4), 0x000000u);
    EXPECT_EQ(At(px, 10, 5), 0x00FF00u);
    EXPECT_EQ(At(px, 19, 14), 0x00FF00u);
    EXPECT_EQ(At(px, 20, 14), 0x000000u);
    EXPECT_EQ(At(px, 19, 15), 0x000000u);
    EXPECT_EQ(dev->LastError(), "");
}

struct PosVertex {
    float x, y, z, w;
};
struct ColourVertex {
    float x, y, z, w;
    uint32_t c;
};
struct UvVertex {
    float x, y, z, w, u, v;
};

// A pre-transformed quad covering pixels x .. x + 3, y .. y + 3.
template <typename V>
void Quad(V out[4], float x, float y) {
    const float xs[4] = {x - 0.5f, x + 3.5f, x - 0.5f, x + 3.5f};
    const float ys[4] = {y - 0.5f, y - 0.5f, y + 3.5f, y + 3.5f};
    for (int i = 0; i < 4; ++i) {
        out[i].x = xs[i], out[i].y = ys[i];
        out[i].z = 0, out[i].w = 1;
    }
}

class DrawTest : public GpuTest {
protected:
    void SetUp() override {
        GpuTest::SetUp();
        dev->Clear(0, nullptr, kClearTarget, 0xFF000000, 1.0f, 0);
        dev->SetRenderState(rs::Lighting, 0);
        dev->SetRenderState(rs::ZEnable, 0);
        dev->SetRenderState(rs::CullMode, cull::None);
        // Two texels: black on the left, red on the right.
        ASSERT_EQ(dev->CreateTexture(2, 1, 1, 0, fmt::X8R8G8B8, Pool::Managed, &texture), kOk);
        LockedRect lr;
        texture->LockRect(0, &lr, nullptr, 0);
        const uint32_t texels[2] = {0xFF000000, 0xFFFF0000};
        std::memcpy(lr.bits, texels, sizeof texels);
        texture->UnlockRect(0);
    }
    void TearDown() override {
        dev->SetTexture(0, nullptr);
        if (texture) texture->Release();
        GpuTest::TearDown();
    }
    // Stage 0 shows one argument as it is.
    void Layout(uint32_t format, uint32_t shown) {
        dev->SetFVF(format);
        dev->SetTextureStageState(0, tss::ColorOp, top::SelectArg1);
        dev->SetTextureStageState(0, tss::ColorArg1, shown);
    }
    template <typename V>
    void DrawQuad(const V (&v)[4]) {
        ASSERT_EQ(dev->DrawPrimitiveUP(PrimitiveType::TriangleStrip, 2, v, sizeof v[0]), kOk);
    }
    void DrawColoured(float x, float y, uint32_t argb, float z = 0) {
        ColourVertex v[4];
        Quad(v, x, y);
        for (auto& c : v) c.z = z, c.c = argb;
        Layout(fvf::XYZRHW | fvf::Diffuse, ta::Diffuse);
        DrawQuad(v);
    }
    void DrawRightTexel(float x, float y) {
        UvVertex v[4];
        Quad(v, x, y);
        for (auto& c : v) c.u = 0.75f, c.v = 0.5f;
        Layout(fvf::XYZRHW | fvf::Tex1, ta::Texture);
        dev->SetTexture(0, texture);
        DrawQuad(v);
        dev->SetTexture(0, nullptr);
    }
    void DrawBareDiffuse(float x, float y) {
        PosVertex v[4];
        Quad(v, x, y);
        Layout(fvf::XYZRHW, ta::Diffuse);
        DrawQuad(v);
    }
    Texture* texture = nullptr;
};

// A layout's arrays are switched on at its first draw and off when a
// layout without them follows (the missing colour then reads white).
TEST_F(DrawTest, EachLayoutReadsItsOwnArraysFromItsFirstDraw) {
    DrawColoured(0, 0, 0xFF00FF00);
    DrawRightTexel(8, 0);
    DrawColoured(16, 0, 0xFF0000FF);
    DrawBareDiffuse(24, 0);
    DrawRightTexel(32, 0);
    // A second argument that selecting the first does not read (left by an
    // earlier draw) makes no program of its own.
    dev->ResetStats();
    dev->SetTextureStageState(0, tss::ColorArg2, ta::TFactor);
    DrawRightTexel(40, 0);
    EXPECT_EQ(dev->GetStats().programBinds, 0u);
    auto px = Read();
    EXPECT_EQ(At(px, 1, 1), 0x00FF00u);
    EXPECT_EQ(At(px, 9, 1), 0xFF0000u);
    EXPECT_EQ(At(px, 17, 1), 0x0000FFu);
    EXPECT_EQ(At(px, 25, 1), 0xFFFFFFu);
    EXPECT_EQ(At(px, 33, 1), 0xFF0000u);
    EXPECT_EQ(At(px, 41, 1), 0xFF0000u);
    EXPECT_EQ(dev->LastError(), "");
}

// GL calls of a caller's own change what the device's shadows hold; after
// ForgetGlState its next draw sets everything again.
TEST_F(DrawTest, ForeignGlCallsAreForgottenOnRequest) {
    DrawRightTexel(0, 0);
    glUseProgram(0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindSampler(0, 0);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ZERO, GL_ZERO);
    glColorMask(GL_FALSE, GL_TRUE, GL_TRUE, GL_TRUE);
    for (GLuint a = 0; a < 8; ++a) glDisableVertexAttribArray(a);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    dev->ForgetGlState();
    DrawRightTexel(8, 0);
    auto px = Read();
    EXPECT_EQ(At(px, 1, 1), 0xFF0000u);
    EXPECT_EQ(At(px, 9, 1), 0xFF0000u);
    EXPECT_EQ(dev->LastError(), "");
}

// A depth clear waits for a draw that tests depth, yet every such draw sees
// the clears in the order they were made: a partial clear after a whole
// one, and clears made on either side of a change of target that shares
// the depth surface.
TEST_F(DrawTest, DepthTestedDrawsSeeEveryClearInOrder) {
    auto draw = [&](float x, float y, float z, uint32_t argb) { DrawColoured(x, y, argb, z); };
    dev->SetRenderState(rs::ZFunc, cmp::Less);
    dev->Clear(0, nullptr, kClearZBuffer, 0, 0.5f, 0);
    draw(0, 0, 0.9f, 0xFF0000FF);  // depth test off: drawn
    dev->SetRenderState(rs::ZEnable, 1);
    draw(8, 0, 0.6f, 0xFF00FF00);
    draw(16, 0, 0.4f, 0xFF00FF00);

    dev->Clear(0, nullptr, kClearZBuffer, 0, 0.5f, 0);
    Rect left{0, 8, 12, 16};
    dev->Clear(1, &left, kClearZBuffer, 0, 0.2f, 0);
    draw(0, 8, 0.3f, 0xFFFF0000);
    draw(16, 8, 0.3f, 0xFFFF0000);

    Texture* rt = nullptr;
    ASSERT_EQ(dev->CreateTexture(8, 8, 1, kUsageRenderTarget, fmt::X8R8G8B8, Pool::Default, &rt), kOk);
    Surface *back = nullptr, *small = nullptr;
    dev->GetRenderTarget(0, &back);
    rt->GetSurfaceLevel(0, &small);
    dev->Clear(0, nullptr, kClearZBuffer, 0, 0.25f, 0);
    ASSERT_EQ(dev->SetRenderTarget(0, small), kOk);
    dev->Clear(0, nullptr, kClearZBuffer, 0, 0.9f, 0);  // the depth surface's top-left 8 x 8
    ASSERT_EQ(dev->SetRenderTarget(0, back), kOk);
    small->Release();
    back->Release();
    rt->Release();
    draw(4, 4, 0.8f, 0xFFFFFFFF);
    draw(0, 24, 0.3f, 0xFFFFFFFF);

    auto px = Read();
    EXPECT_EQ(At(px, 1, 1), 0x0000FFu);
    EXPECT_EQ(At(px, 9, 1), 0x000000u);
    EXPECT_EQ(At(px, 17, 1), 0x00FF00u);
    EXPECT_EQ(At(px, 1, 9), 0x000000u);
    EXPECT_EQ(At(px, 17, 9), 0xFF0000u);
    EXPECT_EQ(At(px, 5, 5), 0xFFFFFFu);
    EXPECT_EQ(At(px, 1, 25), 0x000000u);
    EXPECT_EQ(dev->LastError(), "");
}

// A discarding lock replaces the GL store with just the bytes written;
// draws beyond them are refused until a plain lock restores the whole.
TEST_F(DrawTest, DiscardedVertexBufferHoldsOnlyWhatWasWritten) {
    VertexBuffer* vb = nullptr;
    ASSERT_EQ(dev->CreateVertexBuffer(4096, kUsageDynamic | kUsageWriteOnly, 0, Pool::Default, &vb), kOk);
    Layout(fvf::XYZRHW | fvf::Diffuse, ta::Diffuse);
    ColourVertex quads[2][4];
    Quad(quads[0], 0, 0);
    Quad(quads[1], 8, 0);
    for (auto& q : quads)
        for (auto& v : q) v.c = 0xFF00FF00;
    void* p = nullptr;
    dev->ResetStats();
    ASSERT_EQ(vb->Lock(0, sizeof quads[0], &p, kLockDiscard), kOk);
    std::memcpy(p, quads[0], sizeof quads[0]);
    ASSERT_EQ(vb->Unlock(), kOk);
    EXPECT_EQ(dev->GetStats().uploadBytes, sizeof quads[0]);
    dev->SetStreamSource(0, vb, 0, sizeof(ColourVertex));
    EXPECT_EQ(dev->DrawPrimitive(PrimitiveType::TriangleStrip, 0, 2), kOk);
    EXPECT_EQ(dev->DrawPrimitive(PrimitiveType::TriangleStrip, 4, 2), kInvalidCall);
    ASSERT_EQ(vb->Lock(sizeof quads[0], sizeof quads[1], &p, 0), kOk);
    std::memcpy(p, quads[1], sizeof quads[1]);
    ASSERT_EQ(vb->Unlock(), kOk);
    EXPECT_EQ(dev->DrawPrimitive(PrimitiveType::TriangleStrip, 4, 2), kOk);
    dev->SetStreamSource(0, nullptr, 0, 0);
    vb->Release();
    auto px = Read();
    EXPECT_EQ(At(px, 1, 1), 0x00FF00u);
    EXPECT_EQ(At(px, 9, 1), 0x00FF00u);
}

}  // namespace
}  // namespace gpu_test
