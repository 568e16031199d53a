#include <gtest/gtest.h>

#include <set>

#include "server/session/SiteSession.h"

namespace orvex {
namespace {

TEST(ProvisionalNumber, RunsFromMinus99ToMinus2ThenStartsAgain) {
    EXPECT_EQ(SiteSession::NextProvisionalNumber(), -99);
    std::set<int32_t> seen{-99};
    int32_t last = -99;
    for (int i = 2; i <= 98; ++i) {
        last = SiteSession::NextProvisionalNumber();
        seen.insert(last);
    }
    EXPECT_EQ(last, -2);
    EXPECT_EQ(seen.size(), 98u);
    EXPECT_EQ(SiteSession::NextProvisionalNumber(), -99);  // the 99th
    EXPECT_EQ(SiteSession::NextProvisionalNumber(), -98);
}

}  // namespace
}  // namespace orvex
