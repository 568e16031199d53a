#include "engine/FileUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <vector>

#include "engine/FileUtilOs.h"
#include "engine/StringUtil.h"

namespace orvex::FileUtil {

namespace {

inline bool IsSep(char c) {
    return c == '\\' || c == '/';
}

}  // namespace

FileInfo InfoOf(const struct stat& st) {
    FileInfo info;
    info.gid = st.st_gid;
    info.accessTime = st.st_atime;
    info.changeTime = st.st_ctime;
    info.device = st.st_dev;
    uint32_t type = S_ISDIR(st.st_mode) ? kModeDirectory : S_ISREG(st.st_mode) ? 0x8000u : 0u;
    info.mode = type | (st.st_mode & 0777);
    info.modifyTime = st.st_mtime;
    info.size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    info.uid = st.st_uid;
    info.inode = st.st_ino;
    info.links = static_cast<uint32_t>(st.st_nlink);
    return info;
}

bool Stat(std::string_view path, FileInfo& info) {
    if (path.empty()) return false;
    struct stat st {};
    if (lstat(OsEntry(path).c_str(), &st) != 0) return false;
    info = InfoOf(st);
    return true;
}

int Kind(std::string_view path) {
    if (path.empty()) return 0;
    struct stat st {};
    if (lstat(OsEntry(path).c_str(), &st) != 0) return 0;
    return S_ISDIR(st.st_mode) ? 1 : 2;
}

bool IsDirectory(std::string_view path) {
    return Kind(path) == 1;
}

bool IsSymlink(std::string_view path) {
    if (path.empty()) return false;
    struct stat st {};
    return lstat(OsEntry(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

void NormaliseDots(std::string& relative) {
    // Works on whole components: "." is dropped, ".." takes the component before it (or nothing
    // at the top), empty components from runs of separators vanish.
    std::vector<std::string_view> parts;
    std::string_view s(relative);
    // The OS would end the path at a NUL, so nothing after it may take part.
    s = s.substr(0, s.find('\0'));
    bool dirForm = false;
    size_t i = 0;
    while (i <= s.size()) {
        size_t j = i;
        while (j < s.size() && !IsSep(s[j])) ++j;
        std::string_view comp = s.substr(i, j - i);
        if (comp == "..") {
            if (!parts.empty()) parts.pop_back();
            dirForm = true;
        } else if (comp == ".") {
            dirForm = true;
        } else if (!comp.empty()) {
            parts.push_back(comp);
            dirForm = j < s.size();
        }
        i = j + 1;
    }
    if (!s.empty() && IsSep(s.back())) dirForm = true;
    std::string out;
    for (auto p : parts) {
        out += p;
        out += '\\';
    }
    if (!out.empty() && !dirForm) out.pop_back();
    relative = std::move(out);
}

std::string Resolve(std::string_view root, std::string_view cwd, std::string_view request) {
    std::string path = ResolveText(root, cwd, request);
    std::string base(root);
    if (!base.empty() && !IsSep(base.back())) base += '\\';
    if (!StaysUnder(base, path)) return {};
    return path;
}

std::string ResolveText(std::string_view root, std::string_view cwd, std::string_view request) {
    std::string base(root);
    if (!base.empty() && !IsSep(base.back())) base += '\\';
    std::string rel;
    if (request.empty() || !IsSep(request.front())) {
        rel.assign(cwd);
        if (!rel.empty() && !IsSep(rel.back())) rel += '\\';
    }
    rel.append(request);
    NormaliseDots(rel);
    return base + rel;
}

bool AddTrailingSep(std::string& s) {
    if (s.empty() || !IsSep(s.back())) s += '\\';
    return true;
}

void StripTrailingSep(std::string& s) {
    if (!s.empty() && IsSep(s.back())) s.pop_back();
}

void StripLeadingSep(std::string& s) {
    if (!s.empty() && IsSep(s.front())) s.erase(0, 1);
}

void MakeRooted(std::string& s) {
    if (s.empty() || !IsSep(s.front())) s.insert(s.begin(), '\\');
}

void ToBackslashes(std::string& s) {
    for (char& c : s)
        if (c == '/') c = '\\';
}

void ToSlashes(std::string& s) {
    for (char& c : s)
        if (c == '\\') c = '/';
}

std::string Slashed(std::string_view s) {
    std::string r(s);
    ToSlashes(r);
    return r;
}

bool BaseName(std::string_view path, std::string& out) {
    out.clear();
    if (path.find("\\\\") != std::string_view::npos || path.find("//") != std::string_view::npos)
        return false;
    size_t p = path.rfind('\\');
    std::string_view b = p == std::string_view::npos ? path : path.substr(p + 1);
    if (b.empty() || b.find('/') != std::string_view::npos) return false;
    out.assign(b);
    return true;
}

std::string DirName(std::string_view path) {
    size_t p = path.rfind('\\');
    return p == std::string_view::npos ? std::string() : std::string(path.substr(0, p + 1));
}

std::string_view AfterLastSep(std::string_view path) {
    size_t p = path.rfind('\\');
    return p == std::string_view::npos ? std::string_view() : path.substr(p + 1);
}

bool SkipPrefixNoCase(std::string_view s, std::string_view prefix, std::string_view& rest) {
    if (s.size() < prefix.size() || !StringUtil::EqualNoCase(s.substr(0, prefix.size()), prefix))
        return false;
    rest = s.substr(prefix.size());
    return true;
}

bool IsForbiddenName(std::string_view name) {
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f) return true;
        switch (c) {
            case '\\':
            case '/':
            case '*':
            case '?':
            case '"':
            case '<':
            case '>':
            case '|':
            case ':':
                return true;
            default:
                break;
        }
    }
    return false;
}

bool MakeDir(std::string& path) {
    if (path.empty()) return false;
    std::string p = path;
    ToBackslashes(p);
    if (p.size() > 1) StripTrailingSep(p);
    mkdir(OsPath(p).c_str(), 0777);
    if (!IsDirectory(p)) return false;
    AddTrailingSep(p);
    path = std::move(p);
    return true;
}

bool RemoveFile(std::string_view path) {
    return !path.empty() && unlink(OsEntry(path).c_str()) == 0;
}

bool CreateDir(std::string_view path) {
    return !path.empty() && mkdir(OsEntry(path).c_str(), 0777) == 0;
}

bool RemoveDir(std::string_view path) {
    return !path.empty() && rmdir(OsEntry(path).c_str()) == 0;
}

bool Rename(std::string_view from, std::string_view to) {
    if (from.empty() || to.empty()) return false;
    std::string a = OsEntry(from), b = OsEntry(to);
    if (renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
    // The filesystem cannot rename without replacing: a hard link never replaces either.
    struct stat st {};
    if (lstat(a.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) {
        if (link(a.c_str(), b.c_str()) != 0) return false;
        if (unlink(a.c_str()) != 0) {
            unlink(b.c_str());
            return false;
        }
        return true;
    }
    if (lstat(b.c_str(), &st) == 0 || errno != ENOENT) return false;
    return rename(a.c_str(), b.c_str()) == 0;
}

bool ChangeDir(std::string_view path) {
    return !path.empty() && chdir(OsPath(path).c_str()) == 0;
}

std::string CurrentDir() {
    std::vector<char> buf(PATH_MAX + 1);
    if (!getcwd(buf.data(), buf.size())) return {};
    std::string s(buf.data());
    ToBackslashes(s);
    AddTrailingSep(s);
    return s;
}

bool SetTimes(std::string_view path, int64_t modifyTime, int64_t accessTime) {
    if (path.empty()) return false;
    if (accessTime == 0) accessTime = modifyTime;
    struct timespec ts[2] = {};
    ts[0].tv_sec = static_cast<time_t>(accessTime);
    ts[1].tv_sec = static_cast<time_t>(modifyTime);
    return utimensat(AT_FDCWD, OsEntry(path).c_str(), ts, AT_SYMLINK_NOFOLLOW) == 0;
}

bool DiskSpace(std::string_view path, double& totalBytes, double& freeBytes) {
    totalBytes = freeBytes = 0;
    std::string p = OsPath(path);
    if (p.empty()) p = ".";
    struct statvfs sv {};
    // A path that does not exist yet still lives on the filesystem of its nearest parent.
    while (statvfs(p.c_str(), &sv) != 0) {
        if (p == "/" || p == ".") return false;
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        size_t s = p.rfind('/');
        if (s == std::string::npos)
            p = ".";
        else
            p.resize(s == 0 ? 1 : s);
    }
    totalBytes = static_cast<double>(sv.f_blocks) * static_cast<double>(sv.f_frsize);
    freeBytes = static_cast<double>(sv.f_bavail) * static_cast<double>(sv.f_frsize);
    return true;
}

std::string OwnerName() {
    return "owner";
}
std::string GroupName() {
    return "group";
}

std::string ModeString(uint32_t mode) {
    static const char kLetters[] = "rwxrwxrwx";
    std::string s(9, '-');
    for (int i = 0; i < 9; ++i)
        if (mode & (0400u >> i)) s[i] = kLetters[i];
    return s;
}

uint32_t ModeBits(std::string_view text) {
    static const char kLetters[] = "rwxrwxrwx";
    uint32_t bits = 0;
    for (size_t i = 0; i < 9 && i < text.size(); ++i)
        if (text[i] == kLetters[i]) bits |= 0400u >> i;
    return bits;
}

UniqueFile OpenFile(std::string_view path, const char* mode) {
    if (path.empty() || !mode) return nullptr;
    std::string m(mode);
    if (m.find('e') == std::string::npos) m += 'e';
    return UniqueFile(fopen(OsPath(path).c_str(), m.c_str()));
}

int OpenFd(std::string_view path, int flags, int perms) {
    if (path.empty()) return -1;
    int fd;
    do {
        fd = open(OsPath(path).c_str(), flags | O_CLOEXEC, perms);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace orvex::FileUtil
