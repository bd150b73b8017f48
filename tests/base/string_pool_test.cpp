#include "base/string_pool.h"

#include <gtest/gtest.h>

#include <string>

TEST(StringPool, InternsOnceAndNeverMatchesAPrefix) {
    StringPool pool;
    const char* a = pool.Intern("door");
    EXPECT_EQ(pool.Intern("door"), a);
    EXPECT_EQ(pool.Count(), 1u);
    const char* longer = pool.Intern("doorway");
    const char* shorter = pool.Intern("do");
    EXPECT_NE(longer, a);
    EXPECT_NE(shorter, a);
    EXPECT_STREQ(shorter, "do");
    EXPECT_EQ(pool.Count(), 3u);
    EXPECT_EQ(pool.Intern(nullptr), nullptr);
    // Bytes with an embedded zero are their own entry.
    const char* z = pool.InternBytes("a\0b", 3);
    EXPECT_NE(z, pool.Intern("a"));
    EXPECT_EQ(pool.Find("a\0b", 3)->text, z);
}

TEST(StringPool, ManyEntriesSurviveIndexGrowthAndClear) {
    StringPool pool;
    std::vector<const char*> stored;
    for (int i = 0; i < 5000; ++i) stored.push_back(pool.Intern(("name" + std::to_string(i)).c_str()));
    for (int i = 0; i < 5000; i += 97) EXPECT_EQ(pool.Intern(("name" + std::to_string(i)).c_str()), stored[i]);
    EXPECT_EQ(pool.Count(), 5000u);
    EXPECT_STREQ(pool.First()->text, "name4999");  // newest first
    pool.Clear();
    EXPECT_EQ(pool.Count(), 0u);
    EXPECT_EQ(pool.Find("name1", 5), nullptr);
    EXPECT_STREQ(pool.Intern("again"), "again");
}

TEST(StringPool, SortedPoolKeepsOrderAndFirstSpelling) {
    StringPool pool;
    const char* first = pool.InternSorted("Apple");
    pool.InternSorted("cherry");
    pool.InternSorted("banana");
    EXPECT_EQ(pool.InternSorted("apple"), first);
    EXPECT_EQ(pool.Count(), 3u);
    std::string order;
    for (auto* e = pool.First(); e; e = e->next) order += std::string(e->text) + " ";
    EXPECT_EQ(order, "Apple banana cherry ");
}
