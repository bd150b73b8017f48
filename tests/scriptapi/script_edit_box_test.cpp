// The script text editor's editing logic: typing, keys, selection, undo and
// redo, mouse, view, completion, colouring, files; and one drawn frame.
#include "scriptapi/script_edit_box.h"

#include <unistd.h>

#include <memory>

#include "media/text/game_font.h"
#include "media/text/text_render_fixture.h"
#include "script/script_test_support.h"

namespace {

using script_test::ScriptTest;

enum Key { kShift = 16, kEnd = 35, kHome = 36, kLeft = 37, kUp = 38, kRight = 39, kDown = 40, kDelete = 46 };

// A font with 8 x 10 character cells and no image: enough to measure.
class EditBoxTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        font = new GameFont();
        font->fontW = 8;
        font->fontH = 10;
    }
    void TearDown() override {
        box.reset();
        delete font;
        ScriptTest::TearDown();
    }
    // A 320 x 100 box: 10 visible lines; multi-line boxes get a 10-pixel gutter.
    ScriptEditBox& Make(int flags) {
        box = std::make_unique<ScriptEditBox>(font, flags, 0xFFFFFFFFu, Rect(0, 0, 320, 100));
        return *box;
    }
    void Type(const char* s) {
        for (; *s; ++s) box->OnChar(static_cast<unsigned char>(*s));
    }
    // The caret and selection lie inside the text.
    void ExpectConsistent() {
        const int32_t len = int32_t(box->Text().size());
        EXPECT_LE(box->CaretOffset(), len);
        EXPECT_LE(box->CaretColumn(), box->LineLength(box->CaretLine()));
        EXPECT_LT(box->CaretLine(), box->LineCount());
        EXPECT_LE(box->SelectionAnchor(), len);
        EXPECT_LE(box->SelectionEnd(), len);
    }

    GameFont* font = nullptr;
    std::unique_ptr<ScriptEditBox> box;
};

TEST_F(EditBoxTest, UndoAndRedoWalkTheEditsAndEmptyingTheTextIsSafe) {
    ScriptEditBox& b = Make(ScriptEditBox::kMultiLine);
    Type("abc");
    b.RunCommand("undo");
    b.RunCommand("undo");
    EXPECT_EQ(b.Text(), "a");
    ExpectConsistent();
    b.RunCommand("redo");
    EXPECT_EQ(b.Text(), "ab");
    b.RunCommand("undo");
    b.RunCommand("undo");
    EXPECT_EQ(b.Text(), "");
    EXPECT_FALSE(b.HasUndo());
    b.RunCommand("redo");  // nothing left to redo from
    EXPECT_EQ(b.Text(), "");
    ExpectConsistent();
    // Typing again into the emptied text starts a new history.
    Type("xy");
    EXPECT_EQ(b.Text(), "xy");
    EXPECT_EQ(b.CaretOffset(), 2);
    b.RunCommand("undo");
    EXPECT_EQ(b.Text(), "x");
    ExpectConsistent();
    b.RunCommand("Undo");  // commands compare exactly
    EXPECT_EQ(b.Text(), "x");

    // Deletions are undone too; a new edit after undos drops the redo branch.
    b.SetText("hello\nworld");
    EXPECT_FALSE(b.HasUndo());
    b.SetCaret(5);
    b.OnKeyDown(kDelete);  // joins the lines
    EXPECT_EQ(b.Text(), "helloworld");
    b.RunCommand("undo");
    EXPECT_EQ(b.Text(), "hello\nworld");
    Type("!");
    b.RunCommand("redo");
    EXPECT_EQ(b.Text(), "hello!\nworld");
    // A caret far out in a text that an undo shortened comes back inside.
    b.SetText("");
    Type("line one\nline two\nline three");
    for (int i = 0; i < 40; ++i) b.RunCommand("undo");
    EXPECT_EQ(b.Text(), "");
    ExpectConsistent();
}

