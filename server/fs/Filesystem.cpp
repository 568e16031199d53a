#include "server/fs/Filesystem.h"

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "server/app/ServerSite.h"

namespace orvex {

Filesystem::Filesystem(ServerSite& site)
    : site_(site), lastSync_(Clock::NowSeconds()), lastCheck_(Clock::NowSeconds()) {}

std::string Filesystem::FilePath() const {
    return site_.MakeRootPath("fs/", "orvex.fs");
}

bool Filesystem::Load() {
    const std::string path = FilePath();
    if (path.empty()) return false;
    LockGuard d(directoryLock_);
    LockGuard f(fileLock_);
    UniqueFile file = FileUtil::OpenFile(path, "rb");
    if (!file) {
        site_.LogProgram("MAIN", "WARNING: unable to open file %s for reading.",
                         FileUtil::OsPath(path).c_str());
        return false;
    }
    // The records themselves are not kept yet: every path counts as unknown.
    return true;
}

int Filesystem::Sync() {
    lastSync_ = Clock::NowSeconds();
    return 0;
}

int Filesystem::Check(bool) {
    lastCheck_ = Clock::NowSeconds();
    return 0;
}

int Filesystem::StartWork(std::function<void()> work) {
    // Busy from before the thread starts until its work is done: the shutdown waits on it, so
    // the site is never destroyed under a running write-back.
    bool idle = false;
    if (!busy_.compare_exchange_strong(idle, true)) return 2;
    if (ThreadUtil::StartThread([this, work = std::move(work)]() {
            work();
            busy_ = false;
        }))
        return 1;
    busy_ = false;
    return 0;
}

int Filesystem::StartSync() {
    return StartWork([this]() { Sync(); });
}

int Filesystem::StartCheck() {
    return StartWork([this]() { Check(true); });
}

std::optional<DirectoryRecord> Filesystem::GetDirectory(const std::string&, bool) const {
    return std::nullopt;
}

std::optional<FileRecord> Filesystem::GetFile(const std::string&) const {
    return std::nullopt;
}

int Filesystem::SetFile(const std::string&, const char*, uint32_t, uint32_t, int64_t, uint32_t) {
    return 0;
}

void Filesystem::CollectOwnerIds(std::set<uint32_t>& users, std::set<uint32_t>& groups) const {
    LockGuard d(directoryLock_);
    LockGuard f(fileLock_);
    for (const auto& dir : directories_) {
        users.insert(dir.data.owner);
        groups.insert(dir.data.group);
        if (!dir.data.files) continue;
        for (const auto& file : *dir.data.files) {
            users.insert(file.data.owner);
            groups.insert(file.data.group);
        }
    }
}

}  // namespace orvex
