// The records in memory: lookups, changes and the inherited settings.

#include "server/fs/Filesystem.h"

#include <algorithm>
#include <limits>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/fs/RecordFormat.h"

namespace orvex {

namespace {

std::string Backslashed(std::string_view path) {
    std::string p(path);
    FileUtil::ToBackslashes(p);
    return p;
}

std::string DirectoryKey(std::string_view path) {
    std::string p = Backslashed(path);
    FileUtil::AddTrailingSep(p);
    return p;
}

// Directory part (up to and including the last '\') and base name of a file path.
bool SplitFilePath(std::string_view path, std::string& dir, std::string& name) {
    const std::string p = Backslashed(path);
    dir = FileUtil::DirName(p);
    if (dir.empty() || dir == p) return false;
    name = p.substr(dir.size());
    return true;
}

std::string Mode(const char* permissions, const char* fallback) {
    std::string m = permissions ? permissions : fallback;
    if (m.size() > kModeMax) m.resize(kModeMax);
    return m;
}

bool ValidOwner(uint32_t owner) {
    return static_cast<int32_t>(owner) > 0;
}

}  // namespace

Filesystem::Filesystem(ServerSite& site)
    : site_(site),
      journal_(site),
      dupes_(site, fileLock_, &journal_),
      lastSync_(Clock::NowSeconds()),
      lastCheck_(Clock::NowSeconds()) {}

Filesystem::~Filesystem() = default;

// ---- file tables ----

FileRecord* Filesystem::FileTable::Find(std::string_view name) {
    auto it = std::lower_bound(byName.begin(), byName.end(), name, [this](uint32_t i, auto n) {
        return std::string_view(records[i].name) < n;
    });
    if (it == byName.end() || !RecordFormat::SameKey(records[*it].name, name)) return nullptr;
    return &records[*it];
}

const FileRecord* Filesystem::FileTable::Find(std::string_view name) const {
    return const_cast<FileTable*>(this)->Find(name);
}

FileRecord& Filesystem::FileTable::Add(FileRecord record) {
    const uint32_t position = static_cast<uint32_t>(records.size());
    auto it = std::lower_bound(
        byName.begin(), byName.end(), std::string_view(record.name),
        [this](uint32_t i, auto n) { return std::string_view(records[i].name) < n; });
    records.push_back(std::move(record));
    byName.insert(it, position);
    return records.back();
}

void Filesystem::FileTable::Reindex() {
    byName.resize(records.size());
    for (uint32_t i = 0; i < byName.size(); ++i) byName[i] = i;
    std::sort(byName.begin(), byName.end(),
              [this](uint32_t a, uint32_t b) { return records[a].name < records[b].name; });
}

void Filesystem::FileTable::Purge() {
    const size_t before = records.size();
    std::erase_if(records, [](const FileRecord& f) { return f.deleted; });
    if (records.size() != before) Reindex();
}

// ---- lookups ----

Filesystem::Entry* Filesystem::FindLocked(std::string_view path) {
    auto it = byPath_.find(path);
    return it == byPath_.end() ? nullptr : &*it->second;
}

const Filesystem::Entry* Filesystem::FindLocked(std::string_view path) const {
    auto it = byPath_.find(path);
    return it == byPath_.end() ? nullptr : &*it->second;
}

Filesystem::Entry& Filesystem::CreateLocked(DirectoryRecord record) {
    // A deleted record of the same path has already left the index: the new one replaces it,
    // and the old one's file list goes with the next write-back.
    entries_.push_back(Entry{std::move(record), {}, false});
    auto it = std::prev(entries_.end());
    IndexLocked(it);
    byId_[it->record.id] = &*it;
    maxId_ = std::max(maxId_, it->record.id);
    return *it;
}

void Filesystem::MarkDeletedLocked(Entry& e) {
    if (e.record.deleted) return;
    e.record.deleted = true;
    e.record.changed = true;
    auto it = byPath_.find(std::string_view(e.record.path));
    if (it != byPath_.end() && &*it->second == &e) byPath_.erase(it);
    directoriesChanged_ = true;
}

void Filesystem::MarkFilesDirtyLocked(Entry& e) {
    if (e.filesDirty) return;
    e.filesDirty = true;
    dirtyFiles_.push_back(&e);
}

void Filesystem::RekeyLocked(EntryList::iterator it, std::string newPath) {
    byPath_.erase(std::string_view(it->record.path));
    if (Entry* other = FindLocked(newPath)) MarkDeletedLocked(*other);
    it->record.path = std::move(newPath);
    it->record.changed = true;
    entries_.splice(entries_.end(), entries_, it);
    IndexLocked(it);
    directoriesChanged_ = true;
}

void Filesystem::IndexLocked(EntryList::iterator it) {
    // The key is a view of the entry's own path, so an old key must go before the new one.
    const std::string_view key(it->record.path);
    byPath_.erase(key);
    byPath_.emplace(key, it);
}

const Filesystem::Entry* Filesystem::NearestLocked(
    std::string_view path, const std::function<bool(const DirectoryRecord&)>& wanted) const {
    for (size_t end = path.rfind('\\'); end != std::string_view::npos;
         end = end == 0 ? std::string_view::npos : path.rfind('\\', end - 1)) {
        const Entry* e = FindLocked(path.substr(0, end + 1));
        if (e && wanted(e->record)) return e;
    }
    return nullptr;
}

std::optional<DirectoryRecord> Filesystem::GetDirectory(std::string_view path,
                                                        bool withFiles) const {
    const std::string key = Backslashed(path);
    LockGuard g(directoryLock_);
    const Entry* e = FindLocked(key);
    if (!e) return std::nullopt;
    DirectoryRecord copy = e->record;
    if (withFiles) {
        copy.files.emplace();
        for (const FileRecord& f : e->files.records)
            if (!f.deleted) copy.files->push_back(f);
    }
    return copy;
}

std::optional<FileRecord> Filesystem::GetFile(std::string_view path) const {
    std::string dir, name;
    if (!SplitFilePath(path, dir, name)) return std::nullopt;
    LockGuard g(directoryLock_);
    const Entry* e = FindLocked(dir);
    if (!e) return std::nullopt;
    const FileRecord* f = e->files.Find(name);
    if (!f || f->deleted) return std::nullopt;
    return *f;
}

KeyedList<DirectoryRecord> Filesystem::ListDirectories(size_t maximum,
                                                       const std::string* prefix) const {
    KeyedList<DirectoryRecord> out("Directory entries list");
    const std::string under = prefix ? Backslashed(*prefix) : std::string();
    LockGuard g(directoryLock_);
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        const DirectoryRecord& r = it->record;
        if (r.deleted) continue;
        if (prefix && (r.path.size() <= under.size() || !RecordFormat::KeyUnder(r.path, under)))
            continue;
        out.Create(r.id, r.path, r);
        if (maximum != 0 && out.Count() >= maximum) break;
    }
    return out;
}

