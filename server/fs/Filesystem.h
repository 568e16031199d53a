#pragma once
// Ownership, permissions and settings of the directories and files created through the server,
// kept beside the real tree. Loaded once at start-up from fs/orvex.fs and one file list per
// directory under the root path, kept current by the commands that change the disk, and written
// back from time to time and at shutdown. Records are indexed by path and, within a directory,
// by name, so no lookup grows with the number of records.

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/KeyedList.h"
#include "engine/ThreadUtil.h"
#include "server/fs/DupeLog.h"
#include "server/fs/FsJournal.h"
#include "server/fs/FsRecords.h"

namespace orvex {

class ServerSite;

class Filesystem {
  public:
    explicit Filesystem(ServerSite& site);
    ~Filesystem();
    Filesystem(const Filesystem&) = delete;
    Filesystem& operator=(const Filesystem&) = delete;

    // Reads orvex.fs, every file list and the dupe log, replays the journal over them and starts
    // journaling; fails when orvex.fs cannot be read.
    bool Load();
    // Writes what changed; the number of files written.
    int Sync();
    // Compares the records with the disk and repairs them: records of what is gone are marked
    // deleted, file sizes follow the disk, and a file without a record gets one when the dupe
    // log names its uploader. The number of records changed; each repair is program-logged.
    int Check(bool syncAfterwards);
    // The same for the records of `prefix` and below, after a command removed part of a tree:
    // only what is really gone is marked.
    int CheckTree(std::string_view prefix);
    // 2 busy, 1 started, 0 no thread.
    int StartSync();
    int StartCheck();
    // A write-back or check is running.
    bool Busy() const { return busy_; }
    int64_t LastSyncTime() const { return lastSync_; }
    int64_t LastCheckTime() const { return lastCheck_; }

    // 1 done, 2 exists and `update` is clear, 0 failure. `permissions` null: the default mode.
    int SetDirectory(std::string_view path, const char* permissions, uint32_t owner, uint32_t group,
                     int32_t ratio, int32_t dupeDisable, int32_t mirrorId, bool update);
    // Creates or changes a file record (and its directory's when missing); size -1 takes the size
    // on disk. 1 or 0.
    int SetFile(std::string_view path, const char* permissions, uint32_t owner, uint32_t group,
                int64_t size, uint32_t free);
    std::optional<DirectoryRecord> GetDirectory(std::string_view path, bool withFiles) const;
    std::optional<FileRecord> GetFile(std::string_view path) const;
    // Newest first; records longer than and under `prefix` when one is given; 0 = all.
    KeyedList<DirectoryRecord> ListDirectories(size_t maximum, const std::string* prefix) const;
    // Writes back a changed copy; 1, or 0 when the path has no record.
    int UpdateDirectory(const DirectoryRecord& copy, std::string_view path);
    // Re-keys every record under `oldPrefix`; the number re-keyed.
    int MoveDirectories(std::string_view oldPrefix, std::string_view newPrefix);
    // Marks every record under `prefix` deleted; the count.
    int DeleteDirectories(std::string_view prefix);
    // Marks the file record deleted and drops the dupe entry of exactly its name. 1 or 0.
    int DeleteFileRecord(std::string_view path);
    int MoveFileRecord(std::string_view oldPath, std::string_view newPath);
    // Notes the ratio an upload into the file at `path` earned at: 1, or 0 without its record.
    int SetEarnedRatio(std::string_view path, int32_t ratio);

    // Inherited settings: the nearest ancestor that sets one.
    int32_t EffectiveRatio(std::string_view path) const;   // -1 none, 0 free, 1..9
    int32_t MirrorIdOf(std::string_view path) const;       // 0 none
    int32_t DupeDisabledFor(std::string_view path) const;  // 0 none