TEST_F(EditBoxTest, SingleLineBoxIgnoresEnterAndRecordsNothing) {
    ScriptEditBox& b = Make(0);
    EXPECT_EQ(b.GutterWidth(), 0);
    Type("ab\rc");
    EXPECT_EQ(b.Text(), "abc");
    b.RunCommand("undo");
    EXPECT_EQ(b.Text(), "abc");
    quild_test::WriteFile(Path("one.txt"), "x\r\ny\tz\x01\xC3\xA9!");
    b.SetText("");
    b.ImportFile("one.txt");
    EXPECT_EQ(b.Text(), "x y\tz!");  // CR a blank, control bytes and bytes above 127 dropped
    EXPECT_EQ(b.LineCount(), 1);
}

TEST_F(EditBoxTest, KeysMoveTheCaretAndShiftSelects) {
    ScriptEditBox& b = Make(ScriptEditBox::kMultiLine);
    b.SetText("first\nsecond line\nx");
    b.SetCaret(0);
    b.OnChar(8);  // backspace at the very start
    EXPECT_EQ(b.Text(), "first\nsecond line\nx");
    b.OnKeyDown(kEnd);
    EXPECT_EQ(b.CaretColumn(), 5);
    b.OnKeyDown(kRight);  // past the end of a line: start of the next
    EXPECT_EQ(b.CaretLine(), 1);
    EXPECT_EQ(b.CaretColumn(), 0);
    b.OnKeyDown(kLeft);  // and back to the end of the previous one
    EXPECT_EQ(b.CaretLine(), 0);
    EXPECT_EQ(b.CaretColumn(), 5);
    b.OnKeyDown(kDown);
    b.OnKeyDown(kDown);  // the last line is one character long: the column follows
    EXPECT_EQ(b.CaretLine(), 2);
    EXPECT_EQ(b.CaretColumn(), 1);
    b.OnKeyDown(kRight);  // the end of the text keeps the caret
    EXPECT_EQ(b.CaretOffset(), int32_t(b.Text().size()));
    b.OnKeyDown(kUp);
    b.OnKeyDown(kHome);
    EXPECT_EQ(b.CaretOffset(), 6);

    // Shift and three Rights select "sec"; typing replaces it.
    b.OnKeyDown(kShift);
    for (int i = 0; i < 3; ++i) b.OnKeyDown(kRight);
    EXPECT_EQ(b.GetSelection(), "sec");
    b.OnKeyUp(kShift);
    EXPECT_EQ(b.GetSelection(), "sec");  // releasing Shift keeps it
    Type("S");
    EXPECT_EQ(b.Text(), "first\nSond line\nx");
    EXPECT_EQ(b.GetSelection(), "");
    // A selection over a line end, deleted with Delete.
    b.SetCaret(3);
    b.OnKeyDown(kShift);
    b.OnKeyDown(kDown);
    EXPECT_EQ(b.GetSelection(), "st\nSon");
    b.OnKeyDown(kDelete);
    EXPECT_EQ(b.Text(), "fird line\nx");
    EXPECT_EQ(b.CaretOffset(), 3);
    // Backspace at a line start joins the lines.
    b.SetCaret(10);
    b.OnChar(8);
    EXPECT_EQ(b.Text(), "fird linex");
    // Enter splits, and the caret starts the new line.
    b.SetCaret(4);
    b.OnChar(13);
    EXPECT_EQ(b.Text(), "fird\n linex");
    EXPECT_EQ(b.CaretLine(), 1);
    EXPECT_EQ(b.CaretColumn(), 0);
    // Characters that are no bytes, and control codes, do nothing.
    b.OnChar(0x141);
    b.OnChar(-8);
    b.OnChar(27);
    EXPECT_EQ(b.Text(), "fird\n linex");
    ExpectConsistent();
}

