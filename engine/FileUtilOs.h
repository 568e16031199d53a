#pragma once
// Internal to the file helpers.

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

}  // namespace orvex::FileUtil
