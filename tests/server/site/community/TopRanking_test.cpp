#include "server/site/community/TopRanking.h"

#include <gtest/gtest.h>

#include <climits>

namespace orvex {
namespace {

TEST(TopRanking, KeepsTheBestAndTheFirstMetAmongEquals) {
    struct Case {
        std::vector<int32_t> keys;
        int count;
        std::vector<size_t> ranked;
    };
    const Case cases[] = {
        {{}, 10, {}},
        {{5, 1, 9}, 10, {2, 0, 1}},
        {{5, 1, 9}, 0, {}},
        {{5, 1, 9}, -3, {}},
        // Ties keep the order they were met in, both when kept and when printed.
        {{7, 7, 7, 7}, 3, {0, 1, 2}},
        // ... and the one given up for a larger key is the earliest of the smallest.
        {{1, 7, 0, 7, 7, 7, 9}, 3, {6, 3, 4}},
        {{2, 2, 1, 2}, 2, {0, 1}},
        // A full list gives up its smallest entry only for a larger key.
        {{3, 1, 2, 4, 1}, 2, {3, 0}},
        // Keys compare as signed numbers.
        {{static_cast<int32_t>(3000000000u), 5}, 1, {1}},
        {{INT32_MIN, INT32_MAX, 0}, 3, {1, 2, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RankTop(c.keys, c.count), c.ranked)
            << c.keys.size() << " keys, count " << c.count;
    }
}

TEST(TopRanking, CountAndKindFromTheArguments) {
    struct Case {
        Args args;
        int count, kind;
    };
    const Case cases[] = {
        {{"SITE", "ALDN"}, 10, 0},
        {{"SITE", "ALDN", "3"}, 3, 0},
        {{"SITE", "ALDN", "150"}, 99, 0},
        {{"SITE", "ALDN", "99"}, 99, 0},
        {{"SITE", "ALDN", "100"}, 99, 0},
        {{"SITE", "ALDN", "99999999999999999999"}, 99, 0},
        {{"SITE", "ALDN", "+4"}, 4, 0},
        {{"SITE", "ALDN", "-4"}, 0, 0},
        {{"SITE", "ALDN", "local"}, 10, 1},
        {{"SITE", "ALDN", "REMOTE"}, 10, 2},
        {{"SITE", "ALDN", "elsewhere"}, 10, 0},
        {{"SITE", "ALDN", "5", "remote"}, 5, 2},
        {{"SITE", "ALDN", "5", "Local", "x"}, 5, 1},
        {{"SITE", "ALDN", "5", "nearby"}, 5, 0},
        {{"SITE", "ALDN", "local", "5"}, 10, 1},
        {{"SITE", "ALDN", "5x"}, 10, 0},
        {{"SITE", "ALDN", "-"}, 10, 0},
    };
    for (const Case& c : cases) {
        const TopArgs top = ParseTopArgs(c.args);
        EXPECT_EQ(top.count, c.count) << c.args.back();
        EXPECT_EQ(top.kind, c.kind) << c.args.back();
    }
}

}  // namespace
}  // namespace orvex
