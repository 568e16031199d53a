#pragma once
// The user store: one record per user file in the users folder, loaded at start-up or on first
// use, refreshed when its file changes, and written back whole on every change. Lookups hand out
// copies; changes that depend on the current record go through UpdateUser.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/KeyedList.h"
#include "engine/ThreadUtil.h"
#include "server/accounts/AccountText.h"
#include "server/accounts/UserFile.h"
#include "server/accounts/UserRecord.h"

namespace orvex {

class AccountStore;
class GroupStore;

inline constexpr const char* kUserListName = "User List Header";

// Lock order: the user store may call the passwd and group stores while it holds its lock; they
// never call back, so the order is always users first. A counter update takes its user's counter
// lock first, and never takes the store's lock while it holds the user file's lock.
class UserStore {
  public:
    // Either store may be null; account creation, deletion and renaming then fail.
    UserStore(AccountStore* accounts, GroupStore* groups, AccountLog log = {});

    // The users folder (internal form, ending in a backslash) and the home of local users. Set
    // again after every configuration reload.
    void Configure(std::string usersDir, LocalHome local);

    // Hands a saved user to the other servers that share it; runs outside the lock after every
    // save made for a connection.
    using PropagateHook =
        std::function<void(uint32_t connection, const std::string& name, const UserRecord&)>;
    void SetPropagateHook(PropagateHook hook);

    // Start-up load of every user file; false only without a users folder path.
    bool LoadUsers();

    // A copy of the record, re-read first when its file changed; a user not yet listed is read
    // from its file. Names that are no valid user names never reach the disk. `storedName` gets
    // the stored spelling.
    std::optional<UserRecord> FindUser(std::string_view name, std::string* storedName = nullptr);
    // As FindUser without re-reading listed users.
    bool HasUser(std::string_view name, std::string* storedName = nullptr);

    // Replaces (or adds) the record and writes its file. False when the file cannot be written;
    // the listed record is replaced all the same.
    bool SaveUser(const UserRecord& record, uint32_t connection, std::string_view name);

    // Loads the current record, lets `change` edit it and writes it back, all in one step under
    // the lock and the user file's lock, so concurrent changes of one user are never lost, nor a
    // change another program makes to the file. `change` returns false to leave the record as it
    // was; it runs again on a fresh copy when the file changed during the write.
    // Counters (statistics, credits, login times) change on every login and transfer: their
    // writes are complete before the reply, so a crash of the process loses nothing, and reach
    // the disk with the next FlushCounters. An operator's change is on disk at once.
    using Update = RecordUpdate;
    enum class Change { Operator, Counters };
    Update UpdateUser(std::string_view name, const std::function<bool(UserRecord&)>& change,
                      uint32_t connection = 0, Change kind = Change::Operator);
    // Syncs the user files that counters rewrote since the last flush; how many.
    int FlushCounters();

    // 2 if the user file or the passwd entry exists already, 1 created, 0 failed (invalid name,
    // the user file or the passwd line could not be written). `withoutFlags` are taken out of
    // what the template gives.
    int AddUser(std::string_view name, std::string_view password, std::string_view creator,
                std::string_view group, bool creatorHome, std::string_view withoutFlags = {});
    bool DeleteUser(std::string_view name);
    // 2 if the new name exists, 1 renamed, 0 failed.
    int RenameUser(std::string_view oldName, std::string_view newName);

    enum ListKind { kAllUsers = 0, kLocalUsers = 1, kSharedUsers = 2 };
    KeyedList<UserRecord> ListUsers(int kind);

    // Bytes per second after the file check; 0 for none or an unknown user.
    uint32_t GetDownloadSpeedLimit(std::string_view name);
    uint32_t GetUploadSpeedLimit(std::string_view name);

    // After a successful login: one more login, stamped `now` (0 = the current time).
    bool RecordLogin(uint32_t connection, std::string_view name, int64_t now = 0);
    // Whether a session may go on: within the idle limit (unless a transfer runs) and the session
    // time limit. Times in seconds since 1970; an unknown user fails.
    bool CheckSessionLimits(std::string_view name, int64_t lastActivity, int64_t loginTime,
                            int activeTransfers, int64_t now = 0);

  private:
    using Node = KeyedList<UserRecord>::Node;

    // With the lock held. The node of `name`, re-read when `check` and its file changed, or read
    // from the user's file when not listed yet.
    Node* LookupLocked(std::string_view name, bool check);
    // The spelling of the file of `name` in the users folder, matched without regard to case.
    std::optional<std::string> FileNameLocked(std::string_view name) const;
    std::string PathLocked(std::string_view fileName) const {
        return usersDir_ + std::string(fileName);
    }
    // Writes `rec` to the user file `fileName` under the file's lock; logs a failure.
    bool WriteLocked(const std::string& fileName, UserRecord& rec);
    void Propagate(uint32_t connection, const std::string& name, const UserRecord& rec);
    // UpdateUser for counters: the file is read and written outside the store's lock.
    Update UpdateCounters(std::string_view name, const std::function<bool(UserRecord&)>& change,
                          uint32_t connection);
    // The read, change and write of an update, with the file's lock held, starting from
    // `current` (the record as last known); `keep` gets every record the store holds from then on.
    Update Rewrite(const std::string& path, const std::string& stored, const LocalHome& local,
                   UserRecord& current, const std::function<bool(UserRecord&)>& change,
                   Durability durability, const std::function<void(const UserRecord&)>& keep);
    UserRecord TemplateFor(std::string_view group);
    void Log(const std::string& line) const;

    AccountStore* accounts_;
    GroupStore* groups_;
    AccountLog log_;
    PropagateHook propagate_;
    mutable Lock lock_;
    std::string usersDir_;
    LocalHome local_;
    KeyedList<UserRecord> users_{kUserListName};
    std::set<std::string> unsynced_;  // paths of user files written but not yet synced
    // One counter update of a user at a time (by the name in lower case).
    std::unordered_map<std::string, std::shared_ptr<std::mutex>> counterLocks_;
};

}  // namespace orvex
