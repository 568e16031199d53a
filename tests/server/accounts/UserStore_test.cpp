#include "server/accounts/UserStore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "AccountsTestDir.h"
#include "engine/os/FileLock.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/GroupStore.h"
#include "server/accounts/PasswordCipher.h"
#include "server/accounts/UserName.h"

namespace orvex {
namespace {

using testing::LogLines;
using testing::ScratchDir;

std::string UserText(int ratio, const std::string& extra = {}) {
    return "USER test\nGENERAL 0 2 0 0\nPERMISSIONS lcd\nRATIO " + std::to_string(ratio) +
           "\nIP *\n" + extra;
}

class UserStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.MakeDir("home/admin");
        dir.Write("etc/passwd",
                  "admin;" + StoredPassword("admin", "pw") + ";101;100;01-01-20;./home/admin/\n");
        dir.Write("etc/group", "staff;Staff;300;0\n");
        dir.Write("users/admin", UserText(0, "FLAGS 1\n"));
        dir.Write("users/bob", UserText(3));
        accounts.Configure(dir.Internal("etc/passwd"), dir.Internal(), dir.Internal("home/"));
        groups.Configure(dir.Internal("etc/group"));
        users.Configure(dir.Internal("users/"), {"10.1.1.1", 21});
        ASSERT_TRUE(accounts.LoadAccounts());
        ASSERT_TRUE(groups.LoadGroups());
    }
    // Rewrites a user file with the given stamp, as an edit within the same second would.
    void WriteWithStamp(const std::string& rel, const std::string& text, const timespec& mtime) {
        dir.Write(rel, text);
        const timespec times[2] = {mtime, mtime};
        ASSERT_EQ(utimensat(AT_FDCWD, dir.Os(rel).c_str(), times, 0), 0);
    }
    timespec MTime(const std::string& rel) {
        struct stat st {};
        stat(dir.Os(rel).c_str(), &st);
        return st.st_mtim;
    }

    ScratchDir dir;
    LogLines log;
    AccountStore accounts;
    GroupStore groups;
    UserStore users{&accounts, &groups, log.Sink()};
};

TEST(UserNames, LocalAndSharedForms) {
    EXPECT_TRUE(IsValidUserName("bob"));
    EXPECT_TRUE(IsValidUserName("B0b_x-y"));
    EXPECT_TRUE(IsValidUserName("abcdefghijklmnop"));
    EXPECT_TRUE(IsValidUserName("bob$192.168.0.1$2121"));
    EXPECT_TRUE(IsValidUserName("bob$ftp.example-site.org$21"));
    for (const char* bad : {"", "abcdefghijklmnopq", "1bob", "_bob", "../x", "a/b", "a\\b", "..",
                            "bob.bak", "bob$", "bob$$21", "bob$host", "bob$a/b$21", "bob$..\\x$21",
                            "bob$host$21$x", "bob$host$2a", "../x$host$21", "bob smith"})
        EXPECT_FALSE(IsValidUserName(bad)) << bad;
    EXPECT_FALSE(IsValidUserName("bob$" + std::string(60, 'h') + "$21"));
    EXPECT_EQ(BaseUserName("bob$host$21"), "bob");
    EXPECT_EQ(BaseUserName("abcdefghijklmnopqrs$x"), "abcdefghijklmnop");
}

TEST_F(UserStoreTest, StartUpLoadSkipsTemplatesTemporariesAndBadFiles) {
    dir.Write("users/default.user", UserText(1));
    dir.Write("users/bob.bak", UserText(1));
    dir.Write("users/.bob.4711.0", UserText(1));
    dir.Write("users/ann$10.0.0.9$2121", UserText(2));
    dir.Write("users/1bad", UserText(1));
    dir.Write("users/nogeneral", "USER x\nRATIO 1\n");
    ASSERT_TRUE(users.LoadUsers());

    auto all = users.ListUsers(UserStore::kAllUsers);
    EXPECT_EQ(all.ListName(), "userlist header");
    EXPECT_EQ(all.Count(), 3u);
    EXPECT_EQ(users.ListUsers(UserStore::kLocalUsers).Count(), 2u);
    auto shared = users.ListUsers(UserStore::kSharedUsers);
    ASSERT_EQ(shared.Count(), 1u);
    EXPECT_EQ(shared.begin()->data.homeServer, "10.0.0.9");
    EXPECT_EQ(shared.begin()->data.homePort, 2121u);
    EXPECT_EQ(users.FindUser("bob")->homeServer, "10.1.1.1");

    EXPECT_TRUE(log.Has("WARNING: '1bad' is an invalid user file name."));
    EXPECT_TRUE(log.Has("WARNING: unable to open file " + dir.Internal("users/nogeneral") +
                        " for reading."));
    EXPECT_EQ(log.lines.size(), 2u);
    EXPECT_FALSE(users.FindUser("nogeneral"));
}

