// Whole-tree and whole-file operations. Every walk works relative to open directory descriptors
// and never opens a symbolic link, so it cannot leave the tree it was given.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/FileUtil.h"
#include "engine/FileUtilOs.h"
#include "engine/StringUtil.h"

namespace orvex::FileUtil {

namespace {

constexpr int kMaxDepth = 128;
constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool IsDots(const char* n) {
    return n[0] == '.' && (!n[1] || (n[1] == '.' && !n[2]));
}

// Entry names of an open directory, "." and ".." left out. Takes no ownership of `fd`.
bool ReadNames(int fd, std::vector<std::string>& names) {
    int dup = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (dup < 0) return false;
    DIR* d = fdopendir(dup);
    if (!d) {
        close(dup);
        return false;
    }
    while (struct dirent* e = readdir(d))
        if (!IsDots(e->d_name)) names.emplace_back(e->d_name);
    closedir(d);
    return true;
}

int OpenDirAt(int parent, const char* name) {
    int fd;
    do {
        fd = openat(parent, name, kDirFlags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool CopyFds(int in, int out) {
    std::vector<char> buf(64 * 1024);
    for (;;) {
        ssize_t n = read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        for (ssize_t off = 0; off < n;) {
            ssize_t w = write(out, buf.data() + off, static_cast<size_t>(n - off));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            off += w;
        }
    }
}

// Copies the regular file `name` of directory `srcDir` (AT_FDCWD for a plain path) to `target`.
bool CopyRegular(int srcDir, const char* name, const std::string& target) {
    int in = openat(srcDir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) return false;
    struct stat si {
    }, so{};
    if (fstat(in, &si) != 0 || !S_ISREG(si.st_mode)) {
        close(in);
        return false;
    }
    int out = open(target.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (out < 0) {
        close(in);
        return false;
    }
    // Truncating only after the identity check keeps a copy onto itself from emptying the file.
    bool ok = fstat(out, &so) == 0 && S_ISREG(so.st_mode) &&
              !(so.st_dev == si.st_dev && so.st_ino == si.st_ino) && ftruncate(out, 0) == 0 &&
              CopyFds(in, out);
    close(in);
    if (close(out) != 0) ok = false;
    return ok;
}

int DeleteContents(int dirFd, bool keepDirectories, int depth) {
    std::vector<std::string> names;
    if (depth > kMaxDepth || !ReadNames(dirFd, names)) return 0;
    int count = 0;
    for (const auto& n : names) {
        struct stat st {};
        if (fstatat(dirFd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            int sub = OpenDirAt(dirFd, n.c_str());
            if (sub < 0) continue;
            count += DeleteContents(sub, keepDirectories, depth + 1);
            close(sub);
            if (!keepDirectories && unlinkat(dirFd, n.c_str(), AT_REMOVEDIR) == 0) ++count;
        } else if (unlinkat(dirFd, n.c_str(), 0) == 0) {
            ++count;
        }
    }
    return count;
}

// Removing a tree is mostly waiting for its inodes to come from the disk, so its subtrees go to
// several threads side by side. The top levels are opened first, breadth first, until there are
// enough subtrees to share out; their files go at once and the directories themselves last.
constexpr size_t kDeleteThreads = 16;
constexpr size_t kSubtreesWanted = 4 * kDeleteThreads;
constexpr int kLevelsOpened = 3;

int DeleteContentsSideBySide(int topFd, bool keepDirectories) {
    struct Opened {
        int fd;
        int parentFd;
        std::string name;
    };
    std::vector<Opened> opened;  // in the order opened, each after its parent
    std::vector<std::pair<int, std::string>> subtrees;  // parent descriptor and name
    int count = 0;
    auto takeFiles = [&](int fd) {
        std::vector<std::string> names;
        if (!ReadNames(fd, names)) return;
        for (std::string& n : names) {
            struct stat st {};
            if (fstatat(fd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (S_ISDIR(st.st_mode))
                subtrees.emplace_back(fd, std::move(n));
            else if (unlinkat(fd, n.c_str(), 0) == 0)
                ++count;
        }
    };
    takeFiles(topFd);
    int depth = 0;
    for (; depth < kLevelsOpened && !subtrees.empty() && subtrees.size() < kSubtreesWanted;
         ++depth) {
        std::vector<std::pair<int, std::string>> level;
        level.swap(subtrees);
        for (auto& [parent, name] : level) {
            const int fd = OpenDirAt(parent, name.c_str());
            if (fd < 0) continue;
            opened.push_back({fd, parent, std::move(name)});
            takeFiles(fd);
        }
    }

    std::atomic<size_t> next{0};
    std::atomic<int> removed{0};
    auto work = [&]() {
        for (size_t i = next++; i < subtrees.size(); i = next++) {
            const auto& [parent, name] = subtrees[i];
            const int sub = OpenDirAt(parent, name.c_str());
            if (sub < 0) continue;
            removed += DeleteContents(sub, keepDirectories, depth + 1);
            close(sub);
            if (!keepDirectories && unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0) ++removed;
        }
    };
    std::vector<std::thread> helpers;
    const size_t wanted = std::min(subtrees.size(), kDeleteThreads);
    try {
        while (helpers.size() + 1 < wanted) helpers.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer threads only make it slower.
    }
    work();
    for (std::thread& t : helpers) t.join();

    for (auto it = opened.rbegin(); it != opened.rend(); ++it) {
        close(it->fd);
        if (!keepDirectories && unlinkat(it->parentFd, it->name.c_str(), AT_REMOVEDIR) == 0)
            ++count;
    }
    return count + removed;
}

struct CopyWalk {
    dev_t skipDev = 0;  // the target directory, so that a copy into itself does not recurse
    ino_t skipIno = 0;
};

int CopyContents(int srcFd, const std::string& target, const std::string& pattern,
                 const CopyWalk& walk, int depth) {
    std::vector<std::string> names;
    if (depth > kMaxDepth || !ReadNames(srcFd, names)) return 0;
    int count = 0;
    for (const auto& n : names) {
        if (!pattern.empty() && !StringUtil::WildcardMatch(pattern, n)) continue;
        struct stat st {};
        if (fstatat(srcFd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        std::string to = target + "/" + n;
        if (S_ISREG(st.st_mode)) {
            if (CopyRegular(srcFd, n.c_str(), to)) ++count;
        } else if (S_ISDIR(st.st_mode) && pattern.empty()) {
            if (st.st_dev == walk.skipDev && st.st_ino == walk.skipIno) continue;
            if (mkdir(to.c_str(), 0777) != 0 && errno != EEXIST) continue;
            int sub = OpenDirAt(srcFd, n.c_str());
            if (sub < 0) continue;
            count += CopyContents(sub, to, pattern, walk, depth + 1);
            close(sub);
        }
    }
    return count;
}

// Splits "dir\pat*" into the directory (with its separator) and the pattern.
void SplitPattern(const std::string& p, std::string& dir, std::string& pattern) {
    size_t sep = p.rfind('\\');
    dir = sep == std::string::npos ? std::string(".") : p.substr(0, sep + 1);
    pattern = sep == std::string::npos ? p : p.substr(sep + 1);
}

// The entries of an open directory, sorted by name. A name with a backslash cannot be written
// as an internal path, so walks never meet one.
bool ReadEntries(int fd, std::vector<DirEntry>& out) {
    std::vector<std::string> names;
    if (!ReadNames(fd, names)) return false;
    std::sort(names.begin(), names.end());
    out.clear();
    out.reserve(names.size());
    for (std::string& n : names) {
        struct stat st {};
        if (n.find('\\') != std::string::npos ||
            fstatat(fd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        DirEntry e;
        e.name = std::move(n);
        e.type = S_ISLNK(st.st_mode)   ? EntryType::Link
                 : S_ISDIR(st.st_mode) ? EntryType::Directory
                                       : EntryType::File;
        e.size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
        out.push_back(std::move(e));
    }
    return true;
}

// `dir` is the internal path of `fd`; it is extended and restored on the way down.
bool WalkAt(int fd, std::string& dir, int depth, const TreeVisitor& visit, int maxDepth) {
    std::vector<DirEntry> entries;
    if (!ReadEntries(fd, entries)) return true;
    if (!visit(dir, depth, entries)) return false;
    if (depth >= maxDepth) return true;
    const size_t length = dir.size();
    for (const DirEntry& e : entries) {
        if (e.type != EntryType::Directory || !e.walk) continue;
        const int sub = OpenDirAt(fd, e.name.c_str());
        if (sub < 0) continue;
        dir += e.name;
        dir += '\\';
        const bool more = WalkAt(sub, dir, depth + 1, visit, maxDepth);
        close(sub);
        dir.resize(length);
        if (!more) return false;
    }
    return true;
}

}  // namespace

bool DirNotEmpty(std::string_view dir) {
    if (dir.empty()) return false;
    int fd = open(OsEntry(dir).c_str(), kDirFlags);
    if (fd < 0) return false;
    std::vector<std::string> names;
    bool any = ReadNames(fd, names) && !names.empty();
    close(fd);
    return any;
}

bool CopyFile(std::string_view from, std::string_view to) {
    if (from.empty() || to.empty()) return false;
    return CopyRegular(AT_FDCWD, OsEntry(from).c_str(), OsEntry(to));
}

int CopyTree(std::string_view from, std::string_view to) {
    if (from.empty() || to.empty()) return 0;
    std::string src(from), dst(to);
    ToBackslashes(src);
    ToBackslashes(dst);
    // Only the last component can be a pattern: a directory above may carry any name.
    std::string dir, pattern;
    SplitPattern(src, dir, pattern);
    if (pattern.find('*') == std::string::npos) pattern.clear();
    if (!pattern.empty()) {
        src = dir;
    } else if (Kind(src) == 2) {
        std::string target = dst;
        std::string base;
        if (IsDirectory(dst) && BaseName(src, base)) {
            AddTrailingSep(target);
            target += base;
        }
        return CopyFile(src, target) ? 1 : 0;
    } else if (Kind(src) != 1) {
        return 0;
    }
    int srcFd = open(OsEntry(src).c_str(), kDirFlags);
    if (srcFd < 0) return 0;
    std::string target = OsEntry(dst);
    mkdir(target.c_str(), 0777);
    struct stat st {};
    if (lstat(target.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        close(srcFd);
        return 0;
    }
    CopyWalk walk{st.st_dev, st.st_ino};
    int n = CopyContents(srcFd, target, pattern, walk, 0);
    close(srcFd);
    return n;
}

int DeleteTree(std::string_view path, bool keepDirectories) {
    if (path.empty()) return 0;
    std::string p(path);
    ToBackslashes(p);
    // Only the last component can be a pattern: a directory above may carry any name.
    std::string dir, pattern;
    SplitPattern(p, dir, pattern);
    if (pattern.find('*') == std::string::npos) return DeleteEntry(p, keepDirectories);
    int fd = open(OsEntry(dir).c_str(), kDirFlags);
    if (fd < 0) return 0;
    std::vector<std::string> names;
    ReadNames(fd, names);
    int count = 0;
    for (const auto& n : names)
        if (StringUtil::WildcardMatch(pattern, n) && unlinkat(fd, n.c_str(), 0) == 0) ++count;
    close(fd);
    return count;
}

int DeleteEntry(std::string_view path, bool keepDirectories) {
    if (path.empty()) return 0;
    std::string os = OsEntry(path);
    struct stat st {};
    if (lstat(os.c_str(), &st) != 0) return 0;
    if (!S_ISDIR(st.st_mode)) return unlink(os.c_str()) == 0 ? 1 : 0;
    int fd = open(os.c_str(), kDirFlags);
    if (fd < 0) return 0;
    int count = DeleteContentsSideBySide(fd, keepDirectories);
    close(fd);
    if (!keepDirectories && rmdir(os.c_str()) == 0) ++count;
    return count;
}

bool ListDirectory(std::string_view dir, std::vector<DirEntry>& out) {
    out.clear();
    if (dir.empty()) return false;
    const int fd = open(OsEntry(dir).c_str(), kDirFlags);
    if (fd < 0) return false;
    const bool read = ReadEntries(fd, out);
    close(fd);
    return read;
}

bool WalkTree(std::string_view dir, const TreeVisitor& visit, int maxDepth) {
    if (dir.empty()) return false;
    const int fd = open(OsEntry(dir).c_str(), kDirFlags);
    if (fd < 0) return false;
    std::string path(dir);
    ToBackslashes(path);
    AddTrailingSep(path);
    WalkAt(fd, path, 0, visit, std::min(maxDepth, kMaxDepth));
    close(fd);
    return true;
}

}  // namespace orvex::FileUtil
