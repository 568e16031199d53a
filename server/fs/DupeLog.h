#pragma once
// Who uploaded which file name and when: an upload whose name is in the log and recent enough is
// refused as a dupe. Kept in logs/dupelog of the data folder and written back with the
// filesystem. Names compare without regard to case.

#include <cstdint>
#include <list>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/ThreadUtil.h"
#include "server/fs/FsRecords.h"

namespace orvex {

class ServerSite;
class FsJournal;

struct DupeSearch {
    std::vector<DupeRecord> records;  // newest first
    size_t matching = 0;              // all records that matched, also those not returned
};

class DupeLog {
  public:
    // `fileLock` serialises the log's file with the filesystem's other files; every change is
    // appended to `journal` when one is given.
    DupeLog(ServerSite& site, Lock& fileLock, FsJournal* journal = nullptr);
    DupeLog(const DupeLog&) = delete;
    DupeLog& operator=(const DupeLog&) = delete;

    // 1 read, 0 when the file is missing or unreadable (the log is then empty).
    int Load();
    // Records the base name of `path` for `uploader`: 1 recorded, 0 not (log switched off, name
    // ignored). `now` 0 is the current time.
    int Add(uint32_t uploader, std::string_view path, int64_t now = 0);
    // The record that makes an upload of `path` a dupe (the caller has ruled out directories
    // that switch checking off).
    std::optional<DupeRecord> Find(std::string_view path, int64_t now = 0);
    // The record of exactly this base name, whatever its age.
    std::optional<DupeRecord> Named(std::string_view name) const;
    // Every record whose name matches the base name of `path` taken as a mask (case-sensitive).
    int RemoveMatching(std::string_view path);
    // The record of exactly the base name of `path`.
    int RemoveName(std::string_view path);
    // Records matched by any mask within the dates ("mmddyy", local time; empty or invalid: no
    // bound), newest first; at most `maximum` unless it is 0.
    DupeSearch Search(const std::vector<std::string>& masks, std::string_view from,
                      std::string_view to, size_t maximum);
    // Rewrites the file when the log changed: the number of lines written. A file that cannot be
    // written keeps the log marked changed, so the next write-back tries again; `failed` tells.
    int Write(int64_t now = 0, bool* failed = nullptr);
    // Adds the id of every recorded uploader to `ids`.
    void CollectUploaders(std::set<uint32_t>& ids) const;
    bool Changed() const;

    // A "mmddyy" date at the given time of day, local time; none when it is no such date.
    static std::optional<int64_t> ParseDate(std::string_view mmddyy, bool endOfDay);

  private:
    using List = std::list<DupeRecord>;
    std::string FilePath() const;
    bool Ignored(std::string_view name) const;
    void Erase(List::iterator it);

    ServerSite& site_;
    Lock& fileLock_;
    FsJournal* journal_;
    mutable Lock lock_;
    List records_;                                            // in the order names first appeared
    std::unordered_map<std::string, List::iterator> byName_;  // lower-cased name
    bool changed_ = false;
};

}  // namespace orvex