TEST_F(EditBoxTest, PasteAndSelectionReplacement) {
    ScriptEditBox& b = Make(ScriptEditBox::kMultiLine);
    b.SetText("ab");
    b.SetCaret(1);
    b.Paste("1\r\n2\r\n3");
    EXPECT_EQ(b.Text(), "a1\n2\n3b");
    EXPECT_EQ(b.CaretLine(), 2);  // moved down by the line feeds, column kept
    EXPECT_EQ(b.CaretColumn(), 1);
    b.RunCommand("undo");
    EXPECT_EQ(b.Text(), "ab");
    b.ReplaceSelection("Z");  // no selection: inserted at the caret
    EXPECT_EQ(b.Text(), "aZb");
    b.DeleteRange(1, 1000);  // runs past the end: cut there
    EXPECT_EQ(b.Text(), "a");
    b.DeleteRange(5, 1);
    b.DeleteRange(-1, 1);
    EXPECT_EQ(b.Text(), "a");
    ExpectConsistent();
}

TEST_F(EditBoxTest, MouseDoubleClickSelectsAWordAndDragSelects) {
    ScriptEditBox& b = Make(ScriptEditBox::kMultiLine);
    const int g = b.GutterWidth();
    EXPECT_EQ(g, 10);
    b.SetText("x = foo_bar1(2)\nnext");
    // A click inside the "o" of foo: 4 characters in, plus half of one.
    b.OnMouseDown(g + 5 * 8 + 4, 3);
    b.OnMouseUp(0, 0, 1000);
    b.OnMouseDown(g + 5 * 8 + 4, 3);
    b.OnMouseUp(0, 0, 1100);
    EXPECT_EQ(b.GetSelection(), "foo_bar1");
    // Too slow for a double click: no word.
    b.OnMouseDown(g + 1, 12);
    b.OnMouseUp(0, 0, 5000);
    b.OnMouseDown(g + 1, 12);
    b.OnMouseUp(0, 0, 5300);
    EXPECT_EQ(b.GetSelection(), "");
    // A drag: down, down again while selecting, up.
    b.OnMouseDown(g + 0, 0);
    b.OnMouseDown(g + 3 * 8, 15);
    b.OnMouseUp(0, 0, 9000);
    EXPECT_EQ(b.GetSelection(), "x = foo_bar1(2)\nnex");
    // Clicks far outside land in the text.
    b.OnMouseDown(-100000, -100000);
    b.OnMouseUp(0, 0, 20000);
    b.OnMouseDown(2147483647, 2147483647);
    b.OnMouseUp(0, 0, 30000);
    ExpectConsistent();
}

TEST_F(EditBoxTest, ViewFollowsHighlightsAndWheel) {
    ScriptEditBox& b = Make(ScriptEditBox::kMultiLine);
    std::string text;
    for (int i = 0; i < 100; ++i) text += "line " + std::to_string(i) + "\n";
    b.SetText(text.c_str());
    EXPECT_EQ(b.VisibleLines(), 10);
    b.HighlightLine(60);
    EXPECT_EQ(b.HighlightedLine(), 60);
    EXPECT_EQ(b.FirstVisibleLine(), 54);  // line 60 in the middle of ten
    b.HighlightLine(56);                  // already in view: the view stays
    EXPECT_EQ(b.FirstVisibleLine(), 54);
    b.HighlightLine(0);
    EXPECT_EQ(b.HighlightedLine(), 0);
    b.HighlightLine(102);
    EXPECT_EQ(b.HighlightedLine(), 0);
    b.Scroll(120);
    EXPECT_EQ(b.FirstVisibleLine(), 51);
    for (int i = 0; i < 100; ++i) b.Scroll(-120);
    EXPECT_EQ(b.FirstVisibleLine(), 101 - 10 - 1);  // not past the last page
    for (int i = 0; i < 100; ++i) b.Scroll(1);
    EXPECT_EQ(b.FirstVisibleLine(), 0);
    // Walking down past the view scrolls it; Page Up goes back a page.
    b.SetCaret(0);
    for (int i = 0; i < 15; ++i) b.OnKeyDown(kDown);
    EXPECT_EQ(b.FirstVisibleLine(), 6);
    b.OnKeyDown(33);
    EXPECT_EQ(b.CaretLine(), 5);
    EXPECT_EQ(b.FirstVisibleLine(), 5);
    // A long line scrolls sideways at End and back at Home.
    b.SetText(std::string(100, 'w').c_str());
    b.OnKeyDown(kEnd);
    EXPECT_EQ(b.HorizontalScroll(), 100 * 8 + 8 - 310);
    b.OnKeyDown(kHome);
    EXPECT_EQ(b.HorizontalScroll(), 0);
}

