#pragma once
// The group store: the groups of the group file, kept in step with it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/KeyedList.h"
#include "engine/ThreadUtil.h"
#include "server/accounts/AccountText.h"
#include "server/accounts/GroupFile.h"
#include "server/accounts/TableFile.h"

namespace orvex {

class GroupStore {
  public:
    explicit GroupStore(AccountLog log = {});

    // The group file (internal form); set again after every configuration reload.
    void Configure(std::string groupFile);

    // Re-reads the group file when it changed; false (old table kept) when it cannot be read.
    bool LoadGroups();

    // 2 if the name exists, 1 added, 0 failed (empty or unwritable name or description).
    int AddGroup(std::string_view name, std::string_view description);
    // A copy; `storedName` gets the stored spelling.
    std::optional<GroupRecord> FindGroup(std::string_view name, std::string* storedName = nullptr);
    KeyedList<GroupRecord> ListGroups();
    // Without a reload: the name of the group with `id`, cut to size - 1.
    bool GroupNameOf(int32_t id, std::string& out, size_t size = kGroupNameMax + 1);
    // Without a reload: the group's id, 100 for a name that is no group, -1 before any load.
    int32_t GroupIdOf(std::string_view name);
    bool DeleteGroup(std::string_view name);
    bool ReplaceGroup(std::string_view name, const GroupRecord& record);
    // Reads the group, lets `change` edit it and rewrites the file, as one step under the lock.
    // The name and the id stay.
    RecordUpdate UpdateGroup(std::string_view name,
                             const std::function<bool(GroupRecord&)>& change);
    // Group ids referred to outside the group file (accounts, files, dupe-log entries).
    void SetReservedIds(ReservedIds reserved);
    // 2 if the new name exists, 1 renamed, 0 failed.
    int RenameGroup(std::string_view oldName, std::string_view newName);

  private:
    // With the lock held; changes pass the file's lock (`edit`), held until their write.
    bool RefreshLocked(const FileLock* edit = nullptr);
    bool RewriteLocked();

    AccountLog log_;
    ReservedIds reserved_;
    mutable Lock lock_;
    TableFile file_;
    KeyedList<GroupRecord> groups_{kGroupListName};
};

}  // namespace orvex
