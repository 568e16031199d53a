#include "engine/os/FileLock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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
    EXPECT_EQ(FileLock::LockPathOf("/srv/etc/"), "");
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

}  // namespace
}  // namespace orvex
