// Text drawn by the real device (OpenGL, headless) into a render target and
// read back pixel by pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "base/text.h"
#include "media/text/dialog_layout.h"
#include "media/text/text_render_fixture.h"

using media_test::GlyphBit;

namespace {

class TextRender : public media_test::TextRenderFixture {};

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
                peak = std::max(
                    peak, px[size_t(2 + 2 * (1 + gy) + j / 2) * kW + size_t(2 + 2 * gx + j % 2)] & 0xFF);
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
