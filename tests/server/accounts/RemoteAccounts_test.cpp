#include <gtest/gtest.h>

#include "AccountsTestDir.h"
#include "engine/Clock.h"
#include "engine/os/AtomicFile.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/PasswordCipher.h"

namespace orvex {
namespace {

using testing::ScratchDir;

constexpr const char* kHeader = "# Username;UserID;GroupID;DateAdded\n#\n";

class RemoteAccountsTest : public ::testing::Test {
  protected:
    void Use(const std::string& text) {
        dir.Write("etc/remote.passwd", text);
        store.ConfigureRemote(dir.Internal("etc/remote.passwd"));
        ASSERT_TRUE(store.LoadRemoteAccounts());
    }
    ScratchDir dir;
    AccountStore store;
};

TEST_F(RemoteAccountsTest, ReadsOnlySharedNamesAndKeepsTheFirst) {
    Use(std::string(kHeader) +
        "bob$10.0.0.1$21;1000000005;100;01-02-25\n"
        "BOB$10.0.0.1$21;1000000009;100;01-02-25\n"  // the first spelling wins
        "local;1000000006;100;01-02-25\n"            // no shared name: never a file name
        "eve$..$21;1000000007;100;01-02-25\n"        // no ".." in a home address
        "short$1.2.3.4$21;1000000008;100\n"          // too few fields
        "tab$1.2.3.4$21\t7\t100\t01-02-25\n");
    const auto bob = store.GetRemoteLogin("bob$10.0.0.1$21");
    ASSERT_TRUE(bob);
    EXPECT_EQ(bob->account.uid, "1000000005");
    EXPECT_EQ(bob->expiry, 0);
    EXPECT_EQ(store.UserIdOf("bob$10.0.0.1$21"), 1000000005);
    // A small id is numbered as the first remote id.
    EXPECT_EQ(store.UserIdOf("tab$1.2.3.4$21"), 1000000000);
    for (const char* name : {"local", "eve$..$21", "short$1.2.3.4$21"})
        EXPECT_FALSE(store.GetRemoteLogin(name)) << name;
}

// One session of a shared user's entry: created by the first login, its password good for one
// attempt, its group stored, and deleted with the user; every write keeps the file whole.
TEST_F(RemoteAccountsTest, EntryLifecycleKeepsTheFileWhole) {
    // A hand edit left the last line without its line feed.
    Use(std::string(kHeader) + "old$10.0.0.1$21;1000000001;100;01-02-25");
    const std::string name = "bob$10.0.0.2$2121";
    EXPECT_FALSE(store.AddRemoteLogin("bob", "x", 1, "/"));  // no shared name
    const int64_t expiry = Clock::NowSeconds() + 30;
    ASSERT_TRUE(store.AddRemoteLogin(name, StoredPassword("bob", "PW"), expiry, "\\home\\"));
    const std::string text = dir.Read("etc/remote.passwd");
    EXPECT_NE(
        text.find("old$10.0.0.1$21;1000000001;100;01-02-25\nbob$10.0.0.2$2121;1000000002;100;"),
        std::string::npos)
        << text;
    // Neither the password nor the home reaches the file.
    EXPECT_EQ(text.find("\\home"), std::string::npos);

    auto entry = store.GetRemoteLogin(name);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->expiry, expiry);
    EXPECT_TRUE(VerifyPassword(entry->account.password, "bob", "PW"));
    EXPECT_TRUE(store.ExpireRemoteLogin(name));
    EXPECT_EQ(store.GetRemoteLogin(name)->expiry, 0);
    // A second login of the same name keeps its id.
    ASSERT_TRUE(store.AddRemoteLogin(name, "y", expiry, "\\"));
    EXPECT_EQ(store.GetRemoteLogin(name)->account.uid, "1000000002");

    // A rewrite that stops before its rename leaves the old file as it was.
    InterruptRewritesForTesting(true);
    EXPECT_FALSE(store.SetRemoteGroup(name, 333));
    InterruptRewritesForTesting(false);
    EXPECT_NE(dir.Read("etc/remote.passwd").find("bob$10.0.0.2$2121;1000000002;100;"),
              std::string::npos);
    ASSERT_TRUE(store.SetRemoteGroup(name, 333));
    EXPECT_NE(dir.Read("etc/remote.passwd").find("bob$10.0.0.2$2121;1000000002;333;"),
              std::string::npos);

    // An edit of the file by hand drops the passwords held in memory.
    dir.Write("etc/remote.passwd", dir.Read("etc/remote.passwd") + "\n");
    EXPECT_EQ(store.GetRemoteLogin(name)->expiry, 0);
    ASSERT_TRUE(store.DeleteRemoteLogin(name));
    EXPECT_EQ(dir.Read("etc/remote.passwd"),
              std::string(kHeader) + "old$10.0.0.1$21;1000000001;100;01-02-25\n");
}

TEST_F(RemoteAccountsTest, FirstSharedUserCreatesTheFile) {
    store.ConfigureRemote(dir.Internal("etc/remote.passwd"));
    dir.MakeDir("etc");
    ASSERT_TRUE(store.AddRemoteLogin("amy$1.2.3.4$21", "x", 1, "\\"));
    EXPECT_EQ(dir.Read("etc/remote.passwd").rfind(std::string(kHeader) + "amy$1.2.3.4$21;", 0), 0u);
}

}  // namespace
}  // namespace orvex