    // The dupe log.
    int LoadDupes() { return dupes_.Load(); }
    int AddDupe(uint32_t uploader, std::string_view path) { return dupes_.Add(uploader, path); }
    std::optional<DupeRecord> FindDupe(std::string_view path);
    int RemoveDupes(std::string_view maskPath) { return dupes_.RemoveMatching(maskPath); }
    DupeSearch SearchDupes(const std::vector<std::string>& masks, std::string_view from,
                           std::string_view to, size_t maximum) {
        return dupes_.Search(masks, from, to, maximum);
    }
    int WriteDupes() { return dupes_.Write(); }
    DupeLog& Dupes() { return dupes_; }

    // For reports and benchmarks: live directory and file records.
    size_t DirectoryCount() const;
    size_t FileCount() const;

    // Every user and group id that a directory or file record still names as its owner.
    void CollectOwnerIds(std::set<uint32_t>& users, std::set<uint32_t>& groups) const;

  private:
    // A directory's files in list order, with an index of their names.
    struct FileTable {
        std::vector<FileRecord> records;
        std::vector<uint32_t> byName;  // positions in `records`, sorted by name
        FileRecord* Find(std::string_view name);
        const FileRecord* Find(std::string_view name) const;
        FileRecord& Add(FileRecord record);
        void Purge();  // drops deleted records
        void Reindex();
    };
    struct Entry {
        DirectoryRecord record;  // without files
        FileTable files;
        bool filesDirty = false;  // the file list must be written
    };
    using EntryList = std::list<Entry>;

    std::string FileListPath(int32_t id) const;
    int SetDirectoryAs(std::string_view path, const char* permissions, uint32_t owner,
                       uint32_t group, int32_t ratio, int32_t dupeDisable, int32_t mirrorId,
                       bool update, int32_t wantedId);
    // The file record alone, without the dupe log; false when its directory has no record.
    bool PutFile(const std::string& dir, const FileRecord& values);
    void JournalDirectoryLocked(const DirectoryRecord& r);
    void JournalFileLocked(const std::string& dir, const FileRecord& f);
    // One change read back from the journal at start-up.
    void Replay(const JournalFormat::Entry& e);
    // The files on disk of a recorded directory against its file records.
    int RepairFiles(const std::string& dir, const std::vector<FileRecord>& records);
    int StartWork(std::function<void()> work);

    // With the directory lock held.
    Entry* FindLocked(std::string_view path);
    const Entry* FindLocked(std::string_view path) const;
    // The file's record unless it is missing or marked deleted; `entry` gets its directory.
    FileRecord* LiveFileLocked(const std::string& dir, const std::string& name, Entry*& entry);
    Entry& CreateLocked(DirectoryRecord record);
    void MarkDeletedLocked(Entry& e);
    void MarkFilesDirtyLocked(Entry& e);
    void RekeyLocked(EntryList::iterator it, std::string newPath);
    void IndexLocked(EntryList::iterator it);
    // The nearest ancestor directory of `path` (itself included when it ends in '\') for which
    // `wanted` holds.
    const Entry* NearestLocked(std::string_view path,
                               const std::function<bool(const DirectoryRecord&)>& wanted) const;

    // Disk work of Load and Check. `under` limits the check to the records below a prefix.
    int CheckRecords(const std::string* under);
    void ReadFileList(Entry& e, int32_t storedId);
    void WarnUnstorable(std::string_view what);

    ServerSite& site_;
    mutable Lock directoryLock_;
    mutable Lock fileLock_;
    std::mutex syncLock_;  // one write-back at a time; taken before the directory lock
    EntryList entries_;
    // Keys are views of the entries' own paths; deleted entries are not in it.
    std::unordered_map<std::string_view, EntryList::iterator> byPath_;
    std::unordered_map<int32_t, Entry*> byId_;
    int32_t maxId_ = 0;
    bool directoriesChanged_ = false;  // orvex.fs must be written
    std::vector<Entry*> dirtyFiles_;
    std::vector<int32_t> removedLists_;  // file lists to delete once orvex.fs no longer names them
    uint64_t tableDigest_ = 0;           // of orvex.fs as last read or written
    FsJournal journal_;
    DupeLog dupes_;
    std::atomic<bool> busy_{false};
    std::atomic<int64_t> lastSync_;
    std::atomic<int64_t> lastCheck_;
};

}  // namespace orvex
