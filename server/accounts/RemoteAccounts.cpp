// The table of users from other servers and its file etc/remote.passwd. Entries carry a
// short-lived password that exists only in memory.

#include "engine/Tokenizer.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/UserName.h"

namespace orvex {

namespace {

constexpr const char* kRemotePasswdHeader = "# Username;UserID;GroupID;DateAdded\n#\n";
constexpr const char* kRemoteGroupId = "100";

int32_t RemoteNodeId(std::string_view uid) {
    const int32_t id = AccountText::ReadSigned(uid);
    return id > kFirstRemoteUserId ? id : kFirstRemoteUserId;
}

}  // namespace

void ParseRemotePasswd(std::string_view text, KeyedList<RemoteAccount>& out) {
    const Tokenizer tokenizer(AccountText::kLineBuffer);
    AccountText::ForEachLine(text, [&](std::string_view line, int) {
        const Args f = tokenizer.Split(line, ';', true);
        if (f.size() < 4) return;
        RemoteAccount r;
        r.account.user = f[0].substr(0, kAccountNameMax);
        // Only names of the shared form ever name a user file from this table.
        if (!IsValidSharedName(r.account.user) || out.FindName(r.account.user, true)) return;
        r.account.uid = f[1].substr(0, kAccountIdMax);
        r.account.gid = f[2].substr(0, kAccountIdMax);
        r.account.added = f[3].substr(0, kAccountDateMax);
        const int32_t id = RemoteNodeId(r.account.uid);
        std::string name = r.account.user;
        out.Create(id, std::move(name), std::move(r));
    });
}

std::string FormatRemotePasswdLine(const Account& a) {
    return a.user + ";" + a.uid + ";" + a.gid + ";" + a.added + "\n";
}

std::string FormatRemotePasswd(const KeyedList<RemoteAccount>& list) {
    std::string out = kRemotePasswdHeader;
    for (const auto& node : list) out += FormatRemotePasswdLine(node.data.account);
    return out;
}

void AccountStore::ConfigureRemote(std::string remotePasswdFile) {
    LockGuard g(remoteLock_);
    remoteFile_.SetPath(std::move(remotePasswdFile));
}

bool AccountStore::RefreshRemoteLocked() {
    return remoteFile_.Refresh(
        [this](const std::string& text) {
            KeyedList<RemoteAccount> fresh(kRemotePasswdListName);
            ParseRemotePasswd(text, fresh);
            remote_ = std::move(fresh);
        },
        log_);
}

bool AccountStore::LoadRemoteAccounts() {
    LockGuard g(remoteLock_);
    return RefreshRemoteLocked();
}

std::optional<Account> AccountStore::FindRemoteAccount(std::string_view name) {
    std::optional<RemoteAccount> r = GetRemoteLogin(name);
    if (!r) return std::nullopt;
    return r->account;
}

std::optional<RemoteAccount> AccountStore::GetRemoteLogin(std::string_view name) {
    LockGuard g(remoteLock_);
    RefreshRemoteLocked();
    auto* node = remote_.FindName(name, true);
    if (!node) return std::nullopt;
    return node->data;
}

bool AccountStore::AddRemoteLogin(std::string_view name, std::string_view password, int64_t expiry,
                                  std::string_view home) {
    if (!IsValidSharedName(name)) return false;
    LockGuard g(remoteLock_);
    // A missing file starts empty: the first shared user creates it.
    if (!RefreshRemoteLocked() && !remoteFile_.Loaded() &&
        (!remoteFile_.Rewrite(kRemotePasswdHeader) || !RefreshRemoteLocked()))
        return false;
    auto* node = remote_.FindName(name, true);
    if (!node) {
        const int32_t uid = NextFreeId(remote_, {}, kFirstRemoteUserId + 1);
        if (uid == 0) return false;
        RemoteAccount r;
        r.account.user = std::string(name);
        r.account.uid = std::to_string(uid);
        r.account.gid = kRemoteGroupId;
        r.account.added = AccountText::Today();
        if (!remoteFile_.Append(FormatRemotePasswdLine(r.account))) return false;
        std::string key = r.account.user;
        node = &remote_.Create(uid, std::move(key), std::move(r));
    }
    node->data.account.password = std::string(password.substr(0, kAccountPasswordMax));
    node->data.account.home = std::string(home.substr(0, kAccountHomeMax));
    node->data.expiry = expiry;
    return true;
}

bool AccountStore::ExpireRemoteLogin(std::string_view name) {
    LockGuard g(remoteLock_);
    auto* node = remote_.FindName(name, true);
    if (!node) return false;
    node->data.expiry = 0;
    return true;
}

bool AccountStore::SetRemoteGroup(std::string_view name, int32_t groupId) {
    LockGuard g(remoteLock_);
    RefreshRemoteLocked();
    auto* node = remote_.FindName(name, true);
    if (!node) return false;
    std::string gid = std::to_string(groupId);
    if (node->data.account.gid == gid) return true;
    // Kept in memory only once written, so that a later call tries the write again.
    std::swap(node->data.account.gid, gid);
    if (remoteFile_.Rewrite(FormatRemotePasswd(remote_))) return true;
    std::swap(node->data.account.gid, gid);
    return false;
}

bool AccountStore::DeleteRemoteLogin(std::string_view name) {
    LockGuard g(remoteLock_);
    RefreshRemoteLocked();
    auto* node = remote_.FindName(name, true);
    if (!node) return false;
    remote_.Release(node);
    return remoteFile_.Rewrite(FormatRemotePasswd(remote_));
}

}  // namespace orvex
