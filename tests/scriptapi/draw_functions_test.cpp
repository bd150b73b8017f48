// The script drawing functions on a real headless device: the drawing
// offset moves shapes and text but not the clip rectangle; hotspots drawn
// along their chain.
#include "script_draw_fixture.h"

#include "media/image/image_builders.h"
#include "media/resource_manager.h"
#include "script/object_model.h"
#include "support/test_support.h"

namespace {

using DrawFunctions = ScriptDrawFixture;

TEST_F(DrawFunctions, OffsetMovesShapesAndTextNotTheClip) {
    Lua(R"(
        ge_translate(20, 10)
        ge_fillrect(0, 0, 10, 10, 'ffff0000')
        ge_drawrect(40, 0, 10, 10, 'ff00ff00')
        ge_setclip(0, 0, 10, 10)
        ge_fillrect(-20, -10, 100, 100, 'ff0000ff')
        ge_setclip("...", 7, -1, math.huge)  -- far edges saturate: nothing overflows
        ge_setclip()
        ge_drawstring('A', 0, 30, 'ffffffff')
        assert(ge_drawtext('B', 100, 0) == 1)
        ge_drawstring('C', rect_const(120, 30, 20, 10, 0), 'ff00ff00', 0, 0)
        -- a rectangle that is no registered rectangle is read as a point
        ge_drawstring('D', dlg_new(), 40)
    )");
    const std::vector<uint32_t> px = Finish();
    KeepFrame(px, "script_draw");
    auto at = [&](int x, int y) { return px[size_t(y) * kW + size_t(x)]; };
    // The fill at the offset position, 10 x 10.
    EXPECT_EQ(at(20, 10), 0xFF0000u);
    EXPECT_EQ(at(29, 19), 0xFF0000u);
    EXPECT_EQ(at(30, 10), 0u);
    EXPECT_EQ(at(20, 20), 0u);
    // The outline at 60..69 x 10..19, hollow.
    EXPECT_EQ(at(60, 15), 0x00FF00u);
    EXPECT_EQ(at(65, 15), 0u);
    // The clip is not moved: only 0..9 x 0..9 took the blue fill.
    EXPECT_EQ(at(5, 5), 0x0000FFu);
    EXPECT_EQ(at(9, 9), 0x0000FFu);
    EXPECT_EQ(at(12, 12), 0u);
    // Both text forms at the offset position.
    ExpectGlyph(px, 'A', 20, 40, 0xFFFFFF);
    ExpectGlyph(px, 'B', 120, 10, 0xFFFFFF);
    ExpectGlyph(px, 'C', 140, 40, 0x00FF00);
    ExpectGlyph(px, 'D', 20, 50, 0xFFFFFF);  // x read from the layout handle as 0
}

TEST_F(DrawFunctions, FontMeasures) {
    const int ab = font->GetStringWidth("AB");
    Lua(("assert(ge_getstringwidth('AB') == " + std::to_string(ab) + ")").c_str());
    Lua(("assert(ge_getstringwidth('AB', 2 * ge_getfontwidth()) == " + std::to_string(2 * ab) + ")").c_str());
    Lua("assert(ge_getfontheight() == 10 and ge_fontheight() == 8)");
    // Borders of thousands of pixels count in full.
    font->borderW += 5000;
    font->borderH += 5000;
    Lua(("assert(ge_getstringwidth('AB') == " + std::to_string(ab + 10000) + ")").c_str());
    Lua("assert(ge_getfontheight() == 5010)");
    font->borderW -= 5000;
    font->borderH -= 5000;
    font->fontW = 0;  // a zero character width never divides
    Lua("assert(ge_getfontheight(16) == 10 and ge_getstringwidth('AB', 16) > 0)");
    engine.fonts.head = engine.fonts.tail = nullptr;
    ListAppend(engine.fonts, font);
    font->name = "Body";
    Lua(R"(
        local list = ge_getfontslist()
        assert(#list == 1 and list[1] == 'Body')
        ge_setsysfont('none')
        ge_setfont('none')  -- no such font: the first font
    )");
    EXPECT_EQ(engine.currentFont, font);
    EXPECT_EQ(engine.systemFont, nullptr);
    Lua("ge_setsysfont('BODY')");
    EXPECT_EQ(engine.systemFont, font);
    engine.fonts = {};
    engine.currentFont = nullptr;
    Lua(R"(
        assert(ge_getfont() == nil and ge_getfontwidth() == 0 and ge_fontheight() == 0)
        assert(select('#', ge_getfontheight()) == 0 and select('#', ge_getstringwidth('x')) == 0)
        assert(select('#', ge_drawtext('x', 0, 0)) == 0)
    )");
    Finish();
}

// hs_render draws the hotspot and then its chain: a parent's children, or
// a child's later siblings (never its parent, never an earlier sibling).
TEST_F(DrawFunctions, HotspotsAreDrawnAlongTheirChain) {
    RegisterAllClassProperties();
    media_test::TgaShape shape;
    shape.width = shape.height = 4;
    quild_test::WriteFile("./white.tga", media_test::MakeTga(shape, "", std::string(4 * 4 * 3, '\xFF')));
    Lua(R"(
        local bar = hotspot{name='bar', rect='0,0,4,4', visible=true}
        local k1 = hotspot{name='k1', rect='10,0,4,4', parent=bar, visible=true}
        local k2 = hotspot{name='k2', rect='20,0,4,4', parent=bar, visible=true}
        local k3 = hotspot{name='k3', rect='30,0,4,4', parent=bar, visible=true}
        for i, h in ipairs({bar, k1, k2, k3}) do
            ge_setproperty(h, 'bgimage', 'white')
            ge_setproperty(h, 'color', 'ffffffff')
            ge_setproperty(h, 'rect', (i - 1) * 10 .. ',0,4,4')
        end
        assert(hs_nextchild(k1) == k2 and hs_nextchild(bar) == k1)
        hs_render(k2, 'ffff0000')
    )");
    const std::vector<uint32_t> px = Finish();
    auto at = [&](int x, int y) { return px[size_t(y) * kW + size_t(x)]; };
    EXPECT_EQ(at(1, 1), 0u);          // the parent
    EXPECT_EQ(at(11, 1), 0u);         // the earlier sibling
    EXPECT_EQ(at(21, 1), 0xFF0000u);  // the hotspot itself, tinted
    EXPECT_EQ(at(31, 1), 0xFF0000u);  // and the sibling after it
    EXPECT_EQ(at(41, 1), 0u);
    Resources().Remove(Resources().FindByName("white"), true);
}

}  // namespace
