#pragma once
// The passwd store: every local account's stored password, ids, creation date and home directory,
// kept in step with the passwd file. It also keeps the table of users from other servers.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/FtpSite.h"
#include "engine/KeyedList.h"
#include "engine/ThreadUtil.h"
#include "server/accounts/AccountText.h"
#include "server/accounts/PasswdFile.h"
#include "server/accounts/TableFile.h"

namespace orvex {

// A user of another server known here: its account fields and when its password expires
// (seconds since 1970, 0 = no valid password).
struct RemoteAccount {
    Account account;
    int64_t expiry = 0;
};

inline constexpr const char* kRemotePasswdListName = "Remote Password List Header";
inline constexpr int32_t kFirstRemoteUserId = 1000000000;

// etc/remote.passwd: "name;uid;gid;added" per shared user, fields cut to 63, 15, 15 and 63.
// Lines with fewer fields or a name that is no shared name are skipped; the first line of a
// name wins.
void ParseRemotePasswd(std::string_view text, KeyedList<RemoteAccount>& out);
std::string FormatRemotePasswdLine(const Account& a);
std::string FormatRemotePasswd(const KeyedList<RemoteAccount>& list);

class AccountStore {
  public:
    explicit AccountStore(AccountLog log = {});

    // The passwd file, the root path that "./" homes lie under, and the home of new accounts that
    // are given none (all internal form). Set again after every configuration reload.
    void Configure(std::string passwdFile, std::string rootPath, std::string defaultHome);

    // Re-reads the passwd file when it changed; false (old table kept) when it cannot be read.
    bool LoadAccounts();

    std::optional<Account> FindAccount(std::string_view name);
    // 2 if the name exists, 1 added, 0 failed. Group id -1 stands for 100; an empty home for the
    // default home directory.
    int AddAccount(std::string_view name, std::string_view password, int32_t groupId,
                   std::string_view home);
    bool ReplaceAccount(std::string_view name, const Account& record);
    // Reads the entry, lets `change` edit it and rewrites the file, as one step under the lock.
    // `change` returns false to leave the entry as it was. The name and the ids stay.
    RecordUpdate UpdateAccount(std::string_view name, const std::function<bool(Account&)>& change);
    // User ids referred to outside the passwd file (owners of files and dupe-log entries).
    void SetReservedIds(ReservedIds reserved);
    bool DeleteAccount(std::string_view name);
    // 2 if the new name exists, 1 renamed, 0 failed.
    int RenameAccount(std::string_view oldName, std::string_view newName);
    // Without a reload: the node id or -1.
    int32_t UserIdOf(std::string_view name);
    // Without a reload: the name of the entry with `id`, cut to size - 1.
    bool UserNameOf(int32_t id, std::string& out, size_t size = kAccountNameMax + 1);
    KeyedList<Account> ListAccounts();

    // Users of other servers ("$" in the name) live in their own table, kept in step with
    // etc/remote.passwd, under their own lock. The password texts and expiries are never written:
    // a reload forgets them.
    std::optional<Account> FindRemoteAccount(std::string_view name);
    std::optional<RemoteAccount> GetRemoteLogin(std::string_view name);
    // The shared-user file (internal form); set again after every configuration reload.
    void ConfigureRemote(std::string remotePasswdFile);
    // Re-reads the shared-user file when it changed; false (table kept) when it cannot be read.
    bool LoadRemoteAccounts();
    // Creates the entry of a shared name (appended to the file) or updates it, and sets its
    // password text, home and expiry; false for a name that is not shared or a failed write.
    bool AddRemoteLogin(std::string_view name, std::string_view password, int64_t expiry,
                        std::string_view home);
    // The stored password serves no further attempt.
    bool ExpireRemoteLogin(std::string_view name);
    bool SetRemoteGroup(std::string_view name, int32_t groupId);
    bool DeleteRemoteLogin(std::string_view name);

  private:
    static constexpr int32_t kFirstRemoteId = kFirstRemoteUserId;

    // With the lock held. Modifications need a table that matches the file, so that a rewrite
    // never replaces edits the store could not read, and hold the file's lock (`edit`) from this
    // refresh to their write, so that no other program writes in between.
    bool RefreshLocked(const FileLock* edit = nullptr);
    bool RewriteLocked();

    AccountLog log_;
    ReservedIds reserved_;
    mutable Lock lock_;
    TableFile file_;
    std::string rootPath_;
    std::string defaultHome_;
    KeyedList<Account> accounts_{kPasswdListName};

    bool RefreshRemoteLocked();

    mutable Lock remoteLock_;
    KeyedList<RemoteAccount> remote_{kRemotePasswdListName};
    TableFile remoteFile_;
};

}  // namespace orvex
