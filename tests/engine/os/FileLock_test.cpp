#include "engine/os/FileLock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "engine/os/AtomicFile.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

class ScratchFolder {
  public:
    ScratchFolder() {
        char tmpl[] = "/tmp/orvex-lock-XXXXXX";
        if (mkdtemp(tmpl)) path_ = tmpl;
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// A process id that no process has now: a child that has ended and been reaped.
pid_t EndedProcessId() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

TEST(FileLock, LockFileSitsBesideTheDataFile) {
    EXPECT_EQ(FileLock::LockPathOf("/srv/etc/passwd"), "/srv/etc/.passwd.lock");
    EXPECT_EQ(FileLock::LockPathOf("\\srv\\users\\bob"), "/srv/users/.bob.lock");
    EXPECT_EQ(FileLock::LockPathOf("group"), ".group.lock");
}

TEST(FileLock, SecondHolderWaitsThenSharesNestedLocksAndFolderlessDoesNotBlock) {
    ScratchFolder dir;
    const std::string data = dir / "passwd";
    {
        FileLock first(data);
        ASSERT_TRUE(first.Held());
        // The same thread again (a store operation inside another): shared, not waited for.
        FileLock nested(data, 0);
        EXPECT_TRUE(nested.Held());
        EXPECT_FALSE(nested.Blocked());

        // Another thread gives up after its wait, and gets the lock once it is free.
        bool blocked = false;
        std::thread([&] { blocked = FileLock(data, 50).Blocked(); }).join();
        EXPECT_TRUE(blocked);
        // flock(1), as an operator would run it around a hand edit, waits for it too.
        const std::string flock = "flock -w 0.05 " + FileLock::LockPathOf(data) + " true";
        const int status = std::system(flock.c_str());
        if (WIFEXITED(status) && WEXITSTATUS(status) != 127) {
            EXPECT_EQ(WEXITSTATUS(status), 1);
        }
    }
    bool held = false;
    std::thread([&] { held = FileLock(data, 50).Held(); }).join();
    EXPECT_TRUE(held);

    // A lock file that cannot be made (no such folder) leaves the write to fail on its own.
    FileLock nowhere(dir / "missing/passwd", 0);
    EXPECT_FALSE(nowhere.Held());
    EXPECT_FALSE(nowhere.Blocked());
}

TEST(FileLock, HolderReleasesForAWaiter) {
    ScratchFolder dir;
    const std::string data = dir / "group";
    auto first = std::make_unique<FileLock>(data);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        first.reset();
    });
    FileLock second(data, 10000);
    release.join();
    EXPECT_TRUE(second.Held());
}

TEST(StaleTemporaryFiles, OnlyThoseOfEndedWritersGo) {
    ScratchFolder dir;
    const std::string ended = std::to_string(EndedProcessId());
    const std::string alive = std::to_string(getppid());
    const std::string self = std::to_string(getpid());
    struct Case {
        std::string name;
        bool removed;
    } cases[] = {
        {".passwd." + ended + ".0", true},
        {".orvex.conf." + ended + ".17", true},
        {".passwd." + alive + ".3", false},  // its writer may still rename it
        {".passwd." + self + ".3", false},
        {".passwd.lock", false},
        {".keep", false},
        {".passwd." + ended, false},  // not the rewrites' pattern
        {".passwd.x" + ended + ".0", false},
        {"passwd." + ended + ".0", false},  // no leading dot: an operator's file
        {"passwd", false},
    };
    for (const Case& c : cases) std::ofstream(dir / c.name) << "x";
    EXPECT_EQ(RemoveStaleTemporaryFiles(dir.Path()), 2);
    for (const Case& c : cases) EXPECT_EQ(fs::exists(dir / c.name), !c.removed) << c.name;
    EXPECT_EQ(RemoveStaleTemporaryFiles(dir / "missing"), 0);
}

TEST(AtomicFile, StillCurrentDecidesBeforeTheTargetIsReplaced) {
    ScratchFolder dir;
    const std::string data = dir / "bob";
    std::ofstream(data) << "old\n";
    int asked = 0;
    // Asked once the new text is on disk: the target is still the old one then.
    EXPECT_FALSE(WriteFileAtomically(data, "new\n", true, std::nullopt, [&] {
        ++asked;
        return !ReadWholeFile(data) || *ReadWholeFile(data) != "old\n";
    }));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(*ReadWholeFile(data), "old\n");
    EXPECT_TRUE(WriteFileAtomically(data, "new\n", true, std::nullopt, [] { return true; }));
    EXPECT_EQ(*ReadWholeFile(data), "new\n");
    // Neither way leaves a temporary behind.
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(dir.Path())) entries += !e.path().empty();
    EXPECT_EQ(entries, 1u);
}

}  // namespace
}  // namespace orvex
