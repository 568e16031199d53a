#include "engine/os/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <set>

#include "engine/os/OsPath.h"

namespace orvex {
namespace {

constexpr int kPollMs = 10;

// flock locks belong to open files, so a second one taken by the same thread would wait for
// itself: the thread's held locks are counted instead.
thread_local std::set<std::string> t_held;

std::atomic<int> g_defaultWaitMs{kFileLockWaitMs};

void SleepMs(int ms) {
    timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace

std::string FileLock::LockPathOf(std::string_view path) {
    const std::string os = FileUtil::OsPath(path);
    const size_t slash = os.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : os.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? os : os.substr(slash + 1);
    return base.empty() ? std::string() : folder + "." + base + ".lock";
}

void SetFileLockWaitForTesting(int waitMs) {
    g_defaultWaitMs = waitMs < 0 ? kFileLockWaitMs : waitMs;
}

FileLock::FileLock(std::string_view path, int waitMs) : lockPath_(LockPathOf(path)) {
    if (waitMs < 0) waitMs = g_defaultWaitMs;
    if (lockPath_.empty()) return;  // a folder: no data file to lock
    if (t_held.count(lockPath_)) {
        held_ = nested_ = true;
        return;
    }
    // Read-only is enough for flock, and lets a server account use a lock file root made.
    fd_ = ::open(lockPath_.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) return;
    for (int waited = 0;; waited += kPollMs) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            held_ = true;
            t_held.insert(lockPath_);
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        if (waited >= waitMs) {
            blocked_ = true;
            break;
        }
        SleepMs(kPollMs);
    }
    ::close(fd_);
    fd_ = -1;
}

FileLock::~FileLock() {
    if (!held_ || nested_) return;
    t_held.erase(lockPath_);
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
}

}  // namespace orvex