TEST_F(UserStoreTest, MissingFolderStillSucceeds) {
    users.Configure(dir.Internal("nowhere/"), {});
    EXPECT_TRUE(users.LoadUsers());
    EXPECT_TRUE(log.Has("WARNING: unable open users directory '" + dir.Internal("nowhere/") +
                        "' for listing."));
    EXPECT_TRUE(log.Has("WARNING: no users could be loaded."));
    UserStore unconfigured(nullptr, nullptr);
    EXPECT_FALSE(unconfigured.LoadUsers());
}

TEST_F(UserStoreTest, LookupIgnoresCaseAndWritesUnderTheStoredSpelling) {
    ASSERT_TRUE(users.LoadUsers());
    std::string stored;
    ASSERT_TRUE(users.FindUser("BOB", &stored));
    EXPECT_EQ(stored, "bob");

    dir.Write("users/Carl", UserText(5));  // appears after start-up
    auto carl = users.FindUser("cARL", &stored);
    ASSERT_TRUE(carl);
    EXPECT_EQ(stored, "Carl");
    EXPECT_EQ(carl->ratio, 5u);
    carl->ratio = 6;
    ASSERT_TRUE(users.SaveUser(*carl, 0, "CARL"));
    EXPECT_FALSE(dir.Exists("users/CARL"));
    EXPECT_NE(dir.Read("users/Carl").find("RATIO 6\n"), std::string::npos);

    // A file the store has not seen yet is found in any case too.
    dir.Write("users/Dora", UserText(1));
    ASSERT_TRUE(users.HasUser("DORA", &stored));
    EXPECT_EQ(stored, "Dora");
}

TEST_F(UserStoreTest, InvalidNamesNeverReachTheDisk) {
    ASSERT_TRUE(users.LoadUsers());
    dir.Write("secret", UserText(9));
    dir.Write("users/sub/x", UserText(9));
    dir.Write("users/abcdefghijklmnopq", UserText(9));
    for (const char* name : {"../secret", "..\\secret", "sub/x", "sub\\x", "abcdefghijklmnopq",
                             "x$../..$21", "/etc/passwd"}) {
        EXPECT_FALSE(users.FindUser(name)) << name;
        EXPECT_FALSE(users.HasUser(name)) << name;
        EXPECT_FALSE(users.SaveUser(UserRecord{}, 0, name)) << name;
        EXPECT_EQ(users.UpdateUser(name, [](UserRecord&) { return true; }),
                  UserStore::Update::Unknown);
    }
    EXPECT_EQ(dir.Read("secret"), UserText(9));
    EXPECT_EQ(dir.Read("users/sub/x"), UserText(9));
    EXPECT_EQ(dir.List("users").size(), 4u);  // admin, bob, sub, the long name
}

TEST_F(UserStoreTest, HandEditsAreReadAtTheNextLookup) {
    ASSERT_TRUE(users.LoadUsers());
    // Same size and the same second: only the nanoseconds differ.
    timespec t = MTime("users/bob");
    t.tv_nsec = (t.tv_nsec + 1) % 1000000000;
    WriteWithStamp("users/bob", UserText(7), t);
    EXPECT_EQ(users.FindUser("bob")->ratio, 7u);
    EXPECT_EQ(users.GetDownloadSpeedLimit("bob"), 0u);
    dir.Write("users/bob", "GENERAL 0 0 5000 6000\n");
    EXPECT_EQ(users.GetDownloadSpeedLimit("bob"), 5000u);
    EXPECT_EQ(users.GetUploadSpeedLimit("Bob"), 6000u);
    EXPECT_EQ(users.GetUploadSpeedLimit("nobody"), 0u);
}

