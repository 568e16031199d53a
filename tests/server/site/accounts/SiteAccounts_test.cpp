#include "server/site/accounts/SiteAccounts.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

TEST(SiteAccounts, FlagAndPermissionEdits) {
    struct Case {
        const char* current;
        const char* edit;
        size_t max;
        bool flags;
        std::optional<std::string> result;
    };
    const Case cases[] = {
        {"8", "+1-8", 79, true, "1"},        {"17", "-7+2a", 79, true, "12A"},
        {"1", "1", 79, true, std::nullopt},  {"1", "", 79, true, std::nullopt},
        {"aab", "-a", 79, false, "ab"},  // the first occurrence only
        {"lvcp", "-L+Z", 15, false, "vcpz"}, {"abc", "+abc", 15, false, "abc"},
        {"a", "+ b!c", 15, false, "abc"},    {"abc", "+def", 4, false, "abcd"},
        {"", "-x", 15, false, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(site::EditLetters(c.current, c.edit, c.max, c.flags), c.result) << c.edit;
}

}  // namespace
}  // namespace orvex
