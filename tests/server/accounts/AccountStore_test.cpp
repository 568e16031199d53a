#include "server/accounts/AccountStore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "AccountsTestDir.h"
#include "engine/os/FileLock.h"
#include "server/accounts/GroupStore.h"
#include "server/accounts/PasswordCipher.h"

namespace orvex {
namespace {

using testing::LogLines;
using testing::ScratchDir;

const char* kHeader =
    "# Username;EncryptedPassword;UserID;GroupID;DateAdded;HomeDir\n"
    "# NOTE: The \"HomeDir\" is the absolute path of the user's root dir.\n"
    "#\n";

class AccountStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.MakeDir("etc");
        dir.MakeDir("home");
        dir.Write("etc/passwd", std::string(kHeader) + "admin;" + StoredPassword("admin", "pw") +
                                    ";101;101;01-01-20;./home/\n");
        store.Configure(dir.Internal("etc/passwd"), dir.Internal(), dir.Internal("home/"));
        ASSERT_TRUE(store.LoadAccounts());
    }
    // Another content of the same size, written within the same second as the last write.
    void RewriteSameSize(const std::string& text) {
        struct stat before {};
        ASSERT_EQ(stat(dir.Os("etc/passwd").c_str(), &before), 0);
        dir.Write("etc/passwd", text);
        struct timespec times[2] = {before.st_atim, before.st_mtim};
        times[1].tv_nsec = (before.st_mtim.tv_nsec + 1) % 1000000000;
        ASSERT_EQ(utimensat(AT_FDCWD, dir.Os("etc/passwd").c_str(), times, 0), 0);
    }

    ScratchDir dir;
    LogLines log;
    AccountStore store{log.Sink()};
};

TEST_F(AccountStoreTest, NewAccountsGetIdsFrom101AndAppendOneLine) {
    ASSERT_EQ(store.AddAccount("bob", "secret", -1, ""), 1);
    auto bob = store.FindAccount("BOB");
    ASSERT_TRUE(bob);
    EXPECT_EQ(bob->uid, "102");
    EXPECT_EQ(bob->gid, "100");  // -1 stands for 100
    EXPECT_EQ(bob->home, dir.Internal("home/"));
    EXPECT_EQ(bob->added.size(), 8u);
    EXPECT_TRUE(VerifyPassword(bob->password, "bob", "secret"));
    EXPECT_EQ(store.AddAccount("Bob", "x", 5, ""), 2);

    const std::string file = dir.Read("etc/passwd");
    EXPECT_EQ(file.rfind(std::string(kHeader), 0), 0u);
    EXPECT_NE(file.find("\nbob;" + bob->password + ";102;100;" + bob->added + ";./home/\n"),
              std::string::npos);

    // An empty table still starts at 101.
    dir.Write("etc/passwd", "");
    ASSERT_EQ(store.AddAccount("carl", "x", 7, "\\other\\"), 1);
    EXPECT_EQ(store.FindAccount("carl")->uid, "101");
    EXPECT_EQ(store.FindAccount("carl")->home, "\\other\\");
}

TEST_F(AccountStoreTest, AppendEndsAnUnterminatedLastLine) {
    dir.Write("etc/passwd", "ann;X;150;100;d;./home/");  // hand edit without a final line feed
    ASSERT_EQ(store.AddAccount("bob", "pw", 100, ""), 1);
    EXPECT_EQ(store.FindAccount("bob")->uid, "151");
    const std::string file = dir.Read("etc/passwd");
    EXPECT_EQ(file.find("ann;X;150;100;d;./home/\nbob;"), 0u);
    AccountStore fresh;
    fresh.Configure(dir.Internal("etc/passwd"), dir.Internal(), dir.Internal("home/"));
    ASSERT_TRUE(fresh.LoadAccounts());
    EXPECT_TRUE(fresh.FindAccount("ann"));
    EXPECT_TRUE(fresh.FindAccount("bob"));
}

