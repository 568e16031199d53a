#include "engine/os/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>

#include "engine/os/OsPath.h"

namespace orvex {
namespace {

std::atomic<bool> g_interrupt{false};
std::atomic<unsigned> g_counter{0};

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// The writer's process id in a temporary name ".NAME.PID.N", or 0 when it is none.
pid_t TemporaryWriter(std::string_view name) {
    if (!IsTemporaryName(name)) return 0;
    const size_t counterDot = name.rfind('.');
    if (counterDot == std::string_view::npos || counterDot == 0) return 0;
    const size_t pidDot = name.rfind('.', counterDot - 1);
    if (pidDot == std::string_view::npos || pidDot < 2) return 0;
    auto digits = [](std::string_view s) {
        return !s.empty() && s.size() < 10 && s.find_first_not_of("0123456789") == s.npos;
    };
    const std::string_view pid = name.substr(pidDot + 1, counterDot - pidDot - 1);
    if (!digits(pid) || !digits(name.substr(counterDot + 1))) return 0;
    return static_cast<pid_t>(std::stol(std::string(pid)));
}

std::string FolderOf(const std::string& osPath) {
    const size_t slash = osPath.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : osPath.substr(0, slash);
}

}  // namespace

uint64_t TextDigest(std::string_view text) {
    return std::hash<std::string_view>{}(text);
}

bool IsTemporaryName(std::string_view fileName) {
    return !fileName.empty() && fileName[0] == '.';
}

void InterruptRewritesForTesting(bool on) {
    g_interrupt = on;
}

int RemoveStaleTemporaryFiles(std::string_view folder) {
    std::string os = FileUtil::OsPath(folder);
    if (os.empty()) return 0;
    if (os.back() != '/') os += '/';
    DIR* dir = ::opendir(os.c_str());
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* e = ::readdir(dir)) {
        const pid_t writer = TemporaryWriter(e->d_name);
        if (writer <= 0 || writer == ::getpid()) continue;
        if (::kill(writer, 0) == 0 || errno != ESRCH) continue;
        if (::unlinkat(::dirfd(dir), e->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

bool WriteFileAtomically(std::string_view path, std::string_view text, bool replace,
                         std::optional<mode_t> newFileMode,
                         const std::function<bool()>& stillCurrent, Durability durability) {
    const bool sync = durability == Durability::Synced;
    const std::string os = FileUtil::OsPath(path);
    if (os.empty() || os.back() == '/') return false;
    struct stat old {};
    const bool exists = ::stat(os.c_str(), &old) == 0;
    if (exists && (!replace || S_ISDIR(old.st_mode))) return false;

    const std::string folder = FolderOf(os);
    const size_t slash = os.rfind('/');
    const std::string base = slash == std::string::npos ? os : os.substr(slash + 1);
    // A new file gets the mode fopen would give it, so the temporary is made with open().
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        tmp = (folder == "/" ? "" : folder) + "/." + base + "." + std::to_string(::getpid()) + "." +
              std::to_string(g_counter++);
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    bool ok = true;
    if (exists) {
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    } else if (newFileMode) {
        ok = ::fchmod(fd, *newFileMode) == 0;
    }
    ok = ok && WriteAll(fd, text) && (!sync || ::fsync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    if (ok && g_interrupt) return false;
    if (ok && stillCurrent && !stillCurrent()) ok = false;
    if (ok) {
        if (replace) {
            ok = ::rename(tmp.c_str(), os.c_str()) == 0;
        } else {
            // link() refuses an existing target, so a file created meanwhile is never replaced.
            ok = ::link(tmp.c_str(), os.c_str()) == 0;
            ::unlink(tmp.c_str());
        }
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    if (sync) SyncFolder(folder);
    return true;
}

bool SyncWrittenFile(std::string_view path) {
    const std::string os = FileUtil::OsPath(path);
    const int fd = ::open(os.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    SyncFolder(FolderOf(os));
    return ok;
}

bool AppendLine(std::string_view path, std::string_view line) {
    const std::string os = FileUtil::OsPath(path);
    const int fd = ::open(os.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    std::string add;
    if (ok && st.st_size > 0) {
        char last = '\n';
        ok = ::pread(fd, &last, 1, st.st_size - 1) == 1;
        if (last != '\n') add += '\n';
    }
    add.append(line);
    if (add.empty() || add.back() != '\n') add += '\n';
    if (ok) {
        ok = WriteAll(fd, add) && ::fsync(fd) == 0;
        if (!ok && ::ftruncate(fd, st.st_size) == 0) ::fsync(fd);
    }
    ok = ::close(fd) == 0 && ok;
    return ok;
}

bool AppendRecord(std::string_view path, std::string_view record) {
    const std::string os = FileUtil::OsPath(path);
    const int fd = ::open(os.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const bool ok = WriteAll(fd, record);
    return ::close(fd) == 0 && ok;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::optional<std::string> ReadWholeFile(std::string_view path, size_t limit) {
    // Non-blocking, so that a FIFO in place of a file cannot hang the store.
    const int fd = ::open(FileUtil::OsPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    // Read straight into a string of the file's size (one byte more shows its end): no buffer on
    // the stack of the many session threads, and no spare heap block left behind.
    constexpr size_t kChunk = 8192;
    size_t want = std::min(static_cast<size_t>(std::max<off_t>(st.st_size, 0)), limit) + 1;
    std::string data;
    for (;;) {
        const size_t had = data.size();
        data.resize(had + want);
        const ssize_t n = ::read(fd, data.data() + had, want);
        data.resize(had + static_cast<size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || data.size() > limit) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        want = kChunk;
    }
    ::close(fd);
    return data;
}

}  // namespace orvex
