#pragma once
// A real device (OpenGL, headless) drawing into a render target that is
// read back pixel by pixel, with the test font loaded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "media/text/font_builders.h"
#include "media/text/game_font.h"
#include "media/image/image_data.h"
#include "render/d3d_render_device.h"
#include "render/render_fixture.h"

namespace media_test {

class TextRenderFixture : public ::testing::Test {
protected:
    static constexpr int kW = 160, kH = 64;
    void SetUp() override {
        dev = new D3DRenderDevice();
        dev->width = kW;
        dev->height = kH;
        ASSERT_EQ(dev->Create(false), 0) << dev->errorText;
        saved = g_renderDevice;
        g_renderDevice = dev;
        ASSERT_TRUE(dev->BeginScene());
        dev->EnableDepth(false);
        image = new FontImageScope("renderfont");
        font = new GameFont();
        font->SetImage(image->record, nullptr, 16, 16, 0, 2);
        target = dev->CreateTexture(kW, kH, TEXKIND_RENDER_TARGET, nullptr, 0);
        ASSERT_NE(target, nullptr);
        ASSERT_EQ(dev->BeginRenderTarget(target), 1);
        dev->Clear(clear_colour);
    }
    void TearDown() override {
        delete font;
        delete image;  // before the device: the texture goes back to it
        if (target) dev->ReleaseTexture(target);
        g_renderDevice = saved;
        delete dev;
    }
    // The target as 0xRRGGBB, top row first; ends the off-screen pass.
    std::vector<uint32_t> Finish() {
        EXPECT_EQ(dev->EndRenderTarget(), 1);
        dev->LockTexture(target);
        std::vector<uint32_t> px(size_t(kW) * kH);
        if (target->bits)
            for (int y = 0; y < kH; ++y)
                std::memcpy(&px[size_t(y) * kW],
                            static_cast<uint8_t*>(target->bits) + size_t(y) * target->pitch, kW * 4);
        dev->UnlockTexture(target);
        for (uint32_t& p : px) p &= 0xFFFFFF;
        return px;
    }
    // The frame is kept as a PNG under the build folder's frames/.
    static void Keep(const std::vector<uint32_t>& px, const char* name) {
        render_test::SaveFramePng(px, kW, kH, name);
    }
    // Whether the glyph of c drawn at its own size with its cell's top-left
    // at (x, y) shows exactly in the colour over the background.
    static void ExpectGlyph(const std::vector<uint32_t>& px, char c, int x, int y, uint32_t rgb,
                            uint32_t background = 0) {
        for (int gy = -1; gy < 6; ++gy)
            for (int gx = -1; gx < 4; ++gx) {
                const bool on = gx >= 0 && gx < 3 && gy >= 0 && gy < 5 && GlyphBit(c, gx, gy);
                EXPECT_EQ(px[size_t(y + 1 + gy) * kW + size_t(x + gx)], on ? rgb : background)
                    << "'" << c << "' at " << gx << "," << gy;
            }
    }

    uint32_t clear_colour = 0xFF000000;
    D3DRenderDevice* dev = nullptr;
    RenderDevice* saved = nullptr;
    FontImageScope* image = nullptr;
    GameFont* font = nullptr;
    TextureRecord* target = nullptr;
};

}  // namespace media_test
