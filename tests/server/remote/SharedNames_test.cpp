#include "server/remote/SharedNames.h"

#include <gtest/gtest.h>

#include <set>

#include "server/accounts/UserName.h"

namespace orvex {
namespace {

TEST(SharedNames, NamesAndTheirParts) {
    EXPECT_EQ(MakeSharedName("bob", "10.0.0.2", 2121), "bob$10.0.0.2$2121");
    EXPECT_EQ(MakeSharedName("bob$1.1.1.1$21", "10.0.0.2", 2121), "bob$1.1.1.1$21");
    EXPECT_EQ(MakeSharedName("bob", "", 21), "bob");
    const auto parts = SplitSharedName("bob$10.0.0.2$2121");
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->user, "bob");
    EXPECT_EQ(parts->server, "10.0.0.2");
    EXPECT_EQ(parts->port, 2121u);
    // Whatever another server sends must never name a file outside the users folder.
    for (const char* bad :
         {"bob", "bob$$21", "../x$1.2.3.4$21", "bob$../../etc$21", "bob$a/b$21", "bob$a\\b$21",
          "bob$..$21", "bob$1.2.3.4$99999", "bob$1.2.3.4$", "1bob$1.2.3.4$21", "bob$10.0.0.2$70000",
          "bob$1.2.3.4$0", "bob$1.2.3.4$4294967317"}) {
        EXPECT_FALSE(SplitSharedName(bad)) << bad;
        // One rule for the port: what the name check takes, the split takes too.
        EXPECT_FALSE(IsValidSharedName(bad)) << bad;
    }
    EXPECT_EQ(SplitSharedName("bob$1.2.3.4$65535")->port, 65535u);
}

TEST(SharedNames, MessageFields) {
    EXPECT_TRUE(IsIpAddress("127.0.0.3"));
    for (const char* bad : {"", "localhost", "1.2.3", "1.2.3.4/5", "../1.2.3.4", "256.1.1.1"})
        EXPECT_FALSE(IsIpAddress(bad)) << bad;
    EXPECT_EQ(ReadPort("0"), 0u);
    EXPECT_EQ(ReadPort("65535"), 65535u);
    EXPECT_FALSE(ReadPort("65536"));
    EXPECT_FALSE(ReadPort("-1"));
    EXPECT_FALSE(ReadPort("21x"));
    EXPECT_EQ(ReadTimestamp("1700000000"), 1700000000);
    EXPECT_FALSE(ReadTimestamp("17e8"));
    EXPECT_EQ(ParenthesizedText("User 'a' is valid (ABCDEFGHIJKLMNOPQRS).", 16),
              "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(ParenthesizedText("Command successful (F00D).", 32), "F00D");
    EXPECT_EQ(ParenthesizedText("open (no close", 32), "no close");
    EXPECT_FALSE(ParenthesizedText("no parentheses", 32));
}

TEST(SharedNames, TemporaryPasswordsAreUnpredictable) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const auto p = MakeTemporaryPassword();
        ASSERT_TRUE(p);
        ASSERT_EQ(p->size(), kTemporaryPasswordLength);
        for (char c : *p) ASSERT_TRUE(c >= 'A' && c <= 'Y') << *p;
        seen.insert(*p);
    }
    // Made within the same second, as a seed of the name and the time would make them equal.
    EXPECT_EQ(seen.size(), 50u);
}

}  // namespace
}  // namespace orvex