size_t Filesystem::DirectoryCount() const {
    LockGuard g(directoryLock_);
    return byPath_.size();
}

size_t Filesystem::FileCount() const {
    LockGuard g(directoryLock_);
    size_t n = 0;
    for (const auto& [key, it] : byPath_)
        for (const FileRecord& f : it->files.records) n += f.deleted ? 0 : 1;
    return n;
}

// ---- changes ----

void Filesystem::WarnUnstorable(std::string_view what) {
    const std::string shown = FileUtil::OsPath(what);
    site_.LogProgram("MAIN", "WARNING: '%s' cannot be kept in the filesystem tables.",
                     shown.c_str());
}

void Filesystem::JournalDirectoryLocked(const DirectoryRecord& r) {
    journal_.Append('D', {r.path, std::to_string(r.id), r.permissions, std::to_string(r.owner),
                          std::to_string(r.group), std::to_string(r.ratio),
                          std::to_string(r.dupeDisable), std::to_string(r.mirrorId)});
}

void Filesystem::JournalFileLocked(const std::string& dir, const FileRecord& f) {
    journal_.Append(
        'F', {dir + f.name, f.permissions, std::to_string(f.owner), std::to_string(f.group),
              std::to_string(f.size), std::to_string(f.free), std::to_string(f.earnedRatio)});
}

int Filesystem::SetDirectory(std::string_view path, const char* permissions, uint32_t owner,
                             uint32_t group, int32_t ratio, int32_t dupeDisable, int32_t mirrorId,
                             bool update) {
    return SetDirectoryAs(path, permissions, owner, group, ratio, dupeDisable, mirrorId, update, 0);
}

