#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/FileUtil.h"
#include "engine/FileUtilOs.h"
#include "engine/StringUtil.h"

namespace orvex::FileUtil {

struct DirectoryScan::Impl {
    DIR* dir = nullptr;
    std::string pattern;  // empty: every entry
};

DirectoryScan::DirectoryScan(std::string_view dirOrPattern) : impl_(std::make_unique<Impl>()) {
    std::string path(dirOrPattern);
    ToBackslashes(path);
    if (path.find('*') != std::string::npos) {
        size_t sep = path.rfind('\\');
        impl_->pattern = sep == std::string::npos ? path : path.substr(sep + 1);
        path = sep == std::string::npos ? std::string(".") : path.substr(0, sep + 1);
        // "*" alone matches every entry; keep it as the fast path.
        if (impl_->pattern == "*") impl_->pattern.clear();
    }
    if (path.empty()) return;
    // A link to a directory is not a directory here either: it is never enumerated.
    int fd = open(OsEntry(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    impl_->dir = fdopendir(fd);
    if (!impl_->dir) close(fd);
}

DirectoryScan::~DirectoryScan() {
    if (impl_ && impl_->dir) closedir(impl_->dir);
}

bool DirectoryScan::Ok() const {
    return impl_->dir != nullptr;
}

bool DirectoryScan::Next(std::string& name) {
    if (!impl_->dir) return false;
    while (struct dirent* e = readdir(impl_->dir)) {
        if (!impl_->pattern.empty() && !StringUtil::WildcardMatch(impl_->pattern, e->d_name))
            continue;
        name = e->d_name;
        return true;
    }
    return false;
}

bool DirectoryScan::Next(std::string& name, FileInfo& info) {
    while (Next(name)) {
        struct stat st {};
        if (fstatat(dirfd(impl_->dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        info = InfoOf(st);
        return true;
    }
    return false;
}

}  // namespace orvex::FileUtil