TEST_F(EditBoxTest, BoxWithoutAFontMeasuresNothingAndStaysSafe) {
    box = std::make_unique<ScriptEditBox>(nullptr, ScriptEditBox::kMultiLine, 0xFFFFFFFFu, Rect(0, 0, 64, 64));
    box->SetText("a\nb\nc");
    EXPECT_EQ(box->VisibleLines(), 0);
    box->OnMouseDown(10, 10);
    box->OnKeyDown(34);
    box->OnKeyDown(33);
    box->HighlightLine(2);
    box->Scroll(-1);
    box->Render(0);  // no device, no font: nothing
    ExpectConsistent();
}

TEST_F(EditBoxTest, CompletionCyclesThroughTheNamesOfATable) {
    Lua("Display = {focus = 1, fov = 2, gamma = 3}");
    ScriptEditBox& b = Make(ScriptEditBox::kMultiLine);
    Type("x = Display.F");
    b.RunCommand("symbol");
    EXPECT_EQ(b.Text(), "x = Display.focus");
    EXPECT_EQ(b.CaretOffset(), int32_t(b.Text().size()));
    b.RunCommand("symbol");
    EXPECT_EQ(b.Text(), "x = Display.fov");
    // Undo steps back over both completions to what was typed.
    b.RunCommand("undo");
    EXPECT_EQ(b.Text(), "x = ");
    b.RunCommand("undo");
    EXPECT_EQ(b.Text(), "x = Display.focus");
    b.RunCommand("undo");
    b.RunCommand("undo");
    EXPECT_EQ(b.Text(), "x = Display.F");
    b.RunCommand("undo");
    EXPECT_EQ(b.Text(), "x = Display.");
    // A key ends the completion; a word that matches nothing stays.
    b.OnKeyDown(kEnd);
    b.SetText("nothing_like_it");
    b.SetCaret(15);
    b.RunCommand("symbol");
    EXPECT_EQ(b.Text(), "nothing_like_it");
    // A completion whose text was replaced meanwhile starts afresh.
    b.SetText("Display.g");
    b.SetCaret(9);
    b.RunCommand("symbol");
    b.SetText("");
    b.RunCommand("symbol");  // an empty word: the first global name
    EXPECT_EQ(b.Text(), "_ALERT");
    ExpectConsistent();
}

