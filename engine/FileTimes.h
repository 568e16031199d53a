#pragma once
// When a file came into being. Linux keeps no creation time in stat, and the status-change time
// moves with every chmod, rename and rewrite, so it never stands in for one: the creation time
// is the birth time where the filesystem keeps one, else the last modification time.

#include <cstdint>
#include <string_view>

namespace orvex::FileUtil {

struct EntryTimes {
    int64_t modifySeconds = 0;
    int64_t modifyNanoseconds = 0;
    uint64_t size = 0;
    uint64_t inode = 0;
    int64_t creation = 0;
};

// One statx call; false when the entry cannot be examined.
bool ReadEntryTimes(std::string_view path, EntryTimes& out, bool followLinks);
// 0 when the entry cannot be examined. A final symbolic link is not followed.
int64_t CreationTime(std::string_view path);

}  // namespace orvex::FileUtil
