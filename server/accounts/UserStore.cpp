#include "server/accounts/UserStore.h"

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "engine/os/AtomicFile.h"
#include "engine/os/FileLock.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/Credits.h"
#include "server/accounts/GroupStore.h"
#include "server/accounts/UserName.h"

namespace orvex {
namespace {

// A file that other programs keep changing during an update is read and changed again this many
// times, a short pause apart, before the update gives up.
constexpr int kUpdateAttempts = 3;
constexpr uint32_t kUpdatePauseMs = 20;

// Whether the text of the file at `path` differs from the one last read or written (`known`).
// The text itself is compared: two writes within one tick of the file system's clock can leave
// the same stamp. A file that is gone is not changed: the write puts it back.
bool ChangedSince(const std::string& path, uint64_t known) {
    const std::optional<std::string> text = ReadWholeFile(path);
    return text && TextDigest(*text) != known;
}

// Ids are only ever handed out here, so they stay positive.
int32_t NextId(const KeyedList<UserRecord>& list) {
    return static_cast<int32_t>(list.MaxId()) + 1;
}

}  // namespace

UserStore::UserStore(AccountStore* accounts, GroupStore* groups, AccountLog log)
    : accounts_(accounts), groups_(groups), log_(std::move(log)) {}

void UserStore::Configure(std::string usersDir, LocalHome local) {
    LockGuard g(lock_);
    if (!usersDir.empty()) FileUtil::AddTrailingSep(usersDir);
    usersDir_ = std::move(usersDir);
    local_ = std::move(local);
}

void UserStore::SetPropagateHook(PropagateHook hook) {
    LockGuard g(lock_);
    propagate_ = std::move(hook);
}

void UserStore::Log(const std::string& line) const {
    if (log_) log_(line);
}

bool UserStore::LoadUsers() {
    LockGuard g(lock_);
    if (usersDir_.empty()) return false;
    FileUtil::DirectoryScan scan(usersDir_);
    if (!scan.Ok()) {
        Log(StringUtil::Format("WARNING: unable open users directory '%s' for listing.",
                               usersDir_.c_str()));
        Log("WARNING: no users could be loaded.");
        return true;
    }
    std::string entry;
    while (scan.Next(entry)) {
        // Templates and backups carry a dot; the temporary files of rewrites start with one.
        if (IsTemporaryName(entry)) continue;
        if (!IsSharedName(entry) && entry.find('.') != std::string::npos) continue;
        if (!IsValidLocalName(std::string_view(entry).substr(0, entry.find('$')))) {
            Log(StringUtil::Format("WARNING: '%s' is an invalid user file name.", entry.c_str()));
            continue;
        }
        if (users_.FindName(entry, true)) continue;
        UserRecord rec;
        const std::string path = PathLocked(entry);
        if (!ReadUserFile(path, entry, local_, rec, log_)) {
            Log(StringUtil::Format("WARNING: unable to open file %s for reading.", path.c_str()));
            continue;
        }
        users_.Create(NextId(users_), entry, std::move(rec));
    }
    return true;
}

std::optional<std::string> UserStore::FileNameLocked(std::string_view name) const {
    if (usersDir_.empty() || !IsValidUserName(name)) return std::nullopt;
    if (FileUtil::Kind(PathLocked(name)) == 2) return std::string(name);
    FileUtil::DirectoryScan scan(usersDir_);
    std::string entry;
    while (scan.Ok() && scan.Next(entry))
        if (!IsTemporaryName(entry) && StringUtil::EqualNoCase(entry, name)) return entry;
    return std::nullopt;
}

UserStore::Node* UserStore::LookupLocked(std::string_view name, bool check) {
    if (Node* n = users_.FindName(name, true)) {
        if (check && !usersDir_.empty()) {
            const std::string path = PathLocked(*n->name);
            FileStamp stamp;
            int64_t created = 0;
            UserRecord fresh;
            // A file that cannot be read now keeps the record, and is tried again next time.
            if (ReadUserFileStamps(path, stamp, created) && !(stamp == n->data.fileStamp) &&
                ReadUserFile(path, *n->name, local_, fresh, log_))
                n->data = std::move(fresh);
        }
        return n;
    }
    const std::optional<std::string> file = FileNameLocked(name);
    if (!file) return nullptr;
    UserRecord rec;
    if (!ReadUserFile(PathLocked(*file), *file, local_, rec, log_)) return nullptr;
    return &users_.Create(NextId(users_), *file, std::move(rec));
}

std::optional<UserRecord> UserStore::FindUser(std::string_view name, std::string* storedName) {
    LockGuard g(lock_);
    Node* n = LookupLocked(name, true);
    if (!n) return std::nullopt;
    if (storedName) *storedName = *n->name;
    return n->data;
}

bool UserStore::HasUser(std::string_view name, std::string* storedName) {
    LockGuard g(lock_);
    Node* n = LookupLocked(name, false);
    if (n && storedName) *storedName = *n->name;
    return n != nullptr;
}

bool UserStore::WriteLocked(const std::string& fileName, UserRecord& rec) {
    const std::string path = PathLocked(fileName);
    const FileLock edit(path);
    if (edit.Blocked()) {
        Log(StringUtil::Format("WARNING: unable to lock file %s.", path.c_str()));
        return false;
    }
    if (WriteUserFile(path, rec)) return true;
    Log(StringUtil::Format("WARNING: unable to open user file '%s' for writing.", path.c_str()));
    return false;
}

void UserStore::Propagate(uint32_t connection, const std::string& name, const UserRecord& rec) {
    PropagateHook hook;
    {
        LockGuard g(lock_);
        hook = propagate_;
    }
    if (connection != 0 && hook) hook(connection, name, rec);
}

bool UserStore::SaveUser(const UserRecord& record, uint32_t connection, std::string_view name) {
    std::string stored;
    UserRecord saved;
    {
        LockGuard g(lock_);
        Node* n = users_.FindName(name, true);
        if (n) {
            // The stamps stay those of the file as it is until the write succeeds.
            const FileStamp stamp = n->data.fileStamp;
            const int64_t created = n->data.fileCreated;
            const uint64_t digest = n->data.fileDigest;
            n->data = record;
            n->data.fileStamp = stamp;
            n->data.fileCreated = created;
            n->data.fileDigest = digest;
        } else {
            if (usersDir_.empty() || !IsValidUserName(name)) return false;
            n = &users_.Create(NextId(users_), FileNameLocked(name).value_or(std::string(name)),
                               record);
            n->data.fileStamp = {};
            n->data.fileDigest = 0;
        }
        if (!WriteLocked(*n->name, n->data)) return false;
        stored = *n->name;
        saved = n->data;
    }
    Propagate(connection, stored, saved);
    return true;
}

UserStore::Update UserStore::Rewrite(const std::string& path, const std::string& stored,
                                     const LocalHome& local, UserRecord& current,
                                     const std::function<bool(UserRecord&)>& change,
                                     Durability durability,
                                     const std::function<void(const UserRecord&)>& keep) {
    for (int attempt = 1; attempt <= kUpdateAttempts; ++attempt) {
        if (attempt > 1) Clock::SleepMs(kUpdatePauseMs);
        // Another program's change is read first. A record whose last write failed keeps its
        // change as long as nobody else touched the file.
        if (ChangedSince(path, current.fileDigest)) {
            UserRecord fresh;
            if (!ReadUserFile(path, stored, local, fresh, log_)) continue;  // half written?
            current = std::move(fresh);
            keep(current);
        }
        UserRecord copy = current;
        if (!change(copy)) return Update::Unchanged;
        copy.fileStamp = current.fileStamp;
        copy.fileCreated = current.fileCreated;
        copy.fileDigest = current.fileDigest;
        // A program that ignores the lock may write meanwhile: its file is then read and
        // changed again rather than replaced.
        bool changed = false;
        const bool written = WriteUserFile(
            path, copy, true,
            [&]() {
                changed = ChangedSince(path, current.fileDigest);
                return !changed;
            },
            durability);
        if (changed) continue;
        current = std::move(copy);
        keep(current);
        if (written) return Update::Saved;
        Log(StringUtil::Format("WARNING: unable to open user file '%s' for writing.",
                               path.c_str()));
        return Update::WriteFailed;
    }
    Log(StringUtil::Format("WARNING: user file '%s' kept changing; left as it is.", path.c_str()));
    return Update::WriteFailed;
}

UserStore::Update UserStore::UpdateUser(std::string_view name,
                                        const std::function<bool(UserRecord&)>& change,
                                        uint32_t connection, Change kind) {
    if (kind == Change::Counters) return UpdateCounters(name, change, connection);
    std::string stored;
    UserRecord saved;
    {
        LockGuard g(lock_);
        Node* n = LookupLocked(name, false);
        if (!n) return Update::Unknown;
        const std::string path = PathLocked(*n->name);
        // Held from the read to the write, so a tool or an editor that takes it too never has its
        // change overwritten.
        const FileLock edit(path);
        if (edit.Blocked()) {
            Log(StringUtil::Format("WARNING: unable to lock file %s.", path.c_str()));
            return Update::WriteFailed;
        }
        UserRecord current = n->data;
        const Update result = Rewrite(path, *n->name, local_, current, change, Durability::Synced,
                                      [n](const UserRecord& rec) { n->data = rec; });
        if (result != Update::Saved) return result;
        stored = *n->name;
        saved = n->data;
    }
    Propagate(connection, stored, saved);
    return Update::Saved;
}

UserStore::Update UserStore::UpdateCounters(std::string_view name,
                                            const std::function<bool(UserRecord&)>& change,
                                            uint32_t connection) {
    // Every login and transfer counts here: the store's lock is held only to copy the record in
    // and out, so that the look-ups and logins of everyone else never wait for this user's disk.
    std::string stored, path;
    LocalHome local;
    std::shared_ptr<std::mutex> serial;
    {
        LockGuard g(lock_);
        Node* n = LookupLocked(name, false);
        if (!n) return Update::Unknown;
        stored = *n->name;
        path = PathLocked(stored);
        local = local_;
        std::shared_ptr<std::mutex>& slot = counterLocks_[StringUtil::Lowered(stored)];
        if (!slot) slot = std::make_shared<std::mutex>();
        serial = slot;
    }
    const std::lock_guard<std::mutex> oneAtATime(*serial);
    UserRecord current;
    {
        LockGuard g(lock_);
        Node* n = LookupLocked(stored, false);
        if (!n) return Update::Unknown;
        current = n->data;
    }
    Update result = Update::WriteFailed;
    bool renewed = false;  // read again or written: the store takes the record over
    {
        // The store's lock is never taken while the file's is held: an operator's update takes
        // them the other way round.
        const FileLock edit(path);
        if (edit.Blocked()) {
            Log(StringUtil::Format("WARNING: unable to lock file %s.", path.c_str()));
            return Update::WriteFailed;
        }
        // Deleted or renamed since the record was copied: counters never bring the file back.
        if (FileUtil::Kind(path) == 0) return Update::Unknown;
        result = Rewrite(path, stored, local, current, change, Durability::Deferred,
                         [&renewed](const UserRecord&) { renewed = true; });
    }
    {
        LockGuard g(lock_);
        Node* n = renewed ? LookupLocked(stored, false) : nullptr;
        if (n) n->data = current;
        if (result != Update::Saved) return result;
        unsynced_.insert(path);
    }
    Propagate(connection, stored, current);
    return Update::Saved;
}

UserRecord UserStore::TemplateFor(std::string_view group) {
    LockGuard g(lock_);
    UserRecord rec;
    if (!group.empty() && IsValidLocalName(group)) {
        const std::string name = "default." + std::string(group);
        if (ReadUserFile(PathLocked(name), name, local_, rec, log_)) return rec;
    }
    if (ReadUserFile(PathLocked("default.user"), "default.user", local_, rec, log_)) return rec;
    rec = FreshUserRecord({}, local_);
    rec.maxDownloads = rec.maxUploads = 0;
    return rec;
}

int UserStore::AddUser(std::string_view name, std::string_view password, std::string_view creator,
                       std::string_view group, bool creatorHome, std::string_view withoutFlags) {
    if (!IsValidLocalName(name) || !accounts_) return 0;
    UserRecord rec = TemplateFor(group);
    rec.fileStamp = {};
    std::erase_if(rec.flags, [withoutFlags](char f) {
        return withoutFlags.find(f) != std::string_view::npos;
    });
    int32_t groupId = -1;
    if (!group.empty()) {
        rec.group = std::string(group.substr(0, kUserTextMax));
        if (groups_) groupId = groups_->GroupIdOf(group);
    }
    if (!creator.empty())
        rec.comment = StringUtil::FormatBounded(kUserTextMax + 1, "Added by %.*s",
                                                static_cast<int>(creator.size()), creator.data());
    std::string home;
    if (creatorHome && !creator.empty())
        if (std::optional<Account> a = accounts_->FindAccount(creator)) home = a->home;

    LockGuard g(lock_);
    if (usersDir_.empty()) return 0;
    if (users_.FindName(name, true) || FileNameLocked(name)) return 2;
    const std::string path = PathLocked(name);
    // The checks run again under the file's lock, so that two programs adding the same name never
    // both pass them.
    const FileLock edit(path);
    if (edit.Blocked()) {
        Log(StringUtil::Format("WARNING: unable to lock file %s.", path.c_str()));
        return 0;
    }
    if (users_.FindName(name, true) || FileNameLocked(name)) return 2;
    if (accounts_->FindAccount(name)) return 2;
    if (!WriteUserFile(path, rec, false)) {
        Log(StringUtil::Format("WARNING: unable to open user file '%s' for writing.",
                               path.c_str()));
        return 0;
    }
    const int added = accounts_->AddAccount(name, password, groupId, home);
    if (added != 1) {
        FileUtil::RemoveFile(path);
        return added == 2 ? 2 : 0;
    }
    users_.Create(NextId(users_), std::string(name), std::move(rec));
    return 1;
}

bool UserStore::DeleteUser(std::string_view name) {
    std::string stored;
    {
        LockGuard g(lock_);
        Node* n = LookupLocked(name, false);
        if (!n) return false;
        stored = *n->name;
        // The file goes under the lock, so no lookup can read the user back in meanwhile.
        const std::string path = PathLocked(stored);
        const FileLock edit(path);
        if (edit.Blocked()) return false;
        if (!FileUtil::RemoveFile(path) && FileUtil::Kind(path) != 0) return false;
        users_.Release(n);
    }
    if (accounts_) {
        if (IsSharedName(stored))
            accounts_->DeleteRemoteLogin(stored);
        else
            accounts_->DeleteAccount(stored);
    }
    return true;
}

int UserStore::RenameUser(std::string_view oldName, std::string_view newName) {
    if (!IsValidLocalName(newName) || IsSharedName(oldName) || !accounts_) return 0;
    LockGuard g(lock_);
    Node* n = LookupLocked(oldName, false);
    if (!n) return 0;
    // Only the user itself may already answer to the new name: a change of case.
    Node* clash = LookupLocked(newName, false);
    if ((clash && clash != n) || (!clash && FileNameLocked(newName))) return 2;
    if (*n->name == newName) return 1;
    const std::string from = PathLocked(*n->name);
    const std::string to = PathLocked(newName);
    const FileLock edit(from);
    if (edit.Blocked() || !FileUtil::Rename(from, to)) return 0;
    const int renamed = accounts_->RenameAccount(*n->name, newName);
    if (renamed != 1) {
        FileUtil::Rename(to, from);
        return renamed == 2 ? 2 : 0;
    }
    n = users_.Rekey(n, n->id, std::string(newName));
    ReadUserFileStamps(to, n->data.fileStamp, n->data.fileCreated);
    return 1;
}

KeyedList<UserRecord> UserStore::ListUsers(int kind) {
    LockGuard g(lock_);
    KeyedList<UserRecord> copy("userlist header");
    for (const auto& n : users_) {
        const bool shared = IsSharedName(n.name.value_or(""));
        if ((kind == kLocalUsers && shared) || (kind == kSharedUsers && !shared)) continue;
        copy.Create(n.id, n.name, n.data);
    }
    return copy;
}

uint32_t UserStore::GetDownloadSpeedLimit(std::string_view name) {
    LockGuard g(lock_);
    Node* n = LookupLocked(name, true);
    return n && n->data.maxDownloadSpeed > 0 ? static_cast<uint32_t>(n->data.maxDownloadSpeed) : 0;
}

uint32_t UserStore::GetUploadSpeedLimit(std::string_view name) {
    LockGuard g(lock_);
    Node* n = LookupLocked(name, true);
    return n && n->data.maxUploadSpeed > 0 ? static_cast<uint32_t>(n->data.maxUploadSpeed) : 0;
}

bool UserStore::RecordLogin(uint32_t connection, std::string_view name, int64_t now) {
    if (now == 0) now = Clock::NowSeconds();
    // The period resets look at the previous login, so they come before it is replaced.
    return UpdateUser(
               name,
               [now](UserRecord& r) {
                   Credits::ApplyPeriodResets(r, now);
                   ++r.loginCount;
                   r.lastLogin = static_cast<uint32_t>(now);
                   return true;
               },
               connection, Change::Counters) == Update::Saved;
}

int UserStore::FlushCounters() {
    std::set<std::string> paths;
    {
        LockGuard g(lock_);
        paths.swap(unsynced_);
    }
    // Synced outside the lock: logins and transfers never wait for the disk.
    int synced = 0;
    for (const std::string& path : paths)
        if (SyncWrittenFile(path)) ++synced;
    return synced;
}

bool UserStore::CheckSessionLimits(std::string_view name, int64_t lastActivity, int64_t loginTime,
                                   int activeTransfers, int64_t now) {
    if (now == 0) now = Clock::NowSeconds();
    LockGuard g(lock_);
    Node* n = LookupLocked(name, true);
    if (!n) return false;
    const UserRecord& r = n->data;
    const bool idleOk = r.idleLimit == 0 || activeTransfers > 0 || now - lastActivity < r.idleLimit;
    const bool timeOk = r.timeLimit == 0 || (now - loginTime) / 60 < r.timeLimit;
    return idleOk && timeOk;
}

}  // namespace orvex
