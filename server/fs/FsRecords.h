#pragma once
// The records of the virtual filesystem: directories, their files, the dupe log and the
// directory links. Stores hand out copies of these.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

inline constexpr const char* kDefaultDirectoryMode = "rwxrwxrwx";
inline constexpr const char* kDefaultFileMode = "rw-r--r--";
// What a directory or file without a record counts as.
inline constexpr const char* kUnknownDirectoryMode = "r-xr-xr-x";
inline constexpr const char* kUnknownFileMode = "r--r--r--";
// Visible limit of a mode string (a 16-byte field).
inline constexpr size_t kModeMax = 15;
// Owner and group ids stored as 0 read as this.
inline constexpr uint32_t kDefaultOwnerId = 100;

struct FileRecord {
    std::string name;
    std::string permissions;  // at most kModeMax
    uint32_t owner = 0;
    uint32_t group = 0;
    uint64_t size = 0;
    uint32_t free = 0;  // nonzero: downloads cost nothing
    // The ratio its upload earned credits at, taken back at its delete wherever it was moved
    // since; -1 unknown (the ratio of where it is then applies).
    int32_t earnedRatio = -1;
    bool deleted = false;
    bool changed = false;
    bool operator==(const FileRecord&) const = default;
};

struct DirectoryRecord {
    std::string path;  // absolute, internal form, ends in '\'
    int32_t id = 0;
    std::string permissions;  // at most kModeMax
    uint32_t owner = 0;
    uint32_t group = 0;
    int32_t ratio = -1;  // -1 inherit, 0 free, 1..9 credits per uploaded KB
    int32_t dupeDisable = 0;
    int32_t mirrorId = 0;
    bool deleted = false;
    bool changed = false;
    // In copies asked for with files: the directory's files in list order.
    std::optional<std::vector<FileRecord>> files{};
    bool operator==(const DirectoryRecord&) const = default;
};

struct DupeRecord {
    std::string name;  // base name; compared without regard to case
    uint32_t uploader = 0;
    uint32_t time = 0;  // seconds since 1970 of the last upload of the name
    bool operator==(const DupeRecord&) const = default;
};

// Visible limit of each directory of a link.
inline constexpr size_t kLinkPathMax = 264;

struct DirectoryLink {
    std::string linkDir;  // where the link appears in the site tree; the key, any case
    std::string realDir;  // the directory whose contents are shown there
    bool operator==(const DirectoryLink&) const = default;
};

}  // namespace orvex
