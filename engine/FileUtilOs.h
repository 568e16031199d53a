#pragma once
// Internal to the file helpers.

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "engine/FileUtil.h"

namespace orvex::FileUtil {

// OS path with one trailing separator removed, so that lstat, unlink and open(O_NOFOLLOW) see
// the entry itself rather than what a final link points at; the root stays "/".
inline std::string OsEntry(std::string_view internal) {
    std::string p = OsPath(internal);
    if (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

// The status fields the engine keeps of an entry.
FileInfo InfoOf(const struct stat& st);

}  // namespace orvex::FileUtil
