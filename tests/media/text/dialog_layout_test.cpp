// Dialog layouts with the test font, whose letters are 4 pixels wide, the
// blank 2 and lines 8 high.
#include "media/text/dialog_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "media/text/font_builders.h"
#include "media/text/game_font.h"
#include "media/recording_device.h"

using media_test::DeviceScope;
using media_test::FontImageScope;

namespace {

class DialogLayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        font = new GameFont();
        font->SetImage(image.record, nullptr, 16, 16, 0, 0);
        ASSERT_EQ(font->GetCharWidth('a'), 4);
        ASSERT_EQ(font->GetCharWidth(' '), 2);
    }
    void TearDown() override { delete font; }
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        for (int i = 0; i < layout.LineCount(); ++i) out.push_back(layout.GetLine(i).text);
        return out;
    }
    using V = std::vector<std::string>;

    DeviceScope scope;
    FontImageScope image{"dialogfont"};
    GameFont* font = nullptr;
    DialogLayout layout;
};

TEST_F(DialogLayoutTest, WrapsAtBlanksAndKeepsLongWordsWhole) {
    EXPECT_EQ(layout.Parse(font, "aaa bbb  ccc", 30, 0, 0), 2);
    EXPECT_EQ(Lines(), (V{"aaa bbb", "ccc"}));
    EXPECT_FLOAT_EQ(layout.GetLine(0).width, 26);
    EXPECT_FLOAT_EQ(layout.GetLine(1).width, 12);
    // Line ends in the text are blanks; leading blanks of a line are skipped.
    layout.Parse(font, "  aa\r\nbb\n\ncc", 100, 0, 0);
    EXPECT_EQ(Lines(), (V{"aa bb cc"}));
    // A word wider than the limit stays on its own line.
    layout.Parse(font, "abcdefghij klm", 20, 0, 0);
    EXPECT_EQ(Lines(), (V{"abcdefghij", "klm"}));
    // Size doubles every width: the same text now wraps at half the width.
    layout.Parse(font, "aaa bbb", 30, 0, 16);
    EXPECT_EQ(Lines(), (V{"aaa", "bbb"}));
    EXPECT_FLOAT_EQ(layout.GetLine(0).width, 24);
    EXPECT_EQ(layout.Parse(font, "", 30, 0, 0), 0);
    EXPECT_EQ(layout.Parse(nullptr, "abc", 30, 0, 0), 0);
}

TEST_F(DialogLayoutTest, CodesTakeNoWidth) {
    layout.Parse(font, "a <b>bold</b> <$FF0000FF>red <i>it</i> <$zz>", 1000, 0, 0);
    EXPECT_EQ(Lines(), (V{"a $bbold$/ $FF0000FFred $iit$/"}));
    EXPECT_FLOAT_EQ(layout.GetLine(0).width, 4 + 2 + 16 + 2 + 12 + 2 + 8);
    // A "<" without its ">" is text.
    layout.Parse(font, "a<b c", 1000, 0, 0);
    EXPECT_EQ(Lines(), (V{"a<b c"}));
}

TEST_F(DialogLayoutTest, ForcedLinesAndPages) {
    EXPECT_EQ(layout.Parse(font, "abc<p>def<n><n>g", 100, 0, 0), 5);
    EXPECT_EQ(Lines(), (V{"abc", "<p>", "def", "", "g"}));
    EXPECT_EQ(layout.GetLine(1).text, DialogLayout::kPageBreak);
    EXPECT_EQ(layout.PageCount(), 2);
    // "<p>" ends the line even when it is empty.
    EXPECT_EQ(layout.Parse(font, "abc<n><p>def<p><p>", 100, 0, 0), 7);
    EXPECT_EQ(Lines(), (V{"abc", "", "<p>", "def", "<p>", "", "<p>"}));
    EXPECT_EQ(layout.PageCount(), 4);

    // Two 8-pixel lines fit a 20-pixel page; page 2 is 10 high.
    layout.SetPageSize(1, 0, 10);
    layout.Parse(font, "a<n>b<n>c<n>d<n>e", 100, 20, 0);
    EXPECT_EQ(Lines(), (V{"a", "b", "<p>", "c", "<p>", "d", "e"}));
    EXPECT_EQ(layout.PageCount(), 3);
    // Page 0's entry stands in for a missing width and height.
    layout.ClearPageSizes();
    layout.SetPageSize(0, 20, 20);
    layout.Parse(font, "aaa bbb ccc ddd", 0, 0, 0);
    EXPECT_EQ(Lines(), (V{"aaa", "bbb", "<p>", "ccc", "ddd"}));
}

