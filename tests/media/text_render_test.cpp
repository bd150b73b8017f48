// Text drawn by the real device (OpenGL, headless) into a render target and
// read back pixel by pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/memory.h"
#include "base/text.h"
#include "media/dialog_layout.h"
#include "media/font_builders.h"
#include "media/game_font.h"
#include "media/image_data.h"
#include "media/tga_codec.h"
#include "render/d3d_render_device.h"

using media_test::FontImageScope;
using media_test::GlyphBit;

namespace {

class TextRender : public ::testing::Test {
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
        dev->Clear(0xFF000000);
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
                std::memcpy(&px[size_t(y) * kW], static_cast<uint8_t*>(target->bits) + size_t(y) * target->pitch,
                            kW * 4);
        dev->UnlockTexture(target);
        for (uint32_t& p : px) p &= 0xFFFFFF;
        return px;
    }
    // With QUILD_SAVE_FRAMES set, the frame is kept there as a TGA file.
    static void Keep(const std::vector<uint32_t>& px, const char* name) {
        const char* folder = std::getenv("QUILD_SAVE_FRAMES");
        if (!folder) return;
        ImageData frame;
        frame.width = kW;
        frame.height = kH;
        frame.bits = kImageArgb;
        frame.pixels = static_cast<uint8_t*>(MemAlloc(px.size() * 4));
        for (size_t i = 0; i < px.size(); ++i) {
            const uint32_t p = px[i] | 0xFF000000u;
            std::memcpy(frame.pixels + i * 4, &p, 4);
        }
        size_t size = 0;
        uint8_t* bytes = EncodeTga(frame, size);
        quild_test::WriteFile(std::string(folder) + "/" + name + ".tga",
                              std::string(reinterpret_cast<char*>(bytes), size));
        MemFree(bytes);
    }
    // Whether the glyph of c drawn at its own size with its cell's top-left
    // at (x, y) shows exactly in the colour over black.
    static void ExpectGlyph(const std::vector<uint32_t>& px, char c, int x, int y, uint32_t rgb) {
        for (int gy = -1; gy < 6; ++gy)
            for (int gx = -1; gx < 4; ++gx) {
                const bool on = gx >= 0 && gx < 3 && gy >= 0 && gy < 5 && GlyphBit(c, gx, gy);
                EXPECT_EQ(px[size_t(y + 1 + gy) * kW + size_t(x + gx)], on ? rgb : 0u)
                    << "'" << c << "' at " << gx << "," << gy;
            }
    }

    D3DRenderDevice* dev = nullptr;
    RenderDevice* saved = nullptr;
    FontImageScope* image = nullptr;
    GameFont* font = nullptr;
    TextureRecord* target = nullptr;
};

TEST_F(TextRender, GlyphsLandPixelForPixelInTheirColours) {
    ASSERT_EQ(font->GetCharWidth('H'), 4);
    // H at 4; a colour code; I at 8; a blank of 2; "!" (one column, starting
    // at its glyph's middle column) at 14.
    font->DrawString("H$FF00FF00I !", 4, 4, 100, 20, 0, 0xFFFFFFFF, 0);
    // The same line right-aligned and bottom-aligned in red.
    font->DrawString("HELLO", 0, 0, kW, kH, kAlignRight | kAlignBottom, 0xFFFF0000, 0);
    const std::vector<uint32_t> px = Finish();
    Keep(px, "text_glyphs");
    ExpectGlyph(px, 'H', 4, 4, 0xFFFFFF);
    ExpectGlyph(px, 'I', 8, 4, 0x00FF00);
    EXPECT_EQ(px[size_t(5) * kW + 14], 0x00FF00u);  // the "!" bar
    EXPECT_EQ(px[size_t(5) * kW + 13], 0u);
    // "HELLO" is 20 wide; the line (8 + borderH 2) ends at the bottom.
    const int x0 = kW - font->GetStringWidth("HELLO"), y0 = kH - 10;
    ExpectGlyph(px, 'H', x0, y0, 0xFF0000);
    ExpectGlyph(px, 'O', x0 + 16, y0, 0xFF0000);
}

TEST_F(TextRender, ScaledTextAndDialogLines) {
    // Twice the size: every glyph pixel becomes a 2 x 2 block.
    font->DrawString("AB", 2, 2, 100, 20, 0, 0xFFFFFFFF, 16);
    DialogLayout layout;
    layout.Draw(font, "ONE TWO <$FFFFFF00>THREE", Rect(0, 30, 40, 30), kAlignCentreX, 0xFF00FFFF, 0, 0, 0);
    ASSERT_EQ(layout.LineCount(), 2);  // "ONE TWO" is 26 wide, with THREE 48
    const std::vector<uint32_t> px = Finish();
    Keep(px, "text_scaled");
    // Twice the size filters linearly: a set texel still outshines its
    // neighbours in its 2 x 2 block (colour and alpha both fall off, so an
    // isolated texel peaks at about (3/4 * 3/4)^2 of full).
    for (int gy = 0; gy < 5; ++gy)
        for (int gx = 0; gx < 3; ++gx) {
            uint32_t peak = 0;
            for (int j = 0; j < 4; ++j)
                peak = std::max(peak, px[size_t(2 + 2 * (1 + gy) + j / 2) * kW + size_t(2 + 2 * gx + j % 2)] & 0xFF);
            if (GlyphBit('A', gx, gy))
                EXPECT_GE(peak, 0x48u) << gx << "," << gy;
            else
                EXPECT_LT(peak, 0x40u) << gx << "," << gy;
        }
    // Line 1 "ONE TWO" centred in 40: starts at 20 - 13; line 2 "THREE" in yellow.
    ExpectGlyph(px, 'O', 7, 30, 0x00FFFF);
    const int three = 20 - int(layout.GetLine(1).width) / 2;
    ExpectGlyph(px, 'T', three, 40, 0xFFFF00);
}

}  // namespace
