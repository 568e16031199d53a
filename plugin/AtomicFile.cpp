#include "plugin/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace orvex::plugin {
namespace {

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void SyncFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view content, mode_t newFileMode,
                         WriteMode mode) {
    if (path.empty() || path.back() == '/') return false;
    struct stat existing {};
    bool exists = stat(path.c_str(), &existing) == 0;
    if (exists && mode == WriteMode::CreateOnly) return false;
    mode_t fileMode = exists ? (existing.st_mode & 07777) : newFileMode;

    std::string folder = FolderOf(path);
    // The temporary file lives beside the target so that the rename stays on one filesystem.
    std::string tmpl = folder + "/." + BaseOf(path) + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    std::string tmp(name.data());

    bool ok = fchmod(fd, fileMode) == 0 && WriteAll(fd, content) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok) {
        if (mode == WriteMode::CreateOnly) {
            // link() refuses an existing target, so a racing creator is never overwritten.
            ok = link(tmp.c_str(), path.c_str()) == 0;
            unlink(tmp.c_str());
        } else {
            ok = rename(tmp.c_str(), path.c_str()) == 0;
        }
    }
    if (!ok) {
        unlink(tmp.c_str());
        return false;
    }
    SyncFolder(folder);
    return true;
}

std::optional<std::string> ReadWholeFile(const std::string& path, size_t limit) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return std::nullopt;
    }
    std::string data;
    char chunk[8192];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || data.size() + static_cast<size_t>(n) > limit) {
            close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        data.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return data;
}

}  // namespace orvex::plugin
