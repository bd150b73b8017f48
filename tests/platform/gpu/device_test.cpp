#include <gtest/gtest.h>

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

}  // namespace
}  // namespace gpu_test
