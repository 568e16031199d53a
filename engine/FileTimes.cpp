#include "engine/FileTimes.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "engine/FileUtilOs.h"

namespace orvex::FileUtil {

bool ReadEntryTimes(std::string_view path, EntryTimes& out, bool followLinks) {
    if (path.empty()) return false;
    struct statx stx {};
    const int flags = followLinks ? 0 : AT_SYMLINK_NOFOLLOW;
    if (statx(AT_FDCWD, OsEntry(path).c_str(), flags,
              STATX_BTIME | STATX_MTIME | STATX_SIZE | STATX_INO, &stx) != 0)
        return false;
    out.modifySeconds = stx.stx_mtime.tv_sec;
    out.modifyNanoseconds = stx.stx_mtime.tv_nsec;
    out.size = stx.stx_size;
    out.inode = stx.stx_ino;
    out.creation = (stx.stx_mask & STATX_BTIME) ? stx.stx_btime.tv_sec : stx.stx_mtime.tv_sec;
    return true;
}

int64_t CreationTime(std::string_view path) {
    EntryTimes t;
    return ReadEntryTimes(path, t, false) ? t.creation : 0;
}

}  // namespace orvex::FileUtil