TEST_F(AccountStoreTest, RewritesKeepIdsAndTheHeader) {
    ASSERT_EQ(store.AddAccount("bob", "pw", 100, ""), 1);
    EXPECT_EQ(store.RenameAccount("bob", "ADMIN"), 2);
    EXPECT_EQ(store.RenameAccount("nobody", "x"), 0);
    ASSERT_EQ(store.RenameAccount("bob", "robert"), 1);
    EXPECT_FALSE(store.FindAccount("bob"));
    EXPECT_EQ(store.UserIdOf("robert"), 102);
    std::string name;
    ASSERT_TRUE(store.UserNameOf(102, name, 4));
    EXPECT_EQ(name, "rob");

    Account changed = *store.FindAccount("robert");
    changed.gid = "99";
    changed.user = "admin";  // the entry keeps its own name
    ASSERT_TRUE(store.ReplaceAccount("robert", changed));
    EXPECT_EQ(store.FindAccount("robert")->gid, "99");
    EXPECT_EQ(store.FindAccount("admin")->gid, "101");
    changed.home = "\\a;b\\";  // would break the line
    EXPECT_FALSE(store.ReplaceAccount("robert", changed));

    ASSERT_TRUE(store.DeleteAccount("admin"));
    EXPECT_EQ(store.UserIdOf("admin"), -1);
    EXPECT_EQ(dir.Read("etc/passwd"), std::string(kHeader) + "robert;" + changed.password +
                                          ";102;99;" + changed.added + ";./home/\n");
}

TEST_F(AccountStoreTest, SameSecondHandEditIsNoticed) {
    const std::string pw = StoredPassword("admin", "pw");
    RewriteSameSize(std::string(kHeader) + "nimda;" + pw + ";101;101;01-01-20;./home/\n");
    ASSERT_TRUE(store.LoadAccounts());
    EXPECT_FALSE(store.FindAccount("admin"));
    EXPECT_TRUE(store.FindAccount("nimda"));
}

// An edit that leaves even the stamp as it was (in place, same size, within one clock tick): a
// lookup may miss it, but a change reads the text itself and keeps it.
TEST_F(AccountStoreTest, ChangesReadAnEditTheStampCannotShow) {
    struct stat before {};
    ASSERT_EQ(stat(dir.Os("etc/passwd").c_str(), &before), 0);
    std::string text = dir.Read("etc/passwd");
    text.replace(text.find("admin;"), 6, "nimda;");
    std::ofstream(dir.Os("etc/passwd"), std::ios::in | std::ios::out) << text;
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, dir.Os("etc/passwd").c_str(), times, 0), 0);
    ASSERT_TRUE(store.LoadAccounts());
    EXPECT_TRUE(store.FindAccount("admin"));  // the stamp is all a lookup looks at

    ASSERT_EQ(store.AddAccount("bob", "pw", -1, ""), 1);
    EXPECT_FALSE(store.FindAccount("admin"));
    EXPECT_TRUE(store.FindAccount("nimda"));
    EXPECT_EQ(dir.Read("etc/passwd").find("admin;"), std::string::npos);
}

TEST_F(AccountStoreTest, UnreadableFileKeepsTheTable) {
    const std::string good = dir.Read("etc/passwd");
    std::filesystem::remove(dir.Os("etc/passwd"));
    EXPECT_FALSE(store.LoadAccounts());
    EXPECT_TRUE(log.Has("WARNING: unable to access file " + dir.Internal("etc/passwd") + "."));
    EXPECT_TRUE(store.FindAccount("admin"));

    dir.MakeDir("etc/passwd");  // exists but cannot be read
    EXPECT_FALSE(store.LoadAccounts());
    EXPECT_TRUE(
        log.Has("WARNING: unable to open file " + dir.Internal("etc/passwd") + " for reading."));
    EXPECT_TRUE(store.FindAccount("admin"));
    // Nothing is written over a file the store could not read.
    EXPECT_EQ(store.AddAccount("bob", "pw", 100, ""), 0);
    EXPECT_FALSE(store.DeleteAccount("admin"));

    std::filesystem::remove(dir.Os("etc/passwd"));
    dir.Write("etc/passwd", good);
    ASSERT_TRUE(store.LoadAccounts());
    EXPECT_EQ(store.AddAccount("bob", "pw", 100, ""), 1);
}

TEST_F(AccountStoreTest, FirstLoadOfAMissingFileFails) {
    AccountStore other;
    other.Configure(dir.Internal("etc/none"), dir.Internal(), "");
    EXPECT_FALSE(other.LoadAccounts());
    EXPECT_EQ(other.AddAccount("bob", "pw", 100, ""), 0);
    EXPECT_FALSE(dir.Exists("etc/none"));
}

