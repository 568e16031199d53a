// The mirror table: its file, the edits of SITE REMOTE and the choice of a mirror for a data
// command.

#include "server/remote/MirrorStore.h"

#include <algorithm>
#include <cstdint>

#include "engine/Clock.h"
#include "engine/StringUtil.h"
#include "engine/os/AtomicFile.h"
#include "server/app/DataFile.h"
#include "server/app/ServerSite.h"
#include "server/fs/Filesystem.h"

namespace orvex {

namespace {

constexpr uint32_t kCounterStep = 17;

MirrorEntry* FindEntry(MirrorGroup& group, std::string_view alias) {
    for (MirrorEntry& e : group.entries)
        if (StringUtil::EqualNoCase(e.alias, alias)) return &e;
    return nullptr;
}

}  // namespace

MirrorStore::MirrorStore(ServerSite& site) : site_(site), now_(&Clock::NowSeconds) {}

std::string MirrorStore::FilePath() const {
    return site_.MakeRootPath("etc/", "remote.mirrors");
}

MirrorGroup* MirrorStore::FindLocked(int32_t id) {
    for (MirrorGroup& g : groups_)
        if (g.mirrorId == id) return &g;
    return nullptr;
}

bool MirrorStore::RewriteLocked() {
    const std::string path = FilePath();
    if (path.empty() || !WriteFileAtomically(path, MirrorFile::Format(groups_))) return false;
    FileStamp now;
    if (ReadFileStamp(path, now)) stamp_ = now;
    return true;
}

bool MirrorStore::CommitLocked(std::vector<MirrorGroup> before) {
    MirrorFile::NormaliseMarks(groups_);
    if (RewriteLocked()) return true;
    // What the file does not hold is not kept either: a failed change changes nothing.
    groups_ = std::move(before);
    return false;
}

int MirrorStore::Load() {
    LockGuard g(lock_);
    bool marksChanged = false;
    const int result =
        ReloadTableFile(site_, FilePath(), stamp_,
                        TableFileMessages{"WARNING: unable to access file %s.",
                                          "WARNING: unable to open file %s for reading."},
                        [this, &marksChanged](const std::string& text) {
                            groups_ = MirrorFile::Parse(text);
                            marksChanged = MirrorFile::NormaliseMarks(groups_);
                            return true;
                        });
    // After the stamp of the text read is recorded, so the rewrite's own stamp replaces it.
    if (marksChanged) RewriteLocked();
    return result;
}

bool MirrorStore::HasMirrorId(int32_t id) {
    return id > 0 && MirrorExists(id) == 1;
}

int MirrorStore::AddMirror(int32_t id, std::string_view alias, uint32_t weight) {
    const std::string stored = MirrorFile::AliasForm(alias);
    if (!MirrorFile::IsStorable(stored)) return 0;
    LockGuard g(lock_);
    Load();
    std::vector<MirrorGroup> before = groups_;
    if (id <= 0) {
        int32_t highest = 0;
        for (const MirrorGroup& group : groups_) highest = std::max(highest, group.mirrorId);
        if (highest == INT32_MAX) return 0;
        id = highest + 1;
    }
    MirrorGroup* group = FindLocked(id);
    if (group && FindEntry(*group, stored)) return 2;
    if (!group) group = &groups_.emplace_back(MirrorGroup{id, {}});
    group->entries.push_back(MirrorEntry{id, stored, weight, 0});
    return CommitLocked(std::move(before)) ? 1 : 0;
}

int MirrorStore::EditEntry(int32_t id, std::string_view alias,
                           const std::function<void(MirrorGroup&, MirrorEntry&)>& edit) {
    LockGuard g(lock_);
    Load();
    MirrorGroup* group = FindLocked(id);
    MirrorEntry* entry = group ? FindEntry(*group, alias) : nullptr;
    if (!entry) return 0;
    std::vector<MirrorGroup> before = groups_;
    edit(*group, *entry);
    return CommitLocked(std::move(before)) ? 1 : 0;
}

int MirrorStore::DeleteMirror(int32_t id, std::string_view alias) {
    return EditEntry(id, alias, [this](MirrorGroup& group, MirrorEntry& entry) {
        group.entries.erase(group.entries.begin() + (&entry - group.entries.data()));
        if (group.entries.empty()) groups_.erase(groups_.begin() + (&group - groups_.data()));
    });
}

int MirrorStore::SetDefaultMirror(int32_t id, std::string_view alias) {
    return EditEntry(id, alias, [](MirrorGroup& group, MirrorEntry& entry) {
        for (MirrorEntry& e : group.entries) e.defaultMirror = &e == &entry ? 1 : 0;
    });
}

std::vector<MirrorGroup> MirrorStore::ListMirrors(int32_t id) {
    LockGuard g(lock_);
    Load();
    if (id == 0) return groups_;
    const MirrorGroup* group = FindLocked(id);
    if (!group) return {};
    return {*group};
}

int MirrorStore::MirrorExists(int32_t id) {
    if (id == 0) return 1;
    LockGuard g(lock_);
    Load();
    return FindLocked(id) ? 1 : 0;
}

void MirrorStore::SetClockForTesting(std::function<int64_t()> now) {
    LockGuard g(randomLock_);
    now_ = std::move(now);
}

std::optional<std::string> MirrorStore::ChooseMirror(std::string_view directory, bool useDefault,
                                                     uint32_t& counter) {
    const int32_t id = site_.Files().MirrorIdOf(directory);
    if (id <= 0) return std::nullopt;
    return ChooseInGroup(id, useDefault, counter);
}

std::optional<std::string> MirrorStore::ChooseInGroup(int32_t id, bool useDefault,
                                                      uint32_t& counter) {
    // A copy: the lock is not held while the entry is picked.
    const std::vector<MirrorGroup> group = ListMirrors(id);
    if (group.empty()) return std::nullopt;
    const std::vector<MirrorEntry>& entries = group.front().entries;
    const MirrorEntry* chosen = nullptr;
    if (useDefault) {
        for (const MirrorEntry& e : entries)
            if (e.defaultMirror != 0) {
                chosen = &e;
                break;
            }
    } else {
        uint64_t sum = 0;
        for (const MirrorEntry& e : entries) sum += e.weight;
        if (sum == 0) return std::nullopt;
        counter += kCounterStep;
        uint32_t r;
        {
            LockGuard g(randomLock_);
            random_.Seed(static_cast<uint32_t>(now_()) + counter);
            r = random_.Next();
        }
        chosen = MirrorFile::PickWeighted(entries, r);
    }
    if (!chosen || MirrorFile::IsLocal(chosen->alias)) return std::nullopt;
    return chosen->alias;
}

}  // namespace orvex