int Filesystem::SetDirectoryAs(std::string_view path, const char* permissions, uint32_t owner,
                               uint32_t group, int32_t ratio, int32_t dupeDisable, int32_t mirrorId,
                               bool update, int32_t wantedId) {
    if (path.empty() || !ValidOwner(owner)) return 0;
    const std::string key = DirectoryKey(path);
    const std::string mode = Mode(permissions, kDefaultDirectoryMode);
    if (!RecordFormat::IsStorableText(key) || !RecordFormat::IsStorableText(mode)) {
        WarnUnstorable(key);
        return 0;
    }
    LockGuard g(directoryLock_);
    Entry* e = FindLocked(key);
    if (e && !update) return 2;
    if (!e) {
        if (maxId_ == std::numeric_limits<int32_t>::max()) return 0;
        DirectoryRecord r;
        r.path = key;
        // A replayed record takes the id it had, which names its file list.
        r.id = wantedId > 0 && !byId_.count(wantedId) ? wantedId : maxId_ + 1;
        e = &CreateLocked(std::move(r));
    }
    DirectoryRecord& r = e->record;
    r.permissions = mode;
    r.owner = owner;
    r.group = group;
    r.ratio = ratio;
    r.dupeDisable = dupeDisable;
    r.mirrorId = mirrorId;
    r.deleted = false;
    r.changed = true;
    directoriesChanged_ = true;
    JournalDirectoryLocked(r);
    return 1;
}

int Filesystem::SetFile(std::string_view path, const char* permissions, uint32_t owner,
                        uint32_t group, int64_t size, uint32_t free) {
    std::string dir, name;
    if (!ValidOwner(owner) || !SplitFilePath(path, dir, name)) return 0;
    const std::string mode = Mode(permissions, kDefaultFileMode);
    if (!RecordFormat::IsStorableText(name) || !RecordFormat::IsStorableText(mode)) {
        WarnUnstorable(dir + name);
        return 0;
    }
    // A directory first recorded for a file keeps the mode it had unrecorded: recording an
    // upload must not open the directory to everybody's writes.
    if (SetDirectory(dir, kUnknownDirectoryMode, owner, group, -1, 0, 0, false) == 0) return 0;
    FileRecord values;
    values.name = name;
    values.permissions = mode;
    values.owner = owner;
    values.group = group;
    values.size = static_cast<uint64_t>(size);
    values.free = free;
    if (size < 0) {
        FileInfo info;
        values.size = FileUtil::Stat(dir + name, info) ? info.size : 0;
    }
    if (!PutFile(dir, values)) return 0;
    dupes_.Add(owner, dir + name);
    return 1;
}

bool Filesystem::PutFile(const std::string& dir, const FileRecord& values) {
    LockGuard g(directoryLock_);
    Entry* e = FindLocked(dir);
    if (!e) return false;
    FileRecord* f = e->files.Find(values.name);
    if (!f) {
        FileRecord fresh;
        fresh.name = values.name;
        f = &e->files.Add(std::move(fresh));
    }
    // What an upload earned belongs to its owner and that file only.
    if (f->deleted || f->owner != values.owner) f->earnedRatio = -1;
    if (values.earnedRatio >= 0) f->earnedRatio = values.earnedRatio;
    f->permissions = values.permissions;
    f->owner = values.owner;
    f->group = values.group;
    f->size = values.size;
    f->free = values.free;
    f->deleted = false;
    f->changed = true;
    MarkFilesDirtyLocked(*e);
    JournalFileLocked(dir, *f);
    return true;
}

int Filesystem::UpdateDirectory(const DirectoryRecord& copy, std::string_view path) {
    const std::string key = Backslashed(path);
    LockGuard g(directoryLock_);
    Entry* e = FindLocked(key);
    if (!e) return 0;
    DirectoryRecord& r = e->record;
    r.permissions = copy.permissions.substr(0, kModeMax);
    r.owner = copy.owner;
    r.group = copy.group;
    r.ratio = copy.ratio;
    r.dupeDisable = copy.dupeDisable;
    r.mirrorId = copy.mirrorId;
    r.changed = true;
    directoriesChanged_ = true;
    JournalDirectoryLocked(r);
    if (copy.files) {
        e->files.records = *copy.files;
        for (FileRecord& f : e->files.records) f.changed = true;
        e->files.Reindex();
        MarkFilesDirtyLocked(*e);
        journal_.Append('E', {r.path});
        for (const FileRecord& f : e->files.records)
            if (!f.deleted) JournalFileLocked(r.path, f);
    }
    if (copy.deleted) {
        MarkDeletedLocked(*e);
        journal_.Append('X', {key});
    }
    return 1;
}

int Filesystem::MoveDirectories(std::string_view oldPrefix, std::string_view newPrefix) {
    if (oldPrefix.empty()) return 0;
    const std::string from = DirectoryKey(oldPrefix);
    const std::string to = DirectoryKey(newPrefix);
    LockGuard g(directoryLock_);
    std::vector<EntryList::iterator> moving;
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
        if (!it->record.deleted && RecordFormat::KeyUnder(it->record.path, from))
            moving.push_back(it);
    for (auto it : moving) {
        std::string path = to + it->record.path.substr(from.size());
        FileUtil::AddTrailingSep(path);
        RekeyLocked(it, std::move(path));
    }
    if (!moving.empty()) journal_.Append('M', {from, to});
    return static_cast<int>(moving.size());
}

