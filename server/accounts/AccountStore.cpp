#include "server/accounts/AccountStore.h"

#include <ctime>

#include "engine/Clock.h"
#include "engine/StringUtil.h"
#include "server/accounts/PasswordCipher.h"
#include "server/accounts/UserName.h"

namespace orvex {
namespace {

constexpr int32_t kFirstNewId = 101;
constexpr int32_t kDefaultGroupId = 100;

}  // namespace

AccountStore::AccountStore(AccountLog log) : log_(std::move(log)) {}

void AccountStore::Configure(std::string passwdFile, std::string rootPath,
                             std::string defaultHome) {
    LockGuard g(lock_);
    // "./" homes were read against the old root, so a new root means reading the file again.
    if (rootPath != rootPath_) file_.SetPath({});
    file_.SetPath(std::move(passwdFile));
    rootPath_ = std::move(rootPath);
    defaultHome_ = std::move(defaultHome);
}

bool AccountStore::RefreshLocked(const FileLock* edit) {
    return file_.Refresh(
        [this](const std::string& text) {
            KeyedList<Account> fresh(kPasswdListName);
            ParsePasswdFile(text, rootPath_, fresh);
            accounts_ = std::move(fresh);
        },
        log_, edit);
}

bool AccountStore::RewriteLocked() {
    return file_.Rewrite(FormatPasswdFile(accounts_, rootPath_));
}

bool AccountStore::LoadAccounts() {
    LockGuard g(lock_);
    return RefreshLocked();
}

std::optional<Account> AccountStore::FindAccount(std::string_view name) {
    if (IsSharedName(name)) return FindRemoteAccount(name);
    LockGuard g(lock_);
    RefreshLocked();
    auto* node = accounts_.FindName(name, true);
    if (!node) return std::nullopt;
    return node->data;
}

void AccountStore::SetReservedIds(ReservedIds reserved) {
    LockGuard g(lock_);
    reserved_ = std::move(reserved);
}

int AccountStore::AddAccount(std::string_view name, std::string_view password, int32_t groupId,
                             std::string_view home) {
    ReservedIds reserved;
    {
        LockGuard g(lock_);
        reserved = reserved_;
    }
    // Asked before the lock: the answer comes from other stores, whose locks are never nested
    // inside this one.
    const std::vector<int32_t> held = reserved ? reserved() : std::vector<int32_t>{};

    LockGuard g(lock_);
    const FileLock edit(file_.Path());
    if (!RefreshLocked(&edit)) return 0;
    if (accounts_.FindName(name, true)) return 2;
    const int32_t uid = NextFreeId(accounts_, held, kFirstNewId);
    if (uid == 0) return 0;

    Account a;
    a.user = std::string(name.substr(0, kAccountNameMax));
    a.password = StoredPassword(a.user, password);
    a.uid = std::to_string(uid);
    a.gid = std::to_string(groupId == -1 ? kDefaultGroupId : groupId);
    a.added = AccountText::Today();
    a.home = std::string(home.empty() ? std::string_view(defaultHome_) : home);
    StringUtil::Truncate(a.home, kAccountHomeMax);
    if (!IsWritableAccount(a)) return 0;
    if (!file_.Append(FormatPasswdLine(a, rootPath_))) return 0;
    std::string key = a.user;
    accounts_.Create(uid, std::move(key), std::move(a));
    return 1;
}

bool AccountStore::ReplaceAccount(std::string_view name, const Account& record) {
    return UpdateAccount(name, [&record](Account& a) {
               a = record;
               return true;
           }) == RecordUpdate::Saved;
}

RecordUpdate AccountStore::UpdateAccount(std::string_view name,
                                         const std::function<bool(Account&)>& change) {
    LockGuard g(lock_);
    const FileLock edit(file_.Path());
    if (!RefreshLocked(&edit)) return RecordUpdate::WriteFailed;
    auto* node = accounts_.FindName(name, true);
    if (!node) return RecordUpdate::Unknown;
    Account a = node->data;
    if (!change(a)) return RecordUpdate::Unchanged;
    // The entry keeps its name; renaming has its own operation.
    a.user = *node->name;
    StringUtil::Truncate(a.home, kAccountHomeMax);
    if (!IsWritableAccount(a)) return RecordUpdate::Unchanged;
    const int32_t id = AccountText::NodeId(a.uid);
    node->data = std::move(a);
    if (id != node->id) accounts_.Rekey(node, id, node->name);
    return RewriteLocked() ? RecordUpdate::Saved : RecordUpdate::WriteFailed;
}

bool AccountStore::DeleteAccount(std::string_view name) {
    LockGuard g(lock_);
    const FileLock edit(file_.Path());
    if (!RefreshLocked(&edit)) return false;
    auto* node = accounts_.FindName(name, true);
    if (!node) return false;
    accounts_.Release(node);
    return RewriteLocked();
}

int AccountStore::RenameAccount(std::string_view oldName, std::string_view newName) {
    LockGuard g(lock_);
    const FileLock edit(file_.Path());
    if (!RefreshLocked(&edit)) return 0;
    const std::string to(newName.substr(0, kAccountNameMax));
    if (to.empty() || !AccountText::IsTableField(to)) return 0;
    auto* node = accounts_.FindName(oldName, true);
    if (!node) return 0;
    auto* clash = accounts_.FindName(to, true);
    if (clash && clash != node) return 2;
    node->data.user = to;
    accounts_.Rekey(node, node->id, to);
    return RewriteLocked() ? 1 : 0;
}

int32_t AccountStore::UserIdOf(std::string_view name) {
    if (IsSharedName(name)) {
        LockGuard g(remoteLock_);
        auto* node = remote_.FindName(name, true);
        return node ? node->id : -1;
    }
    LockGuard g(lock_);
    auto* node = accounts_.FindName(name, true);
    return node ? node->id : -1;
}

bool AccountStore::UserNameOf(int32_t id, std::string& out, size_t size) {
    auto take = [&](const std::optional<std::string>& name) {
        out = name.value_or("");
        StringUtil::Truncate(out, size ? size - 1 : 0);
        return true;
    };
    if (id > kFirstRemoteId - 1) {
        LockGuard g(remoteLock_);
        const auto* n = remote_.FindFirstId(id);
        return n && take(n->name);
    }
    LockGuard g(lock_);
    const auto* n = accounts_.FindFirstId(id);
    return n && take(n->name);
}

KeyedList<Account> AccountStore::ListAccounts() {
    LockGuard g(lock_);
    RefreshLocked();
    return accounts_;
}

}  // namespace orvex
