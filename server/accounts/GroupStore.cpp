#include "server/accounts/GroupStore.h"

#include <algorithm>

#include "engine/StringUtil.h"

namespace orvex {
namespace {

constexpr int32_t kFirstNewId = 101;
constexpr int32_t kNoGroupId = 100;

}  // namespace

GroupStore::GroupStore(AccountLog log) : log_(std::move(log)) {}

void GroupStore::Configure(std::string groupFile) {
    LockGuard g(lock_);
    file_.SetPath(std::move(groupFile));
}

bool GroupStore::RefreshLocked(const FileLock* edit) {
    return file_.Refresh(
        [this](const std::string& text) {
            KeyedList<GroupRecord> fresh(kGroupListName);
            ParseGroupFile(text, fresh);
            groups_ = std::move(fresh);
        },
        log_, edit);
}

bool GroupStore::RewriteLocked() {
    return file_.Rewrite(FormatGroupFile(groups_));
}

bool GroupStore::LoadGroups() {
    LockGuard g(lock_);
    return RefreshLocked();
}

void GroupStore::SetReservedIds(ReservedIds reserved) {
    LockGuard g(lock_);
    reserved_ = std::move(reserved);
}

int GroupStore::AddGroup(std::string_view name, std::string_view description) {
    ReservedIds reserved;
    {
        LockGuard g(lock_);
        reserved = reserved_;
    }
    // Asked before the lock: the answer comes from other stores.
    const std::vector<int32_t> held = reserved ? reserved() : std::vector<int32_t>{};

    LockGuard g(lock_);
    const FileLock edit(file_.Path());
    if (!RefreshLocked(&edit)) return 0;
    GroupRecord rec;
    rec.name = std::string(name.substr(0, kGroupNameMax));
    rec.description = std::string(description.substr(0, kGroupDescriptionMax));
    if (!IsWritableGroup(rec)) return 0;
    if (groups_.FindName(rec.name, true)) return 2;
    const int32_t id = NextFreeId(groups_, held, kFirstNewId);
    if (id == 0) return 0;
    rec.id = std::to_string(id);
    if (!file_.Append(FormatGroupLine(rec))) return 0;
    std::string key = rec.name;
    groups_.Create(id, std::move(key), std::move(rec));
    return 1;
}

std::optional<GroupRecord> GroupStore::FindGroup(std::string_view name, std::string* storedName) {
    LockGuard g(lock_);
    RefreshLocked();
    auto* node = groups_.FindName(name, true);
    if (!node) return std::nullopt;
    if (storedName) *storedName = *node->name;
    return node->data;
}

KeyedList<GroupRecord> GroupStore::ListGroups() {
    LockGuard g(lock_);
    RefreshLocked();
    KeyedList<GroupRecord> copy("group info list header");
    for (const auto& n : groups_) copy.Create(n.id, n.name, n.data);
    return copy;
}

bool GroupStore::GroupNameOf(int32_t id, std::string& out, size_t size) {
    LockGuard g(lock_);
    const auto* n = groups_.FindFirstId(id);
    if (!n) return false;
    out = n->name.value_or("");
    StringUtil::Truncate(out, size ? size - 1 : 0);
    return true;
}

int32_t GroupStore::GroupIdOf(std::string_view name) {
    LockGuard g(lock_);
    if (!file_.Loaded()) return -1;
    auto* node = groups_.FindName(name, true);
    return node ? node->id : kNoGroupId;
}

bool GroupStore::DeleteGroup(std::string_view name) {
    LockGuard g(lock_);
    const FileLock edit(file_.Path());
    if (!RefreshLocked(&edit)) return false;
    auto* node = groups_.FindName(name, true);
    if (!node) return false;
    groups_.Release(node);
    return RewriteLocked();
}

bool GroupStore::ReplaceGroup(std::string_view name, const GroupRecord& record) {
    return UpdateGroup(name, [&record](GroupRecord& r) {
               r = record;
               return true;
           }) == RecordUpdate::Saved;
}

RecordUpdate GroupStore::UpdateGroup(std::string_view name,
                                     const std::function<bool(GroupRecord&)>& change) {
    LockGuard g(lock_);
    const FileLock edit(file_.Path());
    if (!RefreshLocked(&edit)) return RecordUpdate::WriteFailed;
    auto* node = groups_.FindName(name, true);
    if (!node) return RecordUpdate::Unknown;
    GroupRecord rec = node->data;
    if (!change(rec)) return RecordUpdate::Unchanged;
    // The group keeps its name; renaming has its own operation.
    rec.name = *node->name;
    StringUtil::Truncate(rec.description, kGroupDescriptionMax);
    StringUtil::Truncate(rec.id, kGroupIdMax);
    if (!IsWritableGroup(rec)) return RecordUpdate::Unchanged;
    const int32_t id = AccountText::NodeId(rec.id);
    node->data = std::move(rec);
    if (id != node->id) groups_.Rekey(node, id, node->name);
    return RewriteLocked() ? RecordUpdate::Saved : RecordUpdate::WriteFailed;
}

int GroupStore::RenameGroup(std::string_view oldName, std::string_view newName) {
    LockGuard g(lock_);
    const FileLock edit(file_.Path());
    if (!RefreshLocked(&edit)) return 0;
    const std::string to(newName.substr(0, kGroupNameMax));
    if (to.empty() || !AccountText::IsTableField(to)) return 0;
    auto* node = groups_.FindName(oldName, true);
    if (!node) return 0;
    auto* clash = groups_.FindName(to, true);
    if (clash && clash != node) return 2;
    node->data.name = to;
    groups_.Rekey(node, node->id, to);
    return RewriteLocked() ? 1 : 0;
}

}  // namespace orvex