int Filesystem::DeleteDirectories(std::string_view prefix) {
    if (prefix.empty()) return 0;
    const std::string under = DirectoryKey(prefix);
    LockGuard g(directoryLock_);
    int count = 0;
    for (Entry& e : entries_) {
        if (e.record.deleted || !RecordFormat::KeyUnder(e.record.path, under)) continue;
        MarkDeletedLocked(e);
        ++count;
    }
    if (count > 0) journal_.Append('d', {under});
    return count;
}

FileRecord* Filesystem::LiveFileLocked(const std::string& dir, const std::string& name,
                                       Entry*& entry) {
    entry = FindLocked(dir);
    FileRecord* f = entry ? entry->files.Find(name) : nullptr;
    return f && !f->deleted ? f : nullptr;
}

int Filesystem::DeleteFileRecord(std::string_view path) {
    std::string dir, name;
    if (!SplitFilePath(path, dir, name)) return 0;
    {
        LockGuard g(directoryLock_);
        Entry* e = nullptr;
        FileRecord* f = LiveFileLocked(dir, name, e);
        if (!f) return 0;
        f->deleted = true;
        f->changed = true;
        MarkFilesDirtyLocked(*e);
        journal_.Append('f', {dir + name});
    }
    // Exactly this name: a file called "*.nfo" must not take every .nfo entry with it.
    dupes_.RemoveName(name);
    return 1;
}

int Filesystem::MoveFileRecord(std::string_view oldPath, std::string_view newPath) {
    const std::optional<FileRecord> copy = GetFile(oldPath);
    if (!copy) return 0;
    DeleteFileRecord(oldPath);
    if (!SetFile(newPath, copy->permissions.c_str(), copy->owner, copy->group,
                 static_cast<int64_t>(copy->size), copy->free))
        return 0;
    if (copy->earnedRatio >= 0) SetEarnedRatio(newPath, copy->earnedRatio);
    return 1;
}

int Filesystem::SetEarnedRatio(std::string_view path, int32_t ratio) {
    std::string dir, name;
    if (!SplitFilePath(path, dir, name)) return 0;
    LockGuard g(directoryLock_);
    Entry* e = nullptr;
    FileRecord* f = LiveFileLocked(dir, name, e);
    if (!f) return 0;
    f->earnedRatio = ratio;
    f->changed = true;
    MarkFilesDirtyLocked(*e);
    JournalFileLocked(dir, *f);
    return 1;
}

// ---- inherited settings ----

int32_t Filesystem::EffectiveRatio(std::string_view path) const {
    std::string dir, name;
    const std::string p = Backslashed(path);
    LockGuard g(directoryLock_);
    if (SplitFilePath(p, dir, name)) {
        const Entry* e = FindLocked(dir);
        const FileRecord* f = e ? e->files.Find(name) : nullptr;
        if (f && !f->deleted && f->free != 0) return 0;
    } else {
        dir = FileUtil::DirName(p);
    }
    const Entry* e = NearestLocked(dir, [](const DirectoryRecord& r) { return r.ratio >= 0; });
    return e ? e->record.ratio : -1;
}

int32_t Filesystem::MirrorIdOf(std::string_view path) const {
    const std::string p = Backslashed(path);
    LockGuard g(directoryLock_);
    const Entry* e = NearestLocked(p, [](const DirectoryRecord& r) { return r.mirrorId > 0; });
    return e ? e->record.mirrorId : 0;
}

int32_t Filesystem::DupeDisabledFor(std::string_view path) const {
    const std::string dir = FileUtil::DirName(Backslashed(path));
    LockGuard g(directoryLock_);
    const Entry* e =
        NearestLocked(dir, [](const DirectoryRecord& r) { return r.dupeDisable != 0; });
    return e ? e->record.dupeDisable : 0;
}

std::optional<DupeRecord> Filesystem::FindDupe(std::string_view path) {
    if (site_.Config().GetDupeCheckDays() == 0 || DupeDisabledFor(path) != 0) return std::nullopt;
    return dupes_.Find(path);
}

void Filesystem::CollectOwnerIds(std::set<uint32_t>& users, std::set<uint32_t>& groups) const {
    {
        LockGuard d(directoryLock_);
        for (const Entry& e : entries_) {
            users.insert(e.record.owner);
            groups.insert(e.record.group);
            for (const FileRecord& file : e.files.records) {
                users.insert(file.owner);
                groups.insert(file.group);
            }
        }
    }
    dupes_.CollectUploaders(users);
}

}  // namespace orvex
