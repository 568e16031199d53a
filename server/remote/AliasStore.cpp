// The alias table: its file, reloads that keep or close the pools, and the edits of SITE REMOTE.

#include "server/remote/AliasStore.h"

#include <random>

#include "engine/StringUtil.h"
#include "engine/os/AtomicFile.h"
#include "server/app/DataFile.h"
#include "server/app/OnlineRegistry.h"
#include "server/app/ServerSite.h"

namespace orvex {

namespace {

std::string NewToken() {
    std::random_device rd;
    return StringUtil::Format("%08x%08x", rd(), rd());
}

void ClosePool(KeyedList<RemoteConnectionPtr>& pool) {
    for (auto& node : pool)
        if (node.data) node.data->Kill();
    pool.Clear();
}

}  // namespace

AliasStore::AliasStore(ServerSite& site) : site_(site), token_(NewToken()) {}

AliasStore::~AliasStore() {
    LockGuard g(lock_);
    for (auto& node : aliases_) CloseEntry(node.data, nullptr);
}

std::string AliasStore::FilePath() const {
    return site_.MakeRootPath("etc/", "remote.aliases");
}

AliasEntry* AliasStore::FindLocked(std::string_view directory) {
    auto* node = aliases_.FindName(directory, true);
    return node ? &node->data : nullptr;
}

const AliasEntry* AliasStore::FindLocked(std::string_view directory) const {
    return const_cast<AliasStore*>(this)->FindLocked(directory);
}

void AliasStore::CloseEntry(AliasEntry& entry, std::vector<std::string>* kicked) {
    ClosePool(entry.sitePool);
    ClosePool(entry.userPool);
    if (kicked)
        for (const auto& node : entry.sharedUsers) kicked->push_back(node.data);
    entry.sharedUsers.Clear();
}

void AliasStore::KickSharedUsers(const std::vector<std::string>& users) {
    // Outside lock A: the registry has a lock of its own.
    for (const std::string& user : users) site_.Registry().KickUser(user, 0);
}

void AliasStore::RestampLocked(const std::string& path) {
    FileStamp now;
    if (ReadFileStamp(path, now)) stamp_ = now;
}

bool AliasStore::RewriteLocked() {
    std::vector<AliasRecord> records;
    for (const auto& node : aliases_) records.push_back(node.data.record);
    const std::string path = FilePath();
    if (path.empty() || !WriteFileAtomically(path, AliasFile::Format(records))) return false;
    RestampLocked(path);
    return true;
}

int AliasStore::Load() {
    std::vector<std::string> kicked;
    int result;
    {
        LockGuard g(lock_);
        result = ReloadTableFile(
            site_, FilePath(), stamp_,
            TableFileMessages{"WARNING: unable to access alias file '%s'.",
                              "WARNING: unable to open alias file '%s' for reading."},
            [this, &kicked](const std::string& text) {
                KeyedList<AliasEntry> fresh(aliases_.ListName());
                for (AliasRecord& r : AliasFile::Parse(text)) {
                    const int32_t id = static_cast<int32_t>(fresh.MaxId()) + 1;
                    std::string key = r.directory;
                    fresh.Create(id, std::move(key), AliasEntry{std::move(r)});
                }
                for (auto& old : aliases_) {
                    auto* now = fresh.FindName(old.data.record.directory, true);
                    if (!now) {
                        CloseEntry(old.data, &kicked);
                        continue;
                    }
                    // An unchanged alias keeps its connections; any edit closes them.
                    if (now->data.record == old.data.record) {
                        now->data.sitePool = std::move(old.data.sitePool);
                        now->data.userPool = std::move(old.data.userPool);
                    } else {
                        ClosePool(old.data.sitePool);
                        ClosePool(old.data.userPool);
                    }
                    now->data.sharedUsers = std::move(old.data.sharedUsers);
                }
                aliases_ = std::move(fresh);
                return true;
            });
    }
    KickSharedUsers(kicked);
    return result;
}

int AliasStore::AddAlias(const AliasRecord& record) {
    if (!AliasFile::IsStorable(record)) return 0;
    Load();
    LockGuard g(lock_);
    if (FindLocked(record.directory)) return 2;
    const std::string path = FilePath();
    if (path.empty() || !AppendLine(path, AliasFile::FormatLine(record))) return 0;
    const int32_t id = static_cast<int32_t>(aliases_.MaxId()) + 1;
    aliases_.Create(id, record.directory, AliasEntry{record});
    RestampLocked(path);
    return 1;
}

int AliasStore::ChangeAlias(std::string_view directory, const AliasRecord& record) {
    if (!AliasFile::IsStorable(record)) return 0;
    Load();
    LockGuard g(lock_);
    AliasEntry* e = FindLocked(directory);
    if (!e || e->record == record) return 0;
    ClosePool(e->sitePool);
    ClosePool(e->userPool);
    e->record = record;
    return RewriteLocked() ? 1 : 0;
}

int AliasStore::DeleteAlias(std::string_view directory) {
    Load();
    std::vector<std::string> kicked;
    int result = 0;
    {
        LockGuard g(lock_);
        auto* node = aliases_.FindName(directory, true);
        if (node) {
            CloseEntry(node->data, &kicked);
            aliases_.Release(node);
            result = RewriteLocked() ? 1 : 0;
        }
    }
    KickSharedUsers(kicked);
    return result;
}

std::optional<AliasRecord> AliasStore::GetAlias(std::string_view directory) {
    Load();
    LockGuard g(lock_);
    const AliasEntry* e = FindLocked(directory);
    if (!e) return std::nullopt;
    return e->record;
}

std::vector<AliasRecord> AliasStore::ListAliases() {
    Load();
    LockGuard g(lock_);
    std::vector<AliasRecord> out;
    for (const auto& node : aliases_) out.push_back(node.data.record);
    return out;
}

std::optional<AliasRecord> AliasStore::FindAliasForPath(std::string_view path) const {
    LockGuard g(lock_);
    const AliasRecord* best = nullptr;
    for (const auto& node : aliases_) {
        const std::string& dir = node.data.record.directory;
        if (dir.size() > path.size() || (best && dir.size() <= best->directory.size())) continue;
        if (StringUtil::EqualNoCase(path.substr(0, dir.size()), dir)) best = &node.data.record;
    }
    if (!best) return std::nullopt;
    return *best;
}

int AliasStore::DisconnectAlias(std::string_view directory) {
    std::vector<std::string> kicked;
    int closed = 0;
    {
        LockGuard g(lock_);
        AliasEntry* e = FindLocked(directory);
        if (!e) return -1;
        for (const auto* pool : {&e->sitePool, &e->userPool})
            for (const auto& node : *pool)
                if (node.data) ++closed;
        CloseEntry(*e, &kicked);
    }
    KickSharedUsers(kicked);
    return closed;
}

}  // namespace orvex