TEST_F(EditBoxTest, ColouringFindsCommentsStringsKeywordsNumbersAndEvents) {
    ScriptEditBox& b = Make(ScriptEditBox::kMultiLine | ScriptEditBox::kSyntaxColour);
    const std::string text = "-- then go\nif x then y = 12.5 end\nfunction OnSceneEnter() s = \"a b\" .. [[c\nd]] end";
    b.SetText(text.c_str());
    auto colour_of = [&](const char* part, size_t from = 0) { return b.ColourAt(int32_t(text.find(part, from))); };
    EXPECT_EQ(colour_of("then"), ScriptEditBox::kCommentColour);  // inside the comment
    EXPECT_EQ(colour_of("go"), ScriptEditBox::kCommentColour);
    EXPECT_EQ(b.ColourAt(10), 0xFFFFFFFFu);  // the line feed ends the comment
    EXPECT_EQ(colour_of("then", 5), ScriptEditBox::kKeywordColour);
    EXPECT_EQ(colour_of("x "), 0xFFFFFFFFu);
    EXPECT_EQ(colour_of("12.5"), ScriptEditBox::kNumberColour);
    EXPECT_EQ(colour_of(".5"), ScriptEditBox::kNumberColour);
    EXPECT_EQ(colour_of("5 end"), ScriptEditBox::kNumberColour);
    EXPECT_EQ(colour_of("OnSceneEnter") , ScriptEditBox::kEventColour);
    EXPECT_EQ(colour_of("Enter"), ScriptEditBox::kEventColour);
    EXPECT_EQ(colour_of("a b"), ScriptEditBox::kStringColour);
    EXPECT_EQ(colour_of("\" .."), ScriptEditBox::kStringColour);  // the closing quote
    EXPECT_EQ(colour_of(" .."), 0xFFFFFFFFu);
    EXPECT_EQ(colour_of("d]]"), ScriptEditBox::kStringColour);  // a long string spans lines
    EXPECT_EQ(colour_of("] end"), ScriptEditBox::kStringColour);
    // Digits inside a name are part of the name.
    b.SetText("x12 = 3");
    EXPECT_EQ(b.ColourAt(1), 0xFFFFFFFFu);
    EXPECT_EQ(b.ColourAt(6), ScriptEditBox::kNumberColour);
    // An unclosed string runs to the end of the text.
    b.SetText("\"open");
    EXPECT_EQ(b.ColourAt(4), ScriptEditBox::kStringColour);
}

TEST_F(EditBoxTest, ImportAndSaveRoundTripAndFailuresAreSafe) {
    ScriptEditBox& b = Make(ScriptEditBox::kMultiLine);
    quild_test::WriteFile(Path("s.lua"), "a = 1\r\n\tb\x80 = 2\r\n\r\nunix\nend");
    b.SetText("-- head\n");
    b.ImportFile("s.lua");  // appended after the text there
    EXPECT_EQ(b.Text(), "-- head\na = 1\n\tb = 2\n\nunix\nend");
    EXPECT_FALSE(b.Modified());
    EXPECT_EQ(b.FileName(), "s.lua");
    Type("!");
    EXPECT_TRUE(b.Modified());
    ASSERT_TRUE(b.SaveToFile(nullptr));  // to the imported file
    EXPECT_FALSE(b.Modified());
    EXPECT_EQ(quild_test::ReadFile(Path("s.lua")), "!-- head\r\na = 1\r\n\tb = 2\r\n\r\nunix\r\nend");
    // Read back into an empty box: the same text.
    const std::string saved = b.Text();
    ScriptEditBox again(font, ScriptEditBox::kMultiLine, 0xFFFFFFFFu, Rect(0, 0, 320, 100));
    again.ImportFile("s.lua");
    EXPECT_EQ(again.Text(), saved);
    // Whatever line ends a file had, it is saved with CR LF.
    quild_test::WriteFile(Path("unix.lua"), "a = 1\nb = 2\n");
    again.ImportFile("unix.lua");
    EXPECT_EQ(again.Text(), saved + "a = 1\nb = 2\n");
    again.SetText("a = 1\nb = 3\n");
    ASSERT_TRUE(again.SaveToFile(nullptr));
    EXPECT_EQ(quild_test::ReadFile(Path("unix.lua")), "a = 1\r\nb = 3\r\n");
    quild_test::WriteFile(Path("mac.lua"), "x\ry");
    again.ImportFile("mac.lua");
    ASSERT_TRUE(again.SaveToFile(nullptr));
    EXPECT_EQ(quild_test::ReadFile(Path("mac.lua")), "a = 1\r\nb = 3\r\nx\r\ny");

    // Long runs are filtered as exactly as short ones.
    ScriptEditBox bytes(font, ScriptEditBox::kMultiLine, 0xFFFFFFFFu, Rect(0, 0, 320, 100));
    const std::string raw = "0123456789abcdef\x01ghijklmnopqrstu\xffvwxyz0123456789\r\r\n\n~\x7f\x1f !";
    ASSERT_TRUE(bytes.AppendImported(raw.data(), raw.size()));
    EXPECT_EQ(bytes.Text(), "0123456789abcdefghijklmnopqrstuvwxyz0123456789\n\n\n~\x7f !");
    EXPECT_EQ(bytes.LineCount(), 4);

    // A file that cannot be written leaves the box modified.
    Type("?");
    EXPECT_FALSE(b.SaveToFile("no/such/folder/x.lua"));
    EXPECT_TRUE(b.Modified());
    // A missing file empties the box and its history.
    b.ImportFile("missing.lua");
    EXPECT_EQ(b.Text(), "");
    EXPECT_FALSE(b.HasUndo());
    b.RunCommand("undo");
    b.RunCommand("redo");
    EXPECT_EQ(b.Text(), "");
    ExpectConsistent();
}

