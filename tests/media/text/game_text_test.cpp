// Game-text files: the written form, reading back, the reading rules and
// hostile files.
#include "media/text/game_text.h"

#include <gtest/gtest.h>

#include <string>

#include "base/string_pool.h"
#include "support/test_support.h"

using quild_test::ReadFile;
using quild_test::TempDir;
using quild_test::WriteFile;

namespace {

class GameTextTest : public ::testing::Test {
protected:
    void TearDown() override { FreeAllGameTexts(texts); }
    static GameText* Add(ObjectList<GameText>& list, const char* name, const char* text) {
        GameText* t = ListAppendNew(list);
        t->name = GameTextStrings().Intern(name);
        t->text = text ? GameTextStrings().Intern(text) : nullptr;
        return t;
    }
    static const char* TextOf(const ObjectList<GameText>& list, const char* name) {
        const GameText* t = ListFindByName(list, name);
        return t ? t->text : "(missing)";
    }
    void Parse(const std::string& bytes) { ParseGameTexts(bytes.data(), bytes.size(), texts); }

    TempDir dir;
    ObjectList<GameText> texts;
};

TEST_F(GameTextTest, SaveWritesBlocksAndLoadReadsThemBack) {
    Add(texts, "intro", "Hello\nworld");
    Add(texts, "empty", nullptr);
    Add(texts, "outro", "Bye");
    const std::string path = dir.file("texts.txt");
    ASSERT_TRUE(SaveGameTextFile(path.c_str(), texts));
    EXPECT_EQ(ReadFile(path), "<intro>\r\nHello\nworld\r\n\r\n<empty>\r\n\r\n\r\n<outro>\r\nBye\r\n\r\n");

    ObjectList<GameText> back;
    ASSERT_TRUE(LoadGameTextFile(path.c_str(), back));
    ASSERT_EQ(ListCount(back), 3u);
    EXPECT_STREQ(TextOf(back, "INTRO"), "Hello\nworld");
    EXPECT_STREQ(TextOf(back, "empty"), "");
    EXPECT_STREQ(TextOf(back, "outro"), "Bye");
    // Loading again finds the texts by name instead of adding them.
    ASSERT_TRUE(LoadGameTextFile(path.c_str(), back));
    EXPECT_EQ(ListCount(back), 3u);
    FreeAllGameTexts(back);

    // Saving over an existing file replaces it.
    FreeAllGameTexts(texts);
    Add(texts, "one", "1");
    ASSERT_TRUE(SaveGameTextFile(path.c_str(), texts));
    EXPECT_EQ(ReadFile(path), "<one>\r\n1\r\n\r\n");
}

TEST_F(GameTextTest, ReadingRules) {
    Add(texts, "Intro", "old");
    Parse(
        "<intro>\r\n\tfirst line\r\n\r\nsecond\tline\r\n</>\r\n"
        "stray line outside any text\n"
        "<ab>\n"  // a tag needs five characters: this is text, and there is no current text
        "<abc>\nx<y\n<a>b>\n</abc>\n"
        "<last>\nno line end");
    EXPECT_STREQ(TextOf(texts, "intro"), "first line\nsecondline");  // CR and TAB dropped, blank lines too
    EXPECT_EQ(ListFindByName(texts, "ab"), nullptr);
    EXPECT_STREQ(TextOf(texts, "abc"), "x<y\n<a>b>");  // lines with inner brackets are text
    EXPECT_STREQ(TextOf(texts, "last"), "no line end");
    EXPECT_EQ(ListCount(texts), 3u);
    EXPECT_STREQ(ListFindByName(texts, "intro")->name, "Intro");  // the existing object kept its name

    // A block without lines gets an empty text; a following tag stores it.
    Parse("<blank>\n<other>\nz\n");
    EXPECT_STREQ(TextOf(texts, "blank"), "");
    EXPECT_STREQ(TextOf(texts, "other"), "z");
}

TEST_F(GameTextTest, RepeatedNamesAndLongFiles) {
    // Two texts of one name (a rename can make them): the first of the list
    // is the one a file fills, in any case; the list keeps its order.
    Add(texts, "Twin", "first");
    Add(texts, nullptr, "nameless");
    Add(texts, "twin", "second");
    std::string bytes = "<TWIN>\nnew\n<fresh>\na\n<Fresh>\nb\n";
    constexpr int kTexts = 20000;
    for (int i = 0; i < kTexts; ++i) bytes += "<text" + std::to_string(i) + ">\nline " + std::to_string(i) + "\n";
    bytes += "<text0>\nagain\n";
    const size_t compared = GameTextNamesCompared();
    Parse(bytes);
    // Names are found through an index: about one comparison a header, not
    // one per text of the list.
    EXPECT_LT(GameTextNamesCompared() - compared, size_t(3 * kTexts));
    ASSERT_EQ(ListCount(texts), size_t(3 + 1 + kTexts));
    const GameText* t = texts.head;
    EXPECT_STREQ(t->text, "new");
    t = ListNext(ListNext(t));
    EXPECT_STREQ(t->text, "second");
    t = ListNext(t);
    EXPECT_STREQ(t->name, "fresh");
    EXPECT_STREQ(t->text, "b");
    t = ListNext(t);
    EXPECT_STREQ(t->name, "text0");
    EXPECT_STREQ(t->text, "again");
    EXPECT_STREQ(texts.tail->name, "text19999");
    EXPECT_STREQ(texts.tail->text, "line 19999");
}

TEST_F(GameTextTest, HostileFilesAreReadSafely) {
    // Zero bytes, lone brackets and very long lines.
    std::string bytes = "<zzz>\n";
    bytes += std::string(100000, 'q');
    bytes += '\0';
    bytes += "tail\n<\n>\n<>\n<<<>>>\n";
    Parse(bytes);
    const char* text = TextOf(texts, "zzz");
    ASSERT_NE(text, nullptr);
    // The zero byte is dropped like CR and TAB.
    EXPECT_TRUE(std::string(text) == std::string(100000, 'q') + "tail\n<\n>\n<>\n<<<>>>");

    EXPECT_FALSE(LoadGameTextFile(dir.file("missing.txt").c_str(), texts));
    EXPECT_FALSE(LoadGameTextFile(nullptr, texts));
    EXPECT_FALSE(LoadGameTextFile("", texts));
    EXPECT_FALSE(SaveGameTextFile(dir.file("no/such/folder/t.txt").c_str(), texts));
}

TEST_F(GameTextTest, ShortNamesCannotBeReadBack) {
    Add(texts, "ab", "lost");
    const std::string path = dir.file("short.txt");
    ASSERT_TRUE(SaveGameTextFile(path.c_str(), texts));
    ObjectList<GameText> back;
    ASSERT_TRUE(LoadGameTextFile(path.c_str(), back));
    EXPECT_EQ(back.head, nullptr);
}

}  // namespace

TEST_F(GameTextTest, ThePoolEmptiesWhenTheLastTextIsFreed) {
    ObjectList<GameText> other;
    for (int round = 0; round < 3; ++round) {
        Parse("<intro>\nhello " + std::to_string(round) + "\n</>\n");
        Add(other, "kept", "still here");
        FreeAllGameTexts(texts);
        // A text still lives: its strings stay.
        EXPECT_STREQ(TextOf(other, "kept"), "still here");
        EXPECT_GE(GameTextStrings().Count(), 2u);
        RemoveGameText(other, other.head);
        EXPECT_EQ(other.head, nullptr);
        EXPECT_EQ(GameTextStrings().Count(), 0u);
    }
    RemoveGameText(other, nullptr);  // nothing
}
