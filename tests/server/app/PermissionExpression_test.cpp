#include "server/app/PermissionExpression.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

bool Match(const char* expr, const char* user = "bob", const char* group = "staff",
           const char* flags = "3") {
    return MatchPermission(expr, user, group, flags);
}

TEST(PermissionExpression, EveryTermForm) {
    EXPECT_TRUE(Match("*"));
    EXPECT_TRUE(Match("-bob"));
    EXPECT_TRUE(Match("-BoB"));  // names without regard to case
    EXPECT_FALSE(Match("-alice"));
    EXPECT_FALSE(Match("-!bob *"));
    EXPECT_TRUE(Match("-!alice *"));
    EXPECT_TRUE(Match("=staff"));
    EXPECT_TRUE(Match("=STAFF"));
    EXPECT_FALSE(Match("=admins"));
    EXPECT_FALSE(Match("=!Staff *"));
    EXPECT_TRUE(Match("=!admins *"));
    EXPECT_FALSE(Match("!3 *"));
    EXPECT_TRUE(Match("!8 *"));
    EXPECT_TRUE(Match("3"));
    EXPECT_TRUE(Match("3xyz"));  // only the first character of a flag term counts
    EXPECT_FALSE(Match("x3"));
}

TEST(PermissionExpression, FirstMatchingTermDecides) {
    EXPECT_TRUE(Match("-bob -!bob"));
    EXPECT_FALSE(Match("-!bob -bob"));
    EXPECT_FALSE(Match("!3 3 *"));
    EXPECT_TRUE(Match("1 2 3 !3"));
    // Terms that do not apply are passed over.
    EXPECT_TRUE(Match("-alice =admins !8 *"));
    EXPECT_FALSE(Match("-alice =admins 1 2 7"));
}

TEST(PermissionExpression, DefaultsOfTheFxpSettings) {
    EXPECT_TRUE(Match("*", "anyone", "", ""));
    EXPECT_FALSE(Match("0", "anyone", "", "13"));
    EXPECT_TRUE(Match("0", "anyone", "", "03"));
}

TEST(PermissionExpression, FlagsAreExactCharacters) {
    EXPECT_FALSE(Match("a", "bob", "staff", "A"));
    EXPECT_TRUE(Match("A", "bob", "staff", "A"));
    EXPECT_TRUE(Match("!a *", "bob", "staff", "A"));
}

TEST(PermissionExpression, EmptyAndDegenerateTerms) {
    EXPECT_FALSE(Match(""));
    EXPECT_FALSE(Match("   \t "));
    EXPECT_TRUE(Match("  \t-bob\t\t"));  // runs of blanks separate terms
    // Bare signs name nobody and fall through to the next term.
    EXPECT_FALSE(Match("-"));
    EXPECT_FALSE(Match("="));
    EXPECT_FALSE(Match("-!"));
    EXPECT_FALSE(Match("=!"));
    EXPECT_TRUE(Match("- -! = =! *"));
    EXPECT_FALSE(Match("!"));  // a flag '!' nobody has
    EXPECT_TRUE(Match("!", "bob", "", "!"));
    // A user without a name or group is not matched by empty names.
    EXPECT_FALSE(MatchPermission("-", "", "", ""));
    EXPECT_FALSE(MatchPermission("= *x", "", "", ""));
}

}  // namespace
}  // namespace orvex