TEST_F(UserStoreTest, BrokenEditKeepsTheRecordAndIsTriedAgain) {
    ASSERT_TRUE(users.LoadUsers());
    const std::string broken = "USER abcdefghij\nRATIO 8\n";  // no GENERAL line
    const std::string repaired = "GENERAL 1 2 3 4\nRATIO 8\n";
    ASSERT_EQ(broken.size(), repaired.size());
    dir.Write("users/bob", broken);
    const timespec brokenTime = MTime("users/bob");
    auto bob = users.FindUser("bob");
    ASSERT_TRUE(bob);
    EXPECT_EQ(bob->ratio, 3u);
    EXPECT_EQ(bob->maxLogins, 2);
    // Same size and time as the broken file: a store that had recorded those would never read it.
    WriteWithStamp("users/bob", repaired, brokenTime);
    bob = users.FindUser("bob");
    ASSERT_TRUE(bob);
    EXPECT_EQ(bob->ratio, 8u);
    EXPECT_EQ(bob->weeklyAllotment, 1);
}

TEST_F(UserStoreTest, SaveFailureIsLoggedAndKeepsTheChangeInMemory) {
    ASSERT_TRUE(users.LoadUsers());
    auto bob = users.FindUser("bob");
    std::filesystem::remove_all(dir.Os("users"));
    bob->credits = 77;
    EXPECT_FALSE(users.SaveUser(*bob, 0, "bob"));
    EXPECT_TRUE(log.Has("WARNING: unable to open user file '" + dir.Internal("users/bob") +
                        "' for writing."));
    EXPECT_EQ(users.FindUser("bob")->credits, 77);
    dir.MakeDir("users");
    EXPECT_TRUE(users.SaveUser(*users.FindUser("bob"), 0, "bob"));
    EXPECT_NE(dir.Read("users/bob").find("CREDITS 77\n"), std::string::npos);
}

TEST_F(UserStoreTest, AddUserFromTemplatesWithPasswdEntry) {
    ASSERT_TRUE(users.LoadUsers());
    dir.Write("users/default.user", "GENERAL 1 1 1 1\nRATIO 3\nPERMISSIONS lcd\n");
    dir.Write("users/default.staff", "GENERAL 2 2 2 2\nRATIO 0\nFLAGS 4\n");
    EXPECT_EQ(users.AddUser("9lives", "pw", "admin", "", false), 0);
    EXPECT_EQ(users.AddUser("bob$host$21", "pw", "admin", "", false), 0);

    ASSERT_EQ(users.AddUser("carl", "secret", "admin", "staff", true), 1);
    auto carl = users.FindUser("carl");
    ASSERT_TRUE(carl);
    EXPECT_EQ(carl->comment, "Added by admin");
    EXPECT_EQ(carl->group, "staff");
    EXPECT_EQ(carl->flags, "4");
    EXPECT_EQ(carl->weeklyAllotment, 2);
    auto acc = accounts.FindAccount("carl");
    ASSERT_TRUE(acc);
    EXPECT_EQ(acc->gid, "300");
    EXPECT_EQ(acc->uid, "102");
    EXPECT_EQ(acc->home, dir.Internal("home/admin/"));
    EXPECT_TRUE(VerifyPassword(acc->password, "carl", "secret"));

    ASSERT_EQ(users.AddUser("dora", "pw", "", "nosuchgroup", false), 1);
    EXPECT_EQ(users.FindUser("dora")->ratio, 3u);  // default.user
    EXPECT_EQ(accounts.FindAccount("dora")->gid, "100");
    EXPECT_EQ(accounts.FindAccount("dora")->home, dir.Internal("home/"));

    std::filesystem::remove(dir.Os("users/default.user"));
    ASSERT_EQ(users.AddUser("eve", "pw", "", "", false), 1);
    EXPECT_EQ(users.FindUser("eve")->maxDownloads, 0);  // no template: all zero
    EXPECT_EQ(users.FindUser("eve")->permissions, "");
}

TEST_F(UserStoreTest, AddUserRefusesWhatExistsAndUndoesFailures) {
    ASSERT_TRUE(users.LoadUsers());
    EXPECT_EQ(users.AddUser("BOB", "pw", "", "", false), 2);  // listed
    dir.Write("users/Fred", "not a user file\n");
    EXPECT_EQ(users.AddUser("fred", "pw", "", "", false), 2);  // an unreadable file is kept
    EXPECT_EQ(dir.Read("users/Fred"), "not a user file\n");
    EXPECT_FALSE(accounts.FindAccount("fred"));

    // A passwd entry without a user file.
    ASSERT_EQ(accounts.AddAccount("gina", "pw", 100, ""), 1);
    EXPECT_EQ(users.AddUser("gina", "pw", "", "", false), 2);
    EXPECT_FALSE(dir.Exists("users/gina"));

    // The passwd line cannot be added: no user is left behind.
    std::filesystem::remove(dir.Os("etc/passwd"));
    dir.MakeDir("etc/passwd");
    EXPECT_EQ(users.AddUser("hank", "pw", "", "", false), 0);
    EXPECT_FALSE(dir.Exists("users/hank"));
    EXPECT_FALSE(users.HasUser("hank"));
}

