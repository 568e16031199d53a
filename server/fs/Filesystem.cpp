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

int Filesystem::StartSync() {
    if (busy_) return 2;
    return ThreadUtil::StartThread([this]() { Sync(); }) ? 1 : 0;
}

int Filesystem::StartCheck() {
    if (busy_) return 2;
    return ThreadUtil::StartThread([this]() { Check(true); }) ? 1 : 0;
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

}  // namespace orvex
