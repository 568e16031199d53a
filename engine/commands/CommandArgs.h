#pragma once
// Argument checks shared by the directory and file command handlers.

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"

namespace orvex::commands {

// True when the last component of `absolute` (below `root`) is a name Windows could not create.
// The root itself is never refused here: it already exists.
inline bool LeafIsForbidden(std::string_view root, std::string_view absolute) {
    if (absolute.size() <= root.size()) return false;
    std::string rel(absolute.substr(root.size()));
    FileUtil::StripTrailingSep(rel);
    const size_t sep = rel.find_last_of("\\/");
    const std::string_view leaf =
        sep == std::string::npos ? std::string_view(rel) : std::string_view(rel).substr(sep + 1);
    return FileUtil::IsForbiddenName(leaf);
}

// Removes the empty directory `path`; nullptr on success, else the reply text's format (one
// "%s" for the argument as typed).
inline const char* RemoveDirectoryFault(std::string_view path) {
    switch (FileUtil::Kind(path)) {
        case 0:
            return "%s: No such file of directory.";
        case 2:
            return "%s: Not a directory.";
        default:
            if (FileUtil::DirNotEmpty(path)) return "%s: The directory is not empty.";
            if (!FileUtil::RemoveDir(path)) return "%s: Unable to remove directory.";
            return nullptr;
    }
}

// The joined argument as shown to the client: slashes for backslashes.
inline std::string Shown(std::string_view typed) {
    return FileUtil::Slashed(typed);
}

// A restart offset: an optional '-' and decimal digits within the signed 64-bit range. A value out
// of range is refused rather than clamped.
inline bool ParseOffset(const std::string& text, int64_t& value) {
    if (text.empty() || !StringUtil::IsInteger(text)) return false;
    errno = 0;
    const long long parsed = strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE) return false;
    value = parsed;
    return true;
}

}  // namespace orvex::commands