TEST_F(DialogLayoutTest, ElementsRecordTheirPlaceAndText) {
    layout.Parse(font, "say <who>Anna Lee</who> hi", 1000, 0, 0);
    const DialogLayout::Element* e = layout.FindElement("who");
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->text, "Anna Lee");
    EXPECT_EQ(e->start_line, 0);
    EXPECT_EQ(e->start_offset, 4);
    EXPECT_EQ(e->end_offset, 12);
    EXPECT_EQ(layout.FindElement("WHO"), nullptr);  // exact names

    // Across a wrap: the element follows its words to the next lines.
    layout.Parse(font, "xx <e>aaa bbb</e> yy", 20, 0, 0);
    EXPECT_EQ(Lines(), (V{"xx", "aaa", "bbb", "yy"}));
    e = layout.FindElement("e");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->start_line, 1);
    EXPECT_EQ(e->start_offset, 0);
    EXPECT_EQ(e->end_line, 2);
    EXPECT_EQ(e->end_offset, 3);
    EXPECT_STREQ(e->text, "aaa bbb");

    // An element on a line moved to the next page moves with it.
    layout.Parse(font, "a<n>b<n><e>c</e>", 100, 20, 0);
    EXPECT_EQ(Lines(), (V{"a", "b", "<p>", "c"}));
    e = layout.FindElement("e");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->start_line, 3);
    EXPECT_EQ(e->end_line, 3);
}

TEST_F(DialogLayoutTest, LimitsHold) {
    std::string text;
    for (int i = 0; i < 1100; ++i) text += "a<n>";
    EXPECT_EQ(layout.Parse(font, text.c_str(), 100, 0, 0), DialogLayout::kMaxLines);
    text.clear();
    for (int i = 0; i < 40; ++i) text += "<e" + std::to_string(i) + ">x</e" + std::to_string(i) + ">";
    layout.Parse(font, text.c_str(), 0, 0, 0);
    EXPECT_EQ(layout.ElementCount(), DialogLayout::kMaxElements);
    // A 10000-character word with no width limit: lines stay within the buffer.
    text.assign(10000, 'w');
    EXPECT_EQ(layout.Parse(font, text.c_str(), 0, 0, 0), 3);
    size_t total = 0;
    for (const std::string& l : Lines()) {
        EXPECT_LE(l.size(), size_t(DialogLayout::kMaxLineLength));
        total += l.size();
    }
    EXPECT_EQ(total, 10000u);
}

TEST_F(DialogLayoutTest, DrawSwitchesFontsAndCountsLines) {
    GameFont bold;
    bold.SetImage(image.record, nullptr, 16, 16, 1, 0);  // one pixel wider per character
    font->bold_font = &bold;
    layout.Parse(font, "ab<n>c<b>d</b>|e<n>f", 100, 0, 0);
    ASSERT_EQ(Lines(), (V{"ab", "c$bd$/|e", "f"}));
    scope.device.immediate.clear();
    scope.device.calls.clear();
    layout.Draw(font, nullptr, Rect(10, 10, 100, 100), 0, 0xFFFFFFFF, 0, 1, 100);
    // Lines 1 and 2: c, d (bold), e, f; the bar is not drawn.
    const auto& quads = scope.device.immediate;
    ASSERT_EQ(quads.size(), 4u);
    EXPECT_FLOAT_EQ(quads[0][0], 9.5f);   // c
    EXPECT_FLOAT_EQ(quads[1][0], 13.5f);  // d after c's 4
    EXPECT_FLOAT_EQ(quads[2][0], 18.5f);  // e after bold d's 4 + 1
    EXPECT_FLOAT_EQ(quads[3][1], 17.5f);  // f one line down
    // Bold binds its texture (the same image here) and switching back binds the base again.
    int binds = 0;
    for (const std::string& c : scope.device.calls) binds += c == "texture 0 set";
    EXPECT_EQ(binds, 3);

    // Nothing after the last line; a new text is laid out and drawn whole,
    // centred by each line's width.
    scope.device.immediate.clear();
    layout.Draw(font, nullptr, Rect(0, 0, 100, 100), 0, 0xFFFFFFFF, 0, 3, -1);
    EXPECT_TRUE(scope.device.immediate.empty());
    layout.Draw(font, "aa<n>a", Rect(0, 0, 100, 100), kAlignCentreX | kAlignCentreY, 0xFFFFFFFF, 0, 0, 0);
    ASSERT_EQ(scope.device.immediate.size(), 3u);
    EXPECT_FLOAT_EQ(scope.device.immediate[0][0], 46 - 0.5f);
    EXPECT_FLOAT_EQ(scope.device.immediate[0][1], 42 - 0.5f);
    EXPECT_FLOAT_EQ(scope.device.immediate[2][0], 48 - 0.5f);
    font->bold_font = nullptr;
}

}  // namespace
