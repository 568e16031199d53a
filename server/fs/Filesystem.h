#pragma once
// Ownership, permissions and settings of the directories and files created through the server,
// kept beside the real tree. Loaded once at start-up from fs/orvex.fs under the root path,
// written back from time to time and at shutdown.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "engine/KeyedList.h"
#include "engine/ThreadUtil.h"

namespace orvex {

class ServerSite;

inline constexpr const char* kDefaultDirectoryMode = "rwxrwxrwx";
inline constexpr const char* kDefaultFileMode = "rw-r--r--";
// What a directory or file without a record counts as.
inline constexpr const char* kUnknownDirectoryMode = "r-xr-xr-x";
inline constexpr const char* kUnknownFileMode = "r--r--r--";

struct FileRecord {
    std::string name;
    std::string permissions;  // 15
    uint32_t owner = 0;
    uint32_t group = 0;
    uint64_t size = 0;
    uint32_t free = 0;
    bool deleted = false;
    bool changed = false;
};

struct DirectoryRecord {
    std::string path;  // absolute, internal form, ends in '\'
    int32_t id = 0;
    std::string permissions;  // 15
    uint32_t owner = 0;
    uint32_t group = 0;
    int32_t ratio = -1;  // -1 inherit, 0 free, 1..9 credits per uploaded KB
    int32_t dupeDisable = 0;
    int32_t mirrorId = 0;
    bool deleted = false;
    bool changed = false;
    std::optional<KeyedList<FileRecord>> files;
};

class Filesystem {
  public:
    explicit Filesystem(ServerSite& site);
    Filesystem(const Filesystem&) = delete;
    Filesystem& operator=(const Filesystem&) = delete;

    // Fails when the filesystem file cannot be opened.
    bool Load();
    // Number of files written.
    int Sync();
    // Number of records marked deleted.
    int Check(bool syncAfterwards);
    // 2 busy, 1 started, 0 no thread.
    int StartSync();
    int StartCheck();
    // A write-back or check is running.
    bool Busy() const { return busy_; }
    int64_t LastSyncTime() const { return lastSync_; }
    int64_t LastCheckTime() const { return lastCheck_; }

    std::optional<DirectoryRecord> GetDirectory(const std::string& path, bool withFiles) const;
    std::optional<FileRecord> GetFile(const std::string& path) const;
    // 1 recorded, 0 not.
    int SetFile(const std::string& path, const char* permissions, uint32_t owner, uint32_t group,
                int64_t size, uint32_t free);

    // Every user and group id that a directory or file record still names as its owner.
    void CollectOwnerIds(std::set<uint32_t>& users, std::set<uint32_t>& groups) const;

  private:
    std::string FilePath() const;
    int StartWork(std::function<void()> work);

    ServerSite& site_;
    mutable Lock directoryLock_;
    mutable Lock fileLock_;
    KeyedList<DirectoryRecord> directories_{"Filesystem List Header"};
    std::atomic<bool> busy_{false};
    std::atomic<int64_t> lastSync_;
    std::atomic<int64_t> lastCheck_;
};

}  // namespace orvex
