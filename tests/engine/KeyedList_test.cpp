#include "engine/KeyedList.h"

#include <gtest/gtest.h>

using orvex::KeyedList;

namespace {

TEST(KeyedList, IdSearchWalksFromTailAndStopsAtIdZero) {
    KeyedList<int> list("Response Lines List");
    list.Create(5, "first", 1);
    list.Create(0, std::nullopt, 2);  // a barrier for the id search
    list.Create(7, "third", 3);
    list.Create(5, "fourth", 4);

    auto* n = list.FindId(5);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->data, 4) << "the search runs backwards, so the last 5 wins";
    ASSERT_NE(list.FindId(7), nullptr);
    EXPECT_EQ(list.FindId(7)->data, 3);
    // The first 5 sits before the id-0 member and is never reached.
    list.Release(n);
    EXPECT_EQ(list.FindId(5), nullptr);
    EXPECT_EQ(list.FindId(99), nullptr);

    auto* zero = list.FindId(0);
    ASSERT_NE(zero, nullptr);
    EXPECT_EQ(zero->data, 2);
}

TEST(KeyedList, IdSearchOnEmptyListAndZeroWithoutZeroMember) {
    KeyedList<int> list;
    EXPECT_EQ(list.FindId(0), nullptr);
    EXPECT_EQ(list.FindId(1), nullptr);
    list.Create(1, "a");
    EXPECT_EQ(list.FindId(0), nullptr);
}

TEST(KeyedList, NameSearchHonoursCaseFlagAndSkipsUnnamed) {
    KeyedList<int> list;
    list.Create(1, std::nullopt, 10);
    list.Create(2, "ABC", 20);
    list.Create(3, "abc", 30);
    list.Create(4, "", 40);

    EXPECT_EQ(list.FindName("abc", false)->data, 30);
    EXPECT_EQ(list.FindName("ABC", false)->data, 20);
    EXPECT_EQ(list.FindName("abc", true)->data, 20) << "first match from the head";
    EXPECT_EQ(list.FindName("aBd", true), nullptr);
    EXPECT_EQ(list.FindName("ab", true), nullptr);
    EXPECT_EQ(list.FindName("", false)->data, 40);

    KeyedList<int> upperOnly;
    upperOnly.Create(1, "ABC");
    EXPECT_EQ(upperOnly.FindName("abc", false), nullptr);
    EXPECT_NE(upperOnly.FindName("abc", true), nullptr);
}

TEST(KeyedList, CountMaxIdAndRelease) {
    KeyedList<int> list;
    EXPECT_EQ(list.MaxId(), 0u);
    auto& a = list.Create(3, "a");
    list.Create(-1, "b");  // compared as unsigned
    list.Create(9, "c");
    EXPECT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.MaxId(), 0xffffffffu);

    KeyedList<int> other;
    auto& foreign = other.Create(1, "x");
    EXPECT_FALSE(list.Release(&foreign));
    EXPECT_TRUE(list.Release(&a));
    EXPECT_FALSE(list.Release(&a));
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.begin()->name, "b") << "insertion order is kept";
    list.Clear();
    EXPECT_TRUE(list.Empty());
}

}  // namespace
