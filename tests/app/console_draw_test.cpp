// The console drawn by the real device with the test font: its panel, the
// edit line with its caret and frame, and the history from the newest line up.
#include <gtest/gtest.h>

#include "app/console.h"
#include "base/text.h"
#include "media/text/text_render_fixture.h"

using media_test::GlyphBit;

namespace {

class ConsoleDraw : public media_test::TextRenderFixture {
protected:
    void SetUp() override {
        clear_colour = 0xFF808080;  // the half-black panel shows over grey
        TextRenderFixture::SetUp();
    }
};

TEST_F(ConsoleDraw, PanelEditLineAndHistory) {
    Console console;
    console.SetRect(Rect(0, 0, kW, 200), font);
    EXPECT_EQ(console.LineHeight(), 10);  // fontH 8 + borderH 2
    // Page Down grows the console by the font's line height.
    console.OnKey(34);
    EXPECT_EQ(console.GetRect().h, 210);
    console.SetRect(Rect(0, 0, kW, kH), font);
    for (int i = 0; i < 8; ++i) console.AddText(i % 2 ? "ODD" : "EVEN", 0xFFFFFFFF);
    console.AddText("OLD", 0xFFFFFFFF);
    console.AddText("NEW", 0xFFFF0000);
    for (char c : std::string("X=1")) console.OnChar(c);
    console.Draw();
    const std::vector<uint32_t> px = Finish();
    Keep(px, "console");

    const uint32_t panel = 0x404040;
    EXPECT_EQ(px[size_t(2) * kW + 2], panel);
    // The edit line at (10, h - L) in white with the caret after "X=1"
    // (frame 0 of no window: the caret shows).
    const int edit_y = kH - 10;
    ExpectGlyph(px, '=', 14, edit_y, 0xFFFFFF, panel);  // after X, whose left touches the frame
    ExpectGlyph(px, '1', 18, edit_y, 0xFFFFFF, panel);
    ExpectGlyph(px, '_', 22, edit_y, 0xFFFFFF, panel);
    // Its frame: from (9, h - L - 1), L + 2 high, in yellow.
    EXPECT_EQ(px[size_t(edit_y - 1) * kW + 80], 0xFFFF00u);
    EXPECT_EQ(px[size_t(edit_y + 4) * kW + 9], 0xFFFF00u);
    // History: the newest line at h - 2L + 2 in its red, the one before a line above.
    ExpectGlyph(px, 'N', 10, kH - 18, 0xFF0000, panel);
    ExpectGlyph(px, 'O', 10, kH - 28, 0xFFFFFF, panel);
    // Lines stop at the top: y' = 46, 36, 26, 16, 6 are drawn, -4 is not.
    ExpectGlyph(px, 'O', 10, 6, 0xFFFFFF, panel);  // "ODD", the fifth newest
    EXPECT_EQ(px[size_t(1) * kW + 10], panel);
}

// A line wider than the panel (140 pixels of text) wraps after its last
// blank that fits; the edit line shows the part that ends at the caret.
TEST_F(ConsoleDraw, LongLinesWrapAndTheEditLineFollowsTheCaret) {
    Console console;
    console.SetRect(Rect(0, 0, kW, kH), font);
    console.AddText("OLD", 0xFFFFFFFF);
    console.AddText("ONE TWO THREE FOUR FIVE SIX SEVEN EIGHT NINE", 0xFFFF0000);
    for (int i = 0; i < 49; ++i) console.OnChar('A');
    console.OnChar('Z');
    console.Draw();
    const std::vector<uint32_t> px = Finish();
    Keep(px, "console_wrap");
    const uint32_t panel = 0x404040;
    // Letters advance 4 pixels, blanks 2: "EIGHT" does not fit behind SEVEN.
    ExpectGlyph(px, 'E', 10, kH - 18, 0xFF0000, panel);
    ExpectGlyph(px, 'N', 10 + 5 * 4 + 2, kH - 18, 0xFF0000, panel);
    ExpectGlyph(px, 'O', 10, kH - 28, 0xFF0000, panel);
    ExpectGlyph(px, 'N', 10 + 26 * 4 + 6 * 2, kH - 28, 0xFF0000, panel);  // SEVEN's last letter
    ExpectGlyph(px, 'O', 10, kH - 38, 0xFFFFFF, panel);  // the line before, a row up
    for (int y = 0; y < kH - 20; ++y)
        for (int x = kW - 10; x < kW; ++x) ASSERT_EQ(px[size_t(y) * kW + x], panel) << x << "," << y;
    // 50 letters and the caret need 204 pixels: the first 16 letters are
    // off to the left, the Z and the caret inside the frame.
    ExpectGlyph(px, 'Z', 10 + 33 * 4, kH - 10, 0xFFFFFF, panel);
    ExpectGlyph(px, '_', 10 + 34 * 4, kH - 10, 0xFFFFFF, panel);
    ExpectGlyph(px, 'A', 14, kH - 10, 0xFFFFFF, panel);
    // Without a font nothing is wrapped.
    std::vector<int> rows = {1};
    Console bare;
    bare.WrapRows("TEXT", 100, rows);
    EXPECT_TRUE(rows.empty());
    // Font borders at the int limit: widths, heights and positions stay in
    // range (one character a row; the height held between its limits).
    font->borderW = INT32_MAX;
    font->borderH = INT32_MAX;
    console.WrapRows("AB CD", 100, rows);
    EXPECT_EQ(rows, std::vector<int>(5, 1));
    console.OnKey(33);
    EXPECT_EQ(console.GetRect().h, Console::kMinHeight);
    console.OnKey(34);
    EXPECT_EQ(console.GetRect().h, Console::kMaxHeight);
    // Drawn with them, in a panel whose bottom is on screen at y 30: the
    // history lies far above the top, so nothing shows below the panel...
    auto redraw = [&] {
        console.SetRect(Rect(0, -100, kW, 130), font);
        console.AddText("NEW", 0xFFFF0000);
        console.OnChar('A'), console.OnChar('B');
        EXPECT_EQ(dev->BeginRenderTarget(target), 1);
        dev->Clear(clear_colour);
        console.Draw();
        return Finish();
    };
    std::vector<uint32_t> far = redraw();
    for (int y = 32; y < kH; ++y)
        for (int x = 0; x < kW; ++x) ASSERT_EQ(far[size_t(y) * kW + x], 0x808080u) << x << "," << y;
    // ...and with a plain line height the edit line shows the caret alone
    // (its left column touches the frame): no character fits before it.
    font->borderH = 2;
    far = redraw();
    for (int gy = 0; gy < 5; ++gy)
        for (int gx = 0; gx < 3; ++gx)
            EXPECT_EQ(far[size_t(21 + gy) * kW + size_t(10 + gx)], GlyphBit('_', gx, gy) ? 0xFFFFFFu : panel)
                << gx << "," << gy;
}

TEST_F(ConsoleDraw, WithoutAFontOnlyThePanelAndFrame) {
    Console console;
    console.SetRect(Rect(0, 0, kW, kH), nullptr);
    EXPECT_EQ(console.LineHeight(), 16);
    console.AddText("NOT SHOWN", 0xFFFFFFFF);
    console.Draw();
    const std::vector<uint32_t> px = Finish();
    for (int y = 0; y < kH - 18; ++y)
        for (int x = 0; x < kW; ++x) ASSERT_EQ(px[size_t(y) * kW + x], 0x404040u) << x << "," << y;
}

}  // namespace