TEST_F(AccountStoreTest, UpdateIsOneReadModifyWrite) {
    auto setGid = [](const char* gid) {
        return [gid](Account& a) {
            a.gid = gid;
            return true;
        };
    };
    EXPECT_EQ(store.UpdateAccount("ADMIN", setGid("150")), RecordUpdate::Saved);
    EXPECT_NE(dir.Read("etc/passwd").find(";101;150;"), std::string::npos);
    EXPECT_EQ(store.UpdateAccount("nobody", setGid("1")), RecordUpdate::Unknown);
    EXPECT_EQ(store.UpdateAccount("admin", [](Account&) { return false; }),
              RecordUpdate::Unchanged);
    // A value that would break the line is never written; the entry stays as it was.
    EXPECT_EQ(store.UpdateAccount("admin",
                                  [](Account& a) {
                                      a.home = "\\a;b\\";
                                      return true;
                                  }),
              RecordUpdate::Unchanged);
    EXPECT_EQ(store.FindAccount("admin")->home, dir.Internal("home/"));
    // A hand edit made meanwhile is read before the change, not overwritten.
    dir.Write("etc/passwd", dir.Read("etc/passwd") + "hand;X;170;100;d;./home/\n");
    EXPECT_EQ(store.UpdateAccount("admin", setGid("151")), RecordUpdate::Saved);
    EXPECT_NE(dir.Read("etc/passwd").find("hand;X;170;"), std::string::npos);
}

TEST_F(AccountStoreTest, NewIdsSkipIdsStillReferredTo) {
    std::vector<int32_t> held{500, 7};
    store.SetReservedIds([&held] { return held; });
    ASSERT_EQ(store.AddAccount("bob", "pw", 100, ""), 1);
    EXPECT_EQ(store.FindAccount("bob")->uid, "501");
    ASSERT_TRUE(store.DeleteAccount("bob"));
    // bob's files still name 501: the next newcomer must not become their owner.
    held.push_back(501);
    ASSERT_EQ(store.AddAccount("carl", "pw", 100, ""), 1);
    EXPECT_EQ(store.FindAccount("carl")->uid, "502");
    held.clear();
    ASSERT_EQ(store.AddAccount("dora", "pw", 100, ""), 1);
    EXPECT_EQ(store.FindAccount("dora")->uid, "503");
    held = {INT32_MAX};
    EXPECT_EQ(store.AddAccount("eve", "pw", 100, ""), 0);  // no id left
}

// Another program (a tool, or an operator under flock(1)) holding a file's lock: changes of both
// table stores wait for it, read what it wrote, and give up untouched when it holds on too long.
TEST_F(AccountStoreTest, ChangesWaitForAnotherProgramsLockAndReadItsEdit) {
    dir.Write("etc/group", "staff;Staff;300;0\n");
    GroupStore groups(log.Sink());
    groups.Configure(dir.Internal("etc/group"));
    ASSERT_TRUE(groups.LoadGroups());
    const Account admin = *store.FindAccount("admin");
    struct Change {
        const char* file;
        std::function<bool()> run;
    } changes[] = {
        {"etc/passwd", [&] { return store.AddAccount("bob", "pw", -1, "") == 1; }},
        {"etc/passwd", [&] { return store.ReplaceAccount("admin", admin); }},
        {"etc/passwd", [&] { return store.RenameAccount("admin", "root") == 1; }},
        {"etc/passwd", [&] { return store.DeleteAccount("admin"); }},
        {"etc/group", [&] { return groups.AddGroup("ops", "Ops") == 1; }},
        {"etc/group", [&] { return groups.ReplaceGroup("staff", *groups.FindGroup("staff")); }},
        {"etc/group", [&] { return groups.RenameGroup("staff", "crew") == 1; }},
        {"etc/group", [&] { return groups.DeleteGroup("staff"); }},
    };
    SetFileLockWaitForTesting(50);
    for (const Change& c : changes) {
        const std::string before = dir.Read(c.file);
        std::atomic<bool> held{false}, done{false};
        std::thread other([&] {
            FileLock lock(dir.Internal(c.file));
            held = true;
            while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        while (!held) std::this_thread::yield();
        EXPECT_FALSE(c.run()) << c.file;
        done = true;
        other.join();
        EXPECT_EQ(dir.Read(c.file), before);
        EXPECT_TRUE(log.Has("WARNING: unable to lock file " + dir.Internal(c.file) + "."));
    }
    SetFileLockWaitForTesting(-1);

    // The other program appends a line while it holds the lock; the store's addition waits and
    // keeps it.
    std::atomic<bool> held{false};
    std::thread other([&] {
        FileLock lock(dir.Internal("etc/passwd"));
        held = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::ofstream(dir.Os("etc/passwd"), std::ios::app) << "carol;;150;100;01-01-20;./home/\n";
    });
    while (!held) std::this_thread::yield();
    EXPECT_EQ(store.AddAccount("dave", "pw", -1, ""), 1);
    other.join();
    EXPECT_TRUE(store.FindAccount("carol"));
    const std::string text = dir.Read("etc/passwd");
    EXPECT_NE(text.find("carol;"), std::string::npos);
    EXPECT_NE(text.find("\ndave;"), std::string::npos);
    EXPECT_EQ(store.FindAccount("dave")->uid, "151");
}

}  // namespace
}  // namespace orvex
