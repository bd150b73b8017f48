// Bitmap fonts over a recording device: metrics from the font image, widths,
// charsets, colour codes and where the glyph quads land.
#include "media/text/game_font.h"

#include <gtest/gtest.h>

#include <string>

#include "media/text/font_builders.h"
#include "media/recording_device.h"
#include "script/object_model.h"

using media_test::DeviceScope;
using media_test::FontImageScope;

namespace {

class GameFontTest : public ::testing::Test {
protected:
    void TearDown() override { delete font; }
    // The proportional font of the test image.
    GameFont* Proportional(int border_w = 0, int border_h = 0) {
        font = new GameFont();
        font->SetImage(image.record, nullptr, 16, 16, border_w, border_h);
        return font;
    }
    // Quads drawn since the call log was cleared: {left, top, right, bottom, u0, v0, u1, v1}.
    std::vector<std::vector<float>> Quads() const {
        std::vector<std::vector<float>> out;
        for (const auto& v : scope.device.immediate) {
            if (v.size() != 36) continue;
            out.push_back({v[0], v[1], v[24], v[25], v[4], v[5], v[28], v[29]});
        }
        return out;
    }

    DeviceScope scope;
    FontImageScope image{"testfont"};
    GameFont* font = nullptr;
};

TEST_F(GameFontTest, ProportionalWidthsComeFromTheAlpha) {
    ASSERT_NE(image.record, nullptr);
    Proportional(1, 2);
    EXPECT_EQ(font->fontW, 8);
    EXPECT_EQ(font->fontH, 8);
    EXPECT_EQ(font->cellWidth, 8u);
    EXPECT_EQ(font->LineHeight(), 10);
    // "A" fills columns 1..3 of its cell: first 1, first clear column 4,
    // width 4 - 1 + 1.
    EXPECT_EQ(font->xOffsets[int('A')], ('A' % 16) * 8 + 1);
    EXPECT_EQ(font->widths[int('A')], 4);
    // "!" only its middle column.
    EXPECT_EQ(font->xOffsets[int('!')], ('!' % 16) * 8 + 2);
    EXPECT_EQ(font->widths[int('!')], 2);
    // An empty cell and the blank: fontW / 3 - borderW.
    EXPECT_EQ(font->widths[int('~')], 8 / 3 - 1);
    EXPECT_EQ(font->widths[int(' ')], 1);
    EXPECT_EQ(font->xOffsets[int(' ')], 0);
    EXPECT_EQ(font->GetCharWidth('A'), 5);
    EXPECT_EQ(font->GetStringWidth("A!A"), 5 + 3 + 5);
    EXPECT_EQ(font->GetStringWidth(""), 0);
    EXPECT_EQ(font->GetStringWidth(nullptr), 0);
    // A colour code is counted like any other characters.
    EXPECT_EQ(font->GetStringWidth("$FF00FF00"),
              font->GetCharWidth('$') + 4 * font->GetCharWidth('F') + 4 * font->GetCharWidth('0'));
}

TEST_F(GameFontTest, FixedWidthAndTheGridFromProperties) {
    font = new GameFont();
    // The set-up leaves the fixed-width flag to the caller.
    font->fixedWidth = true;
    font->Setup(image.record, nullptr, 16, 16, 6, 7, 1, 0);
    EXPECT_TRUE(font->fixedWidth);
    EXPECT_EQ(font->cellWidth, 8u);
    EXPECT_EQ(font->widths[int('!')], 6);
    EXPECT_EQ(font->xOffsets[17], 8);
    EXPECT_EQ(font->GetStringWidth("ab"), 14);

    // A script that changes the grid: columns 0 stands for 16; a
    // proportional font measures again with the new cells.
    font->tilesPerW = 0;
    font->tilesPerH = 8;
    font->fixedWidth = false;
    font->OnChanged(1);
    EXPECT_FALSE(font->fixedWidth);
    EXPECT_EQ(font->tilesPerW, 16);
    EXPECT_EQ(font->fontW, 8);
    EXPECT_EQ(font->fontH, 16);
    EXPECT_EQ(font->cellHeight, 16u);
    // Cell 'A' (row 4 of 8-pixel rows) now lies in 16-pixel row 2, whose
    // top half is row 4's cells: still found, same columns.
    EXPECT_EQ(font->widths['A' - 16 * 2], 4);

    // Borders of thousands of pixels count in full; past the int range the
    // sums saturate instead of overflowing.
    font->borderW = 5000;
    font->borderH = 5000;
    EXPECT_EQ(font->GetCharWidth('A'), font->widths[int('A')] + 5000);
    EXPECT_EQ(font->GetStringWidth("AA"), 2 * (font->widths[int('A')] + 5000));
    EXPECT_EQ(font->LineHeight(), 16 + 5000);
    font->borderW = INT32_MAX;
    font->borderH = INT32_MIN;
    font->fontH = INT32_MIN + 1;
    EXPECT_EQ(font->GetCharWidth('A'), INT32_MAX);
    EXPECT_EQ(font->LineHeight(), INT32_MIN);
    EXPECT_EQ(font->GetStringWidth(std::string(600000, 'A').c_str()), INT32_MAX);
    font->fixedWidth = true;
    font->OnChanged(1);
    // A proportional font measured with the lowest border: blanks as wide
    // as a width byte holds.
    font->borderW = INT32_MIN;
    font->fixedWidth = false;
    font->OnChanged(1);
    EXPECT_EQ(font->widths[int(' ')], 255);
    EXPECT_EQ(font->GetCharWidth(' '), 255 + INT32_MIN);
}

TEST_F(GameFontTest, MissingImageKeepsDefaultsAndDrawsNothing) {
    font = new GameFont();
    font->fixedWidth = true;
    font->SetImage(nullptr, nullptr, 16, 16, 0, 0);
    EXPECT_TRUE(font->fixedWidth);
    EXPECT_EQ(font->fontW, 32);
    EXPECT_EQ(font->fontH, 32);
    font->OnChanged(~0u);  // nothing while there is no image
    EXPECT_EQ(font->tilesPerW, 16);
    EXPECT_EQ(font->DrawString("abc", 0, 0, 100, 100, 0, 0xFFFFFFFF, 0), 0);
    EXPECT_TRUE(scope.device.immediate.empty());
}

TEST_F(GameFontTest, CharsetMapsCharactersToCells) {
    Proportional();
    font->charset = "AB !";
    // "B" is cell 1, a missing "Z" takes the blank's cell 2.
    EXPECT_EQ(font->CharIndex('B'), 1);
    EXPECT_EQ(font->CharIndex('Z'), 2);
    EXPECT_EQ(font->GetCharWidth('Z'), font->widths[2]);
    // Without a blank in the charset a missing character has no glyph.
    font->charset = "AB";
    EXPECT_EQ(font->CharIndex('Z'), -1);
    EXPECT_EQ(font->GetCharWidth('Z'), 0);
    // A charset longer than the 256 cells: characters past them have none.
    std::string longset(300, 'x');
    longset[280] = 'Q';
    font->charset = longset.c_str();
    EXPECT_EQ(font->CharIndex('Q'), -1);
}

TEST_F(GameFontTest, DrawStringPlacesQuadsAndSwitchesColours) {
    Proportional();
    scope.device.calls.clear();
    scope.device.immediate.clear();
    // "A", a colour code (nothing drawn), a blank (advance only), "!".
    EXPECT_EQ(font->DrawString("A$FF00FF00 !", 10, 20, 200, 50, 0, 0xFFFFFFFF, 0), 12);
    const auto q = Quads();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_FLOAT_EQ(q[0][0], 9.5f);
    EXPECT_FLOAT_EQ(q[0][1], 19.5f);
    EXPECT_FLOAT_EQ(q[0][2], 13.5f);  // width 4
    EXPECT_FLOAT_EQ(q[0][3], 27.5f);  // fontH 8
    EXPECT_FLOAT_EQ(q[0][4], float(('A' % 16) * 8 + 1) / 128);
    EXPECT_FLOAT_EQ(q[0][5], float(('A' / 16) * 8) / 128);
    EXPECT_FLOAT_EQ(q[1][0], 9.5f + 4 + 2);  // after "A" and the blank
    const std::string calls = scope.device.Joined();
    EXPECT_NE(calls.find("mode 19 ffffffff;texture 0 set;filter 0 0 0;filter 0 1 0;"), std::string::npos);
    EXPECT_NE(calls.find("mode 19 ff00ff00"), std::string::npos);
    EXPECT_NE(calls.find("filter 0 0 1;filter 0 1 1;"), std::string::npos);

    // Right and bottom alignment by the width that counts the code's nine
    // characters; twice the size doubles every advance and linear filtering stays.
    scope.device.calls.clear();
    scope.device.immediate.clear();
    const char* text = "$FF00FF00A";
    font->DrawString(text, 0, 0, 300, 100, kAlignRight | kAlignBottom, 0xFFFFFFFF, 16);
    const auto r = Quads();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_FLOAT_EQ(r[0][0], 300 - 2.0f * font->GetStringWidth(text) - 0.5f);
    EXPECT_FLOAT_EQ(r[0][3] - r[0][1], 16.0f);
    EXPECT_FLOAT_EQ(r[0][3], 100 - 0.5f);
    EXPECT_EQ(scope.device.Joined().find("filter 0 0 0"), std::string::npos);
}

TEST_F(GameFontTest, ColourCodesNeedEightHexDigits) {
    uint32_t c = 0;
    EXPECT_TRUE(ReadColourCode("$80ff00aB rest", &c));
    EXPECT_EQ(c, 0x80FF00ABu);
    EXPECT_FALSE(ReadColourCode("$80ff00a", &c));  // the text ends
    EXPECT_FALSE(ReadColourCode("$80ff00ag", &c));
    EXPECT_FALSE(ReadColourCode("80ff00aab", &c));
    EXPECT_FALSE(ReadColourCode(nullptr, &c));
}

TEST_F(GameFontTest, PropertiesAndClassWord) {
    RegisterAllClassProperties();
    EObject* made = CreateObjectByClass("font");
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(IsClass(made, "font"));
    const char* keys[] = {"name",       "charset",    "fontW",     "fontH",       "tilesPerW",
                          "tilesPerH",  "font_image", "bold_font", "italic_font", "underlined_font",
                          "fixedWidth", "borderW",    "borderH",   "class"};
    int i = 0;
    for (const PropertyInfo* p = GameFont::s_descriptor.first; p; p = p->next, ++i) {
        ASSERT_LT(i, int(std::size(keys)));
        EXPECT_STREQ(p->name, keys[i]);
    }
    EXPECT_EQ(i, int(std::size(keys)));
    // A script writing fontW reaches the field.
    auto* f = static_cast<GameFont*>(made);
    *static_cast<int32_t*>(f->Field(GameFont::s_descriptor.first->next->next)) = 12;
    EXPECT_EQ(f->fontW, 12);
    delete made;
    FreeAllPropertyLists();
}

}  // namespace
