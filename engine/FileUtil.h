#pragma once
// Path and file helpers. Internal paths use backslashes and directories end in one; OsPath() is
// the single place where they become Linux paths.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/os/OsPath.h"

namespace orvex {

struct FileInfo {
    uint32_t gid = 0;
    int64_t accessTime = 0;
    int64_t changeTime = 0;  // shown as the creation time
    uint64_t device = 0;
    uint32_t mode = 0;  // 0x4000 for a directory, low nine bits rwx
    int64_t modifyTime = 0;
    uint64_t size = 0;
    uint32_t uid = 0;
    uint64_t inode = 0;
    uint32_t links = 0;
};

constexpr uint32_t kModeDirectory = 0x4000;

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) fclose(f);
    }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

namespace FileUtil {

bool Stat(std::string_view path, FileInfo& info);  // does not follow a final symbolic link
int Kind(std::string_view path);                   // 0 missing, 1 directory, 2 other
bool IsDirectory(std::string_view path);
bool IsSymlink(std::string_view path);

// Absolute path of `request` against root (ends in '\') and cwd (relative, empty or ends in '\'),
// worked out on the text: ".." never climbs above the root and runs of separators collapse.
std::string ResolveText(std::string_view root, std::string_view cwd, std::string_view request);
// ResolveText, or empty when a symbolic link on the disk would lead the path out of the root
// (StaysUnder). Every client path goes through here.
std::string Resolve(std::string_view root, std::string_view cwd, std::string_view request);
// Whether `path` (beginning with `root`) stays below the root when every symbolic link on it is
// followed, the last component's included. Links within the root keep working; a link to an
// absolute path is followed when that path lies below the root's real path. An empty root bounds
// nothing.
bool StaysUnder(std::string_view root, std::string_view path);
void NormaliseDots(std::string& relative);

bool AddTrailingSep(std::string& s);  // "" becomes "\"
void StripTrailingSep(std::string& s);
void StripLeadingSep(std::string& s);
void MakeRooted(std::string& s);
void ToBackslashes(std::string& s);
void ToSlashes(std::string& s);
std::string Slashed(std::string_view s);
bool BaseName(std::string_view path, std::string& out);
std::string DirName(std::string_view path);  // up to and including the last '\'
std::string_view AfterLastSep(std::string_view path);
// The rest of `s` after `prefix` (case-insensitive), or false.
bool SkipPrefixNoCase(std::string_view s, std::string_view prefix, std::string_view& rest);

// A name Windows could not create: control characters or one of \ / * ? " < > | :
bool IsForbiddenName(std::string_view name);

// Enumerates a directory or a pattern ("dir\*.txt"). Yields "." and ".." like any entry.
class DirectoryScan {
  public:
    explicit DirectoryScan(std::string_view dirOrPattern);
    ~DirectoryScan();
    DirectoryScan(const DirectoryScan&) = delete;
    DirectoryScan& operator=(const DirectoryScan&) = delete;
    bool Ok() const;
    bool Next(std::string& name);
    // The next entry with its status, read relative to the open directory without following a
    // link; entries that vanish meanwhile are skipped.
    bool Next(std::string& name, FileInfo& info);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

bool DirNotEmpty(std::string_view dir);
bool MakeDir(std::string& path);         // adds a trailing '\' on success
bool RemoveFile(std::string_view path);  // never removes a directory
bool CreateDir(std::string_view path);
bool RemoveDir(std::string_view path);
bool Rename(std::string_view from, std::string_view to);  // never replaces an existing target
bool ChangeDir(std::string_view path);
std::string CurrentDir();  // internal form with trailing '\', empty on failure
bool SetTimes(std::string_view path, int64_t modifyTime, int64_t accessTime = 0);
bool CopyFile(std::string_view from, std::string_view to);
int CopyTree(std::string_view from, std::string_view to);
// A "*" in the last component makes it a pattern: the matching files of that directory go.
// Otherwise as DeleteEntry. The number of entries removed.
int DeleteTree(std::string_view path, bool keepDirectories);
// Removes a file or link, or a whole directory tree (only its files with `keepDirectories`),
// never taking any character of `path` as a pattern. The number of entries removed.
int DeleteEntry(std::string_view path, bool keepDirectories);

// One entry of a directory as the walks see it. A symbolic link is a Link, whatever it points at.
enum class EntryType : uint8_t { File, Directory, Link };
struct DirEntry {
    std::string name;
    EntryType type = EntryType::File;
    uint64_t size = 0;  // regular files only
    bool walk = true;   // a walk goes into this directory; visitors clear it to leave one out
};
// The entries of `dir`, "." and ".." left out, sorted by name; false when it cannot be opened
// (a link is never opened).
bool ListDirectory(std::string_view dir, std::vector<DirEntry>& out);
// Walks `dir` and the directories below it, down to `maxDepth` levels, through directory
// handles that never pass a symbolic link. `visit` gets each directory's path (internal form,
// ending in '\'), its depth (0 for `dir`) and its entries, all of one directory before any
// below it; it answers false to end the whole walk. False when `dir` cannot be opened.
using TreeVisitor =
    std::function<bool(const std::string& dir, int depth, std::vector<DirEntry>& entries)>;
bool WalkTree(std::string_view dir, const TreeVisitor& visit, int maxDepth);
bool DiskSpace(std::string_view path, double& totalBytes, double& freeBytes);
std::string OwnerName();                   // "owner"
std::string GroupName();                   // "group"
std::string ModeString(uint32_t mode);     // "rwxr-x---"
uint32_t ModeBits(std::string_view text);  // "rwxr-x---" back to 0750; other letters are unset

// Open files close-on-exec. `mode` as for fopen.
UniqueFile OpenFile(std::string_view path, const char* mode);
int OpenFd(std::string_view path, int flags, int perms = 0666);

}  // namespace FileUtil
}  // namespace orvex
