#include "engine/KeyedList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

namespace {

// The indexes must answer exactly as a walk of the list would, through removals (also while
// iterating), re-keying and ids that come back after their member left.
TEST(KeyedList, IndexesFollowRemovalRekeyAndReusedIds) {
    KeyedList<int> list;
    for (int i = 1; i <= 6; ++i) list.Create(i, "user" + std::to_string(i % 3), i * 10);
    // Removal during iteration: every member with an even id.
    for (auto it = list.begin(); it != list.end();) it = it->id % 2 == 0 ? list.Erase(it) : ++it;
    std::vector<int> order;
    for (const auto& n : list) order.push_back(n.id);
    EXPECT_EQ(order, (std::vector<int>{1, 3, 5}));
    EXPECT_EQ(list.FindId(2), nullptr);
    EXPECT_EQ(list.MaxId(), 5u);

    // An id that left comes back at the tail and is found there.
    list.Create(2, "USER1", 99);
    EXPECT_EQ(list.FindId(2)->data, 99);
    EXPECT_EQ(list.MaxId(), 5u);
    int named = 0;
    list.ForEachNamed("user1", true, [&](const auto& n) {
        EXPECT_EQ(n.id, named == 0 ? 1 : 2) << "matches come in list order";
        ++named;
    });
    EXPECT_EQ(named, 2);
    EXPECT_EQ(list.FindName("user1", false)->id, 1);
    EXPECT_EQ(list.FindName("USER1", false)->id, 2);

    // A rename keeps the member's place; its old name is no longer found.
    auto* three = list.FindId(3);
    auto* renamed = list.Rekey(three, 7, std::string("other"));
    ASSERT_NE(renamed, nullptr);
    EXPECT_EQ(renamed->data, 30);
    EXPECT_EQ(list.FindId(3), nullptr);
    EXPECT_EQ(list.FindId(7), renamed);
    EXPECT_EQ(list.FindName("user0", true), nullptr);
    order.clear();
    for (const auto& n : list) order.push_back(n.id);
    EXPECT_EQ(order, (std::vector<int>{1, 7, 5, 2}));
    EXPECT_EQ(list.MaxId(), 7u);

    // A copy has its own indexes.
    KeyedList<int> copy = list;
    list.Clear();
    EXPECT_EQ(list.FindName("other", true), nullptr);
    ASSERT_NE(copy.FindName("other", true), nullptr);
    EXPECT_EQ(copy.FindFirstId(7)->data, 30);
    EXPECT_TRUE(copy.Release(copy.FindId(7)));
    EXPECT_EQ(copy.FindName("other", true), nullptr);
    EXPECT_EQ(copy.Count(), 3u);
}

}  // namespace
