#include "engine/os/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <sstream>
#include <thread>
#include <vector>

#include "AccountsTestDir.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/UserStore.h"

namespace orvex {
namespace {

using testing::ScratchDir;

const std::string kUser = "USER x\nGENERAL 0 0 0 0\nPERMISSIONS lcd\n";

// Files may grow only to `bytes` while it lives: writes past it fail as on a full disk.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = old_;
        lim.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

  private:
    rlimit old_{};
    void (*oldHandler_)(int);
};

// The entries besides the lock files, which stay on purpose.
size_t CountEntries(const ScratchDir& dir, const std::string& rel) {
    size_t n = 0;
    for (const auto& name : dir.List(rel)) n += !name.ends_with(".lock");
    return n;
}

TEST(AtomicFile, CrashBeforeTheRenameLeavesTheOldFile) {
    ScratchDir dir;
    dir.Write("users/bob", kUser);
    InterruptRewritesForTesting(true);
    EXPECT_FALSE(WriteFileAtomically(dir.Internal("users/bob"), "USER y\n"));
    InterruptRewritesForTesting(false);
    EXPECT_EQ(dir.Read("users/bob"), kUser);

    // The half-done temporary sits beside it and is never taken for a user.
    std::string temp;
    for (const auto& n : dir.List("users"))
        if (n != "bob") temp = n;
    ASSERT_FALSE(temp.empty());
    EXPECT_TRUE(IsTemporaryName(temp));
    dir.Write("users/" + temp, kUser);  // even one that would parse
    UserStore users(nullptr, nullptr);
    users.Configure(dir.Internal("users/"), {});
    ASSERT_TRUE(users.LoadUsers());
    EXPECT_EQ(users.ListUsers(UserStore::kAllUsers).Count(), 1u);
    EXPECT_FALSE(users.FindUser(temp));
}

TEST(AtomicFile, FullDiskLeavesTheOldFileAndNoTemporary) {
    ScratchDir dir;
    dir.Write("etc/passwd", "old contents\n");
    {
        FileSizeLimit limit(64);
        EXPECT_FALSE(WriteFileAtomically(dir.Internal("etc/passwd"), std::string(1000, 'x')));
        EXPECT_FALSE(AppendLine(dir.Internal("etc/passwd"), std::string(200, 'y')));
    }
    EXPECT_EQ(dir.Read("etc/passwd"), "old contents\n");
    EXPECT_EQ(CountEntries(dir, "etc"), 1u);
}

TEST(AtomicFile, FullDiskDuringAStoreRewriteKeepsThePasswdFile) {
    ScratchDir dir;
    std::string text = "admin;X;101;100;d;/h/\n";
    for (int i = 0; i < 20; ++i)
        text += "user" + std::to_string(i) + ";X;" + std::to_string(200 + i) + ";100;d;/h/\n";
    dir.Write("etc/passwd", text);
    AccountStore store;
    store.Configure(dir.Internal("etc/passwd"), dir.Internal(), "");
    ASSERT_TRUE(store.LoadAccounts());
    {
        FileSizeLimit limit(100);  // the header alone is larger
        EXPECT_FALSE(store.DeleteAccount("admin"));
    }
    EXPECT_EQ(dir.Read("etc/passwd"), text);
    EXPECT_EQ(CountEntries(dir, "etc"), 1u);
}

TEST(AtomicFile, ModesAndCreateOnly) {
    ScratchDir dir;
    dir.Write("f", "a\n");
    ASSERT_EQ(chmod(dir.Os("f").c_str(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomically(dir.Internal("f"), "b\n"));
    struct stat st {};
    ASSERT_EQ(stat(dir.Os("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(dir.Read("f"), "b\n");

    EXPECT_FALSE(WriteFileAtomically(dir.Internal("f"), "c\n", false));
    EXPECT_EQ(dir.Read("f"), "b\n");
    EXPECT_TRUE(WriteFileAtomically(dir.Internal("g"), "c\n", false));
    EXPECT_EQ(dir.Read("g"), "c\n");
    EXPECT_EQ(CountEntries(dir, ""), 2u);
}

TEST(AtomicFile, OnlyRegularFilesAreRead) {
    ScratchDir dir;
    dir.MakeDir("d");
    ASSERT_EQ(mkfifo(dir.Os("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(ReadWholeFile(dir.Internal("d")));
    EXPECT_FALSE(ReadWholeFile(dir.Internal("fifo")));  // returns at once, no writer needed
    dir.Write("big", std::string(100, 'x'));
    EXPECT_FALSE(ReadWholeFile(dir.Internal("big"), 99));
    EXPECT_EQ(ReadWholeFile(dir.Internal("big"), 100)->size(), 100u);
    // Sizes around the read steps, read whole whatever the size the file reports.
    for (const size_t size :
         {size_t{0}, size_t{1}, size_t{8191}, size_t{8192}, size_t{8193}, size_t{70000}}) {
        std::string text(size, 'a');
        for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
        dir.Write("sized", text);
        EXPECT_EQ(ReadWholeFile(dir.Internal("sized")), text) << size;
        EXPECT_EQ(ReadWholeFile(dir.Internal("sized"), size), text) << size;
        if (size > 0) {
            EXPECT_FALSE(ReadWholeFile(dir.Internal("sized"), size - 1)) << size;
        }
    }
    const std::optional<std::string> status = ReadWholeFile("/proc/self/status");  // size 0
    ASSERT_TRUE(status);
    EXPECT_NE(status->find("\nThreads:"), std::string::npos);
}

TEST(AtomicFile, AppendTerminatesLines) {
    ScratchDir dir;
    ASSERT_TRUE(AppendLine(dir.Internal("t"), "one"));
    dir.Write("u", "last");
    ASSERT_TRUE(AppendLine(dir.Internal("u"), "two\n"));
    EXPECT_EQ(dir.Read("t"), "one\n");
    EXPECT_EQ(dir.Read("u"), "last\ntwo\n");
}

TEST(AtomicFile, AppendedRecordsOfConcurrentWritersStayWhole) {
    ScratchDir dir;
    const std::string path = dir.Internal("events.log");
    constexpr int kWriters = 6;
    constexpr int kLines = 200;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&path, w] {
            // Long enough that a writer split into pieces would show.
            const std::string line = std::string(3000, static_cast<char>('a' + w)) + "\n";
            for (int i = 0; i < kLines; ++i) AppendRecord(path, line);
        });
    }
    for (std::thread& t : writers) t.join();
    std::istringstream in(dir.Read("events.log"));
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        ++count;
        ASSERT_EQ(line.size(), 3000u);
        ASSERT_EQ(line.find_first_not_of(line[0]), std::string::npos);
    }
    EXPECT_EQ(count, kWriters * kLines);
}

}  // namespace
}  // namespace orvex