// One frame: colours, a selection, the caret and the gutter with its
// highlighted line, on a real device.
class EditBoxFrame : public media_test::TextRenderFixture {
protected:
    void SetUp() override {
        if (!getcwd(start_dir, sizeof start_dir)) start_dir[0] = 0;
        TextRenderFixture::SetUp();
    }
    char start_dir[4096] = {};
};

TEST_F(EditBoxFrame, DrawsColouredTextSelectionCaretAndGutter) {
    // 160 x 64 with a 5-pixel gutter; cells of 8 x 8.
    ScriptEditBox b(font, ScriptEditBox::kMultiLine | ScriptEditBox::kSyntaxColour, 0xFF00FF00u,
                    Rect(0, 0, 160, 64));
    b.SetText("if A then\n-- B\nCD 12\nEF");
    b.SetFocus(true);
    b.HighlightLine(2);
    b.SetCaret(int32_t(std::string("if A then\n-- B\nCD 12\nE").size()));
    b.OnKeyDown(kShift);
    b.OnKeyDown(kRight);  // selects "F"
    b.Render(0);
    const std::vector<uint32_t> px = Finish();
    char here[4096];
    if (start_dir[0] && getcwd(here, sizeof here) && chdir(start_dir) == 0) {
        Keep(px, "script_edit_box");
        EXPECT_EQ(chdir(here), 0);
    }
    auto count = [&](int x0, int y0, int w, int h, uint32_t rgb) {
        int n = 0;
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) n += px[size_t(y) * kW + size_t(x)] == rgb;
        return n;
    };
    const int x0 = 5;  // the text area starts after the gutter
    EXPECT_GT(count(x0, 0, 16, 8, 0x4040FF), 5);        // "if" as a keyword
    EXPECT_GT(count(x0 + 24, 0, 8, 8, 0x00FF00), 5);    // "A" in the text colour
    EXPECT_GT(count(x0 + 24, 8, 8, 8, 0x008000), 5);    // "B" inside the comment
    EXPECT_GT(count(x0 + 24, 16, 16, 8, 0x804080), 5);  // "12"
    EXPECT_GT(count(x0, 16, 16, 8, 0x00FF00), 5);       // "CD"
    // "F" selected: its cell drawn solid with the texture's own colour.
    EXPECT_GT(count(x0 + 8, 24, 8, 8, 0xFFFFFF), 5);
    EXPECT_EQ(count(x0 + 8, 24, 8, 8, 0x00FF00), 0);
    // The caret (after "F", 2 pixels wide) in the text colour.
    EXPECT_EQ(count(x0 + 16, 24, 2, 8, 0x00FF00), 16);
    // The gutter in the inverse colour, line 2 marked inside it.
    EXPECT_EQ(px[size_t(40) * kW + 0], 0xFF00FFu);
    EXPECT_EQ(px[size_t(12) * kW + 2], 0x0000FFu);
    EXPECT_EQ(count(2, 10, 1, 4, 0x0000FF), 4);
}

}  // namespace