TEST_F(UserStoreTest, DeleteAndRename) {
    ASSERT_TRUE(users.LoadUsers());
    ASSERT_EQ(users.AddUser("carl", "pw", "", "", false), 1);
    EXPECT_EQ(users.RenameUser("carl", "BOB"), 2);
    EXPECT_EQ(users.RenameUser("carl", "../x"), 0);
    EXPECT_EQ(users.RenameUser("nobody", "zed"), 0);
    ASSERT_EQ(users.RenameUser("CARL", "karl"), 1);
    EXPECT_TRUE(dir.Exists("users/karl"));
    EXPECT_FALSE(dir.Exists("users/carl"));
    EXPECT_EQ(accounts.UserIdOf("karl"), 102);
    ASSERT_EQ(users.RenameUser("karl", "Karl"), 1);  // a change of case only
    std::string stored;
    ASSERT_TRUE(users.FindUser("karl", &stored));
    EXPECT_EQ(stored, "Karl");
    EXPECT_TRUE(dir.Exists("users/Karl"));

    // bob has no passwd entry: the file is renamed back.
    EXPECT_EQ(users.RenameUser("bob", "robert"), 0);
    EXPECT_TRUE(dir.Exists("users/bob"));
    EXPECT_FALSE(dir.Exists("users/robert"));

    ASSERT_TRUE(users.DeleteUser("KARL"));
    EXPECT_FALSE(dir.Exists("users/Karl"));
    EXPECT_FALSE(users.FindUser("karl"));
    EXPECT_FALSE(accounts.FindAccount("karl"));
    EXPECT_FALSE(users.DeleteUser("karl"));
}

TEST_F(UserStoreTest, ConcurrentUpdatesLoseNoChange) {
    ASSERT_TRUE(users.LoadUsers());
    constexpr int kThreads = 6, kEach = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this] {
            for (int i = 0; i < kEach; ++i) {
                users.UpdateUser("bob", [](UserRecord& r) {
                    r.credits += 1;
                    return true;
                });
                users.RecordLogin(1, "BOB", 1700000000);
            }
        });
    for (auto& th : threads) th.join();
    auto bob = users.FindUser("bob");
    EXPECT_EQ(bob->credits, kThreads * kEach);
    EXPECT_EQ(bob->loginCount, uint32_t(kThreads * kEach));
    EXPECT_EQ(bob->lastLogin, 1700000000u);
    UserStore fresh(nullptr, nullptr);
    fresh.Configure(dir.Internal("users/"), {});
    EXPECT_EQ(fresh.FindUser("bob")->credits, kThreads * kEach);
}

// A login counted while an operator deletes or renames the user (the count waits for the file's
// lock the operator holds) never brings the old file back.
TEST_F(UserStoreTest, CountersNeverBringBackARemovedUserFile) {
    ASSERT_TRUE(users.LoadUsers());
    SetFileLockWaitForTesting(5000);
    for (const bool rename : {false, true}) {
        ASSERT_EQ(users.AddUser("carl", "pw", "", "", false), 1);
        bool done = false;
        std::thread counting;
        {
            const FileLock operatorLock(dir.Internal("users/carl"));
            counting = std::thread([this] { users.RecordLogin(1, "carl", 1700000000); });
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            done = rename ? users.RenameUser("carl", "karl") == 1 : users.DeleteUser("carl");
        }
        counting.join();
        EXPECT_TRUE(done) << rename;
        EXPECT_FALSE(dir.Exists("users/carl")) << rename;
        EXPECT_EQ(dir.Exists("users/karl"), rename);
        if (rename) {
            EXPECT_TRUE(users.DeleteUser("karl"));
        }
    }
    SetFileLockWaitForTesting(-1);
}

