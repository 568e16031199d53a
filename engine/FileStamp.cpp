#include "engine/FileStamp.h"

#include <sys/stat.h>

#include "engine/FileUtil.h"

namespace orvex {

bool ReadFileStamp(std::string_view path, FileStamp& out) {
    if (path.empty()) return false;
    struct stat st {};
    if (stat(FileUtil::OsPath(path).c_str(), &st) != 0) return false;
    out.sec = st.st_mtim.tv_sec;
    out.nsec = st.st_mtim.tv_nsec;
    out.size = static_cast<uint64_t>(st.st_size);
    out.inode = static_cast<uint64_t>(st.st_ino);
    return true;
}

}  // namespace orvex
