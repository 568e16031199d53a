// The filesystem's files: the start-up load, the write-back and the check against the disk.

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <unordered_map>
#include <unordered_set>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "engine/os/AtomicFile.h"
#include "server/accounts/AccountStore.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/fs/Filesystem.h"
#include "server/fs/RecordFormat.h"

namespace orvex {

namespace {

// A site with a million directories still fits; anything larger is no table of ours.
constexpr size_t kMaxTableFile = size_t(1) << 30;

enum class OnDisk { Missing, Directory, File, Link, Unknown };

// Only "does not exist" is Missing: a tree that cannot be read now, or a mount that is away,
// keeps its records.
OnDisk Examine(std::string_view path) {
    std::string os = FileUtil::OsPath(path);
    if (os.size() > 1 && os.back() == '/') os.pop_back();
    struct stat st {};
    if (lstat(os.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? OnDisk::Missing : OnDisk::Unknown;
    if (S_ISLNK(st.st_mode)) return OnDisk::Link;
    return S_ISDIR(st.st_mode) ? OnDisk::Directory : OnDisk::File;
}

// Whether `path` lies below a symbolic link found between `top` and itself. The answers for
// every directory on the way are kept, so each is examined once per check.
bool UnderLink(const std::string& path, const std::string& top,
               std::unordered_map<std::string, bool>& links) {
    if (!RecordFormat::KeyUnder(path, top)) return false;
    for (size_t end = path.find('\\', top.size());
         end != std::string::npos && end + 1 < path.size(); end = path.find('\\', end + 1)) {
        const std::string ancestor = path.substr(0, end + 1);
        auto [it, fresh] = links.try_emplace(ancestor, false);
        if (fresh) it->second = Examine(ancestor) == OnDisk::Link;
        if (it->second) return true;
    }
    return false;
}

}  // namespace

std::string Filesystem::FileListPath(int32_t id) const {
    return site_.MakeRootPath("fs/", StringUtil::Format("%ld.fs", static_cast<long>(id)));
}

int Filesystem::StartWork(std::function<void()> work) {
    // Busy from before the thread starts until its work is done: the shutdown waits on it, so
    // the site is never destroyed under a running write-back.
    bool idle = false;
    if (!busy_.compare_exchange_strong(idle, true)) return 2;
    if (ThreadUtil::StartThread([this, work = std::move(work)]() {
            work();
            busy_ = false;
        }))
        return 1;
    busy_ = false;
    return 0;
}

int Filesystem::StartSync() {
    return StartWork([this]() { Sync(); });
}

int Filesystem::StartCheck() {
    return StartWork([this]() { Check(true); });
}

void Filesystem::ReadFileList(Entry& e, int32_t storedId) {
    const std::optional<std::string> text = ReadWholeFile(FileListPath(storedId), kMaxTableFile);
    if (!text) return;
    FileTable& files = e.files;
    RecordFormat::ForEachRecord(*text, [&files](const RecordFormat::Fields& f) {
        if (std::optional<FileRecord> r = RecordFormat::ParseFileLine(f))
            files.records.push_back(std::move(*r));
    });
    files.Reindex();
    // A name read twice keeps its first line.
    bool repeated = false;
    for (size_t i = 1; i < files.byName.size(); ++i) {
        FileRecord& a = files.records[files.byName[i - 1]];
        FileRecord& b = files.records[files.byName[i]];
        if (!RecordFormat::SameKey(a.name, b.name)) continue;
        (files.byName[i] < files.byName[i - 1] ? a : b).deleted = true;
        repeated = true;
    }
    if (repeated) files.Purge();
    files.records.shrink_to_fit();
}

bool Filesystem::Load() {
    const std::string path = site_.MakeRootPath("fs/", "orvex.fs");
    if (path.empty()) return false;
    {
        LockGuard d(directoryLock_);
        LockGuard f(fileLock_);
        const std::optional<std::string> text = ReadWholeFile(path, kMaxTableFile);
        if (!text) {
            site_.LogProgram("MAIN", "WARNING: unable to open file %s for reading.",
                             FileUtil::OsPath(path).c_str());
            return false;
        }
        tableDigest_ = JournalFormat::Digest(*text);
        std::vector<DirectoryRecord> read;
        std::unordered_set<std::string> seenPaths;
        RecordFormat::ForEachRecord(*text, [&](const RecordFormat::Fields& fields) {
            std::optional<DirectoryRecord> r = RecordFormat::ParseDirectoryLine(fields);
            if (!r || FindLocked(r->path) || !seenPaths.insert(r->path).second) return;
            maxId_ = std::max(maxId_, r->id);
            read.push_back(std::move(*r));
        });
        // An id that cannot name a file list of its own (0 or less, or taken by an earlier line)
        // gets a fresh one; the first holder of a stored id keeps the files stored under it.
        std::unordered_set<int32_t> seenIds;
        byPath_.reserve(byPath_.size() + read.size());
        byId_.reserve(byId_.size() + read.size());
        for (DirectoryRecord& r : read) {
            const int32_t stored = r.id;
            const bool first = seenIds.insert(stored).second;
            const bool fresh = stored <= 0 || !first;
            if (fresh) {
                r.id = maxId_ + 1;
                r.changed = true;
                directoriesChanged_ = true;
            }
            Entry& e = CreateLocked(std::move(r));
            if (!first) continue;
            ReadFileList(e, stored);
            if (fresh && !e.files.records.empty()) {
                for (FileRecord& file : e.files.records) file.changed = true;
                MarkFilesDirtyLocked(e);
            }
        }
    }
    LoadDupes();
    const std::vector<JournalFormat::Entry> changes = journal_.Recover(tableDigest_);
    for (const JournalFormat::Entry& e : changes) Replay(e);
    if (!changes.empty())
        site_.LogProgram("MAIN", "Replayed %zu changes of the filesystem journal.", changes.size());
    journal_.Open();
    return true;
}

int Filesystem::Sync() {
    std::lock_guard<std::mutex> one(syncLock_);
    std::string table;
    bool writeTable = false;
    std::vector<std::pair<int32_t, std::string>> lists;
    std::vector<int32_t> removed;
    std::vector<std::string> unstorable;
    bool journaled;
    {
        LockGuard g(directoryLock_);
        // Changes from here on go to a fresh journal; the ones before are in this write-back.
        journaled = journal_.BeginFold();
        for (Entry* e : dirtyFiles_) {
            e->filesDirty = false;
            if (e->record.deleted) continue;
            std::string text = RecordFormat::FileListHeader(e->record.id);
            for (FileRecord& f : e->files.records) {
                f.changed = false;
                if (f.deleted) continue;
                const std::string line = RecordFormat::FormatFileLine(f);
                if (line.empty())
                    unstorable.push_back(e->record.path + f.name);
                else
                    text += line;
            }
            e->files.Purge();
            lists.emplace_back(e->record.id, std::move(text));
        }
        dirtyFiles_.clear();
        if (directoriesChanged_) {
            directoriesChanged_ = false;
            writeTable = true;
            table = RecordFormat::kDirectoryHeader;
            for (auto it = entries_.begin(); it != entries_.end();) {
                if (it->record.deleted) {
                    removed.push_back(it->record.id);
                    auto id = byId_.find(it->record.id);
                    if (id != byId_.end() && id->second == &*it) byId_.erase(id);
                    it = entries_.erase(it);
                    continue;
                }
                it->record.changed = false;
                const std::string line = RecordFormat::FormatDirectoryLine(it->record);
                if (line.empty())
                    unstorable.push_back(it->record.path);
                else
                    table += line;
                ++it;
            }
        }
    }
    for (const std::string& name : unstorable) WarnUnstorable(name);

    int written = 0;
    bool tableFailed = false;
    std::vector<int32_t> listsFailed;
    {
        LockGuard f(fileLock_);
        for (const auto& [id, text] : lists) {
            if (WriteFileAtomically(FileListPath(id), text))
                ++written;
            else
                listsFailed.push_back(id);
        }
    }
    bool dupesFailed = false;
    dupes_.Write(0, &dupesFailed);
    // orvex.fs goes last: once it is written, so is everything else the folded journal held,
    // and the seal tells a start-up so. Until then the journal is replayed over the old one.
    const bool othersWritten = listsFailed.empty() && !dupesFailed;
    const uint64_t digest = writeTable ? JournalFormat::Digest(table) : tableDigest_;
    const bool sealed = othersWritten && (!journaled || journal_.SealFold(digest));
    {
        LockGuard f(fileLock_);
        removedLists_.insert(removedLists_.end(), removed.begin(), removed.end());
        if (writeTable) {
            if (sealed && WriteFileAtomically(site_.MakeRootPath("fs/", "orvex.fs"), table)) {
                ++written;
                tableDigest_ = digest;
            } else {
                tableFailed = true;
            }
        }
        if (!tableFailed) {
            for (int32_t id : removedLists_) FileUtil::RemoveFile(FileListPath(id));
            removedLists_.clear();
        }
    }
    if (sealed && !tableFailed && journaled) journal_.EndFold();
    // What could not be written stays marked, so the next write-back tries again.
    if (tableFailed || !listsFailed.empty()) {
        LockGuard g(directoryLock_);
        if (tableFailed) directoriesChanged_ = true;
        for (int32_t id : listsFailed) {
            auto it = byId_.find(id);
            if (it != byId_.end() && !it->second->record.deleted) MarkFilesDirtyLocked(*it->second);
        }
    }
    if (tableFailed)
        site_.LogProgram("MAIN", "WARNING: unable to write file %s.",
                         FileUtil::OsPath(site_.MakeRootPath("fs/", "orvex.fs")).c_str());
    for (int32_t id : listsFailed)
        site_.LogProgram("MAIN", "WARNING: unable to write file %s.",
                         FileUtil::OsPath(FileListPath(id)).c_str());
    lastSync_ = Clock::NowSeconds();
    return written;
}

int Filesystem::Check(bool syncAfterwards) {
    const int count = CheckRecords(nullptr);
    if (syncAfterwards && count > 0) Sync();
    lastCheck_ = Clock::NowSeconds();
    return count;
}

int Filesystem::CheckTree(std::string_view prefix) {
    if (prefix.empty()) return 0;
    std::string under(prefix);
    FileUtil::ToBackslashes(under);
    FileUtil::AddTrailingSep(under);
    return CheckRecords(&under);
}

int Filesystem::CheckRecords(const std::string* under) {
    std::vector<std::string> paths;
    {
        LockGuard g(directoryLock_);
        if (!under) paths.reserve(byPath_.size());
        for (const Entry& e : entries_)
            if (!e.record.deleted && (!under || RecordFormat::KeyUnder(e.record.path, *under)))
                paths.push_back(e.record.path);
    }
    // Sorted, a directory comes before everything below it, which its marking covers.
    std::sort(paths.begin(), paths.end());
    std::string top = site_.Config().GetRootPath();
    FileUtil::ToBackslashes(top);
    FileUtil::AddTrailingSep(top);
    std::unordered_map<std::string, bool> links;
    const std::string* gone = nullptr;
    int count = 0;
    for (const std::string& path : paths) {
        if (gone && RecordFormat::KeyUnder(path, *gone)) continue;
        // Never through a link: what lies behind one is not this tree's to judge.
        if (UnderLink(path, top, links)) continue;
        switch (Examine(path)) {
            case OnDisk::Missing:
            case OnDisk::File:
                count += DeleteDirectories(path);
                gone = &path;
                continue;
            case OnDisk::Link:
                links[path] = true;
                continue;
            case OnDisk::Unknown:
                continue;
            case OnDisk::Directory:
                break;
        }
        const std::optional<DirectoryRecord> copy = GetDirectory(path, true);
        if (!copy || !copy->files) continue;
        for (const FileRecord& f : *copy->files) {
            const std::string file = path + f.name;
            const OnDisk state = Examine(file);
            if (state == OnDisk::Missing || state == OnDisk::Directory)
                count += DeleteFileRecord(file);
        }
        if (!under) count += RepairFiles(path, *copy->files);
    }
    return count;
}

int Filesystem::RepairFiles(const std::string& dir, const std::vector<FileRecord>& records) {
    std::vector<FileUtil::DirEntry> onDisk;
    if (!FileUtil::ListDirectory(dir, onDisk)) return 0;
    std::unordered_map<std::string_view, const FileRecord*> byName;
    for (const FileRecord& f : records) byName.emplace(f.name, &f);
    int count = 0;
    for (const FileUtil::DirEntry& entry : onDisk) {
        if (entry.type != FileUtil::EntryType::File || IsTemporaryName(entry.name)) continue;
        const std::string shown = FileUtil::OsPath(dir + entry.name);
        auto found = byName.find(entry.name);
        if (found != byName.end()) {
            // An upload cut off by a crash was recorded at its start, before its size was known.
            if (found->second->size == entry.size) continue;
            FileRecord values = *found->second;
            values.size = entry.size;
            if (!PutFile(dir, values)) continue;
            site_.LogProgram("MAIN", "FSCK: size of %s set to %llu bytes.", shown.c_str(),
                             static_cast<unsigned long long>(entry.size));
            ++count;
            continue;
        }
        if (!RecordFormat::IsStorableText(entry.name)) continue;
        const std::optional<DupeRecord> dupe = dupes_.Named(entry.name);
        std::string user;
        uint32_t uid = 0, gid = 0;
        if (!dupe || !site_.Accounts().UserNameOf(static_cast<int32_t>(dupe->uploader), user) ||
            !site_.EntryIds(user, uid, gid))
            continue;
        FileRecord values;
        values.name = entry.name;
        values.permissions = kDefaultFileMode;
        values.owner = uid;
        values.group = gid;
        values.size = entry.size;
        if (!PutFile(dir, values)) continue;
        site_.LogProgram("MAIN", "FSCK: %s recorded for its uploader %s.", shown.c_str(),
                         user.c_str());
        ++count;
    }
    return count;
}

}  // namespace orvex