// An editor that ignores the lock writes the file while the server's update is on its way to the
// disk: the update reads the edit and applies its change on top instead of replacing it.
TEST_F(UserStoreTest, EditDuringAnUpdateIsReadAndKept) {
    ASSERT_TRUE(users.LoadUsers());
    int calls = 0;
    auto editFirstTime = [&](UserRecord& r) {
        if (++calls == 1) dir.Write("users/bob", UserText(3, "TAGLINE hand edit\nCREDITS 500\n"));
        r.credits += 1;
        return true;
    };
    EXPECT_EQ(users.UpdateUser("bob", editFirstTime), UserStore::Update::Saved);
    EXPECT_EQ(calls, 2);
    std::string text = dir.Read("users/bob");
    EXPECT_NE(text.find("TAGLINE hand edit\n"), std::string::npos) << text;
    EXPECT_NE(text.find("CREDITS 501\n"), std::string::npos) << text;
    EXPECT_EQ(users.FindUser("bob")->credits, 501);

    // A file that changes at every try is left to its editor.
    int edits = 0;
    auto editEveryTime = [&](UserRecord& r) {
        dir.Write("users/bob", UserText(3, "CREDITS " + std::to_string(++edits) + "\n"));
        r.credits = 9999;
        return true;
    };
    EXPECT_EQ(users.UpdateUser("bob", editEveryTime), UserStore::Update::WriteFailed);
    EXPECT_EQ(edits, 3);
    EXPECT_EQ(dir.Read("users/bob"), UserText(3, "CREDITS 3\n"));
    EXPECT_TRUE(log.Has("WARNING: user file '" + dir.Internal("users/bob") +
                        "' kept changing; left as it is."));
    EXPECT_EQ(users.FindUser("bob")->credits, 3);

    // Another program holding the file's lock too long: the update gives up, file untouched.
    SetFileLockWaitForTesting(50);
    {
        std::atomic<bool> held{false}, done{false};
        std::thread other([&] {
            FileLock lock(dir.Internal("users/bob"));
            held = true;
            while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        while (!held) std::this_thread::yield();
        EXPECT_FALSE(users.RecordLogin(1, "bob"));
        done = true;
        other.join();
    }
    SetFileLockWaitForTesting(-1);
    EXPECT_EQ(dir.Read("users/bob"), UserText(3, "CREDITS 3\n"));
    EXPECT_TRUE(log.Has("WARNING: unable to lock file " + dir.Internal("users/bob") + "."));
}

TEST_F(UserStoreTest, UpdateResultsAndPropagation) {
    ASSERT_TRUE(users.LoadUsers());
    std::vector<std::pair<uint32_t, std::string>> seen;
    users.SetPropagateHook(
        [&](uint32_t c, const std::string& n, const UserRecord&) { seen.emplace_back(c, n); });
    EXPECT_EQ(users.UpdateUser(
                  "Bob", [](UserRecord&) { return false; }, 3),
              UserStore::Update::Unchanged);
    EXPECT_EQ(users.UpdateUser(
                  "nobody", [](UserRecord&) { return true; }, 3),
              UserStore::Update::Unknown);
    EXPECT_EQ(users.UpdateUser("Bob", [](UserRecord&) { return true; }), UserStore::Update::Saved);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(users.UpdateUser(
                  "Bob", [](UserRecord&) { return true; }, 3),
              UserStore::Update::Saved);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], std::make_pair(3u, std::string("bob")));
}

TEST_F(UserStoreTest, SessionLimits) {
    dir.Write("users/idle", UserText(0, "USET 60\nTIME 0 0 2 0\n"));
    const int64_t login = 1000000, now = login + 100;
    EXPECT_TRUE(users.CheckSessionLimits("idle", now - 59, now - 10, 0, now));
    EXPECT_FALSE(users.CheckSessionLimits("idle", now - 60, now - 10, 0, now));
    EXPECT_TRUE(users.CheckSessionLimits("idle", now - 600, now - 10, 1, now));  // transferring
    EXPECT_TRUE(users.CheckSessionLimits("idle", now, now - 119, 0, now));
    EXPECT_FALSE(users.CheckSessionLimits("idle", now, now - 120, 0, now));  // 2 whole minutes
    EXPECT_FALSE(users.CheckSessionLimits("nobody", now, now, 0, now));
    EXPECT_TRUE(users.CheckSessionLimits("bob", 0, 0, 0, now));  // no limits
}

}  // namespace
}  // namespace orvex
