#include "base/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "base/object_list.h"

TEST(Rect, ParsesIntegersThenNumbersElseZeroes) {
    Rect r;
    EXPECT_TRUE(r.Parse("10,20,30,40"));
    EXPECT_EQ(r.x, 10);
    EXPECT_EQ(r.h, 40);
    EXPECT_TRUE(r.Parse("1.9,2.5,3,4"));
    EXPECT_EQ(r.x, 1);
    EXPECT_EQ(r.y, 2);
    EXPECT_EQ(r.w, 3);
    EXPECT_TRUE(r.Parse("-1.9,0,1e12,4"));
    EXPECT_EQ(r.x, -1);
    EXPECT_EQ(r.w, INT32_MAX);  // saturated, not undefined
    EXPECT_FALSE(r.Parse("a"));
    EXPECT_EQ(r.x | r.y | r.w | r.h, 0);
    r.Set(1, 2, 3, 4);
    EXPECT_FALSE(r.Parse(nullptr));
    EXPECT_EQ(r.w, 0);
    EXPECT_FALSE(r.Parse("1,2,3"));
}

TEST(Rect, ContainsIsHalfOpenAndDoesNotOverflow) {
    Rect r(10, 20, 5, 5);
    EXPECT_TRUE(r.Contains(10, 20));
    EXPECT_TRUE(r.Contains(14, 24));
    EXPECT_FALSE(r.Contains(15, 20));
    EXPECT_FALSE(r.Contains(10, 25));
    Rect wide(INT32_MAX - 1, 0, INT32_MAX, 1);
    EXPECT_TRUE(wide.Contains(INT32_MAX, 0));
}

TEST(TextHelpers, BoundedFormattingHexAndSaturation) {
    TextBuffer b;
    std::string big(1000, 'x');
    EXPECT_EQ(b.FormatCount("%s", big.c_str()), 255);
    EXPECT_EQ(std::string(b.Format("%s!", big.c_str())).size(), 255u);
    EXPECT_STREQ(b.Format("%d-%s", 7, "a"), "7-a");

    EXPECT_EQ(HexToInt("FF00ff00"), 0xFF00FF00u);
    EXPECT_EQ(HexToInt("zz"), 0u);
    EXPECT_EQ(HexToInt(nullptr), 0u);
    EXPECT_TRUE(EqualsNoCase("Door", "DOOR"));
    EXPECT_FALSE(EqualsNoCase("Door", nullptr));

    EXPECT_EQ(SaturateToInt(std::nan("")), 0);
    EXPECT_EQ(SaturateToInt(-1e30), INT32_MIN);
    EXPECT_EQ(SaturateToInt(-2.7), -2);
    EXPECT_EQ(SaturateToInt(int64_t(INT32_MAX) + 1), INT32_MAX);
    EXPECT_EQ(SaturateToInt(INT64_MIN), INT32_MIN);
    EXPECT_EQ(SaturateToInt(int64_t(-7)), -7);
    EXPECT_EQ(SaturateToUInt(-5), 0u);
    EXPECT_EQ(SaturateToUInt(std::numeric_limits<double>::infinity()), UINT32_MAX);
}

TEST(Tokenizer, SkipsDelimitersAndRemembersTheLast) {
    Tokenizer t(";;a,bb;;c", ";,");
    EXPECT_STREQ(t.NextToken(), "a");
    EXPECT_EQ(t.LastDelimiter(), ',');
    EXPECT_STREQ(t.NextToken(), "bb");
    EXPECT_EQ(t.LastDelimiter(), ';');
    EXPECT_STREQ(t.NextToken(), "c");
    EXPECT_EQ(t.NextToken(), nullptr);

    std::string longtoken(600, 'q');
    Tokenizer cut(longtoken.c_str(), " ");
    EXPECT_EQ(std::string(cut.NextToken()).size(), 255u);
    EXPECT_EQ(cut.NextToken(), nullptr);
    Tokenizer chars("ab", "");
    EXPECT_EQ(chars.GetChar(), 'a');
    EXPECT_EQ(chars.GetChar(), 'b');
    EXPECT_EQ(chars.GetChar(), 0);
}

TEST(ByteBuffer, ReserveKeepsContents) {
    ByteBuffer b;
    ASSERT_TRUE(b.Reserve(4));
    std::memcpy(b.data(), "abcd", 4);
    ASSERT_TRUE(b.Reserve(1000));
    EXPECT_EQ(std::memcmp(b.data(), "abcd", 4), 0);
    EXPECT_EQ(b.capacity(), 1000u);
    EXPECT_TRUE(b.Reserve(10));
    EXPECT_EQ(b.capacity(), 1000u);
}

namespace {
struct Item {
    Item* list_next = nullptr;
    const char* name = nullptr;
};
struct Record {
    Record* next;
    const char* name;
};
}  // namespace

TEST(ObjectList, RemovalFromHeadMiddleTailAndOnly) {
    Item a, b, c;
    ObjectList<Item> list;
    ListAppend(list, &a);
    ListAppend(list, &b);
    ListAppend(list, &c);
    EXPECT_EQ(ListCount(list), 3u);
    EXPECT_EQ(ListIndexOf(list, &c), 2);
    ListRemove(list, &b);
    EXPECT_EQ(ListNext(&a), &c);
    ListRemove(list, &c);
    EXPECT_EQ(list.tail, &a);
    EXPECT_EQ(a.list_next, nullptr);
    Item stranger;
    ListRemove(list, &stranger);
    EXPECT_EQ(ListCount(list), 1u);
    ListRemove(list, &a);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.tail, nullptr);
    ListAppend(list, &b);
    EXPECT_EQ(list.head, &b);
    EXPECT_EQ(ListIndexOf(list, &a), -1);
}

TEST(ObjectList, FindIgnoresCaseAndSortIsByteOrder) {
    Item b, A, a, unnamed;
    b.name = "b";
    A.name = "A";
    a.name = "a";
    ObjectList<Item> list;
    for (Item* i : {&b, &A, &unnamed, &a}) ListAppend(list, i);
    EXPECT_EQ(ListFindByName(list, "B"), &b);
    EXPECT_EQ(ListFindByName(list, "A"), &A);  // first match wins
    EXPECT_EQ(ListFindByName(list, nullptr), nullptr);
    ListSortByName(list);
    EXPECT_EQ(list.head, &unnamed);
    EXPECT_EQ(ListNext(&unnamed), &A);
    EXPECT_EQ(ListNext(&A), &a);
    EXPECT_EQ(ListNext(&a), &b);
    EXPECT_EQ(list.tail, &b);
    EXPECT_EQ(b.list_next, nullptr);

    Record r3{nullptr, "three"}, r2{&r3, "Two"}, r1{&r2, "one"};
    EXPECT_EQ(ChainFindByName(&r1, "TWO"), &r2);
    EXPECT_EQ(ChainIndexOf(&r1, &r3), 2);
    EXPECT_EQ(ChainFindByName(&r1, "four"), nullptr);
}
