#pragma once
// What a store remembers about its file to notice edits: modification time to the nanosecond,
// size and inode, so that a hand edit in the same second as the server's own write is still seen,
// and a file another program replaced even within one tick of the file system's clock.

#include <cstdint>
#include <string_view>

namespace orvex {

struct FileStamp {
    int64_t sec = 0;
    int64_t nsec = 0;
    uint64_t size = 0;
    uint64_t inode = 0;
    bool operator==(const FileStamp&) const = default;
};

// `path` in internal form; follows symbolic links. False when the file cannot be examined.
bool ReadFileStamp(std::string_view path, FileStamp& out);

}  // namespace orvex
