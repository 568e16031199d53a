#pragma once
// The advisory lock around every read-modify-write of a data file, shared by the servers, the
// tools and an operator who edits under flock(1). Rewrites replace the data file, so the lock is
// held on a file beside it, ".NAME.lock", which is never replaced or removed.

#include <string>
#include <string_view>

namespace orvex {

// How long a writer waits for another program's lock before giving up its own change.
inline constexpr int kFileLockWaitMs = 2000;

class FileLock {
  public:
    // `path` is the data file, in internal or OS form. Waits up to `waitMs` (-1: the default wait)
    // for the lock; a lock this thread already holds on the same file is shared, not waited for.
    explicit FileLock(std::string_view path, int waitMs = -1);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool Held() const { return held_; }
    // Another program held the lock for the whole wait: the caller leaves the data file alone.
    // A lock file that cannot be made does not block: the data file's own write then fails or
    // not on its own.
    bool Blocked() const { return blocked_; }

    // The lock file of the data file at `path`, in OS form; empty for a path that ends in a
    // separator.
    static std::string LockPathOf(std::string_view path);

  private:
    std::string lockPath_;
    int fd_ = -1;
    bool held_ = false;
    bool nested_ = false;
    bool blocked_ = false;
};

// Test seam: the default wait of every lock taken from now on (-1 restores kFileLockWaitMs).
void SetFileLockWaitForTesting(int waitMs);

}  // namespace orvex
