#pragma once
// Mirrors: groups of places (remote aliases or the local tree) that serve the same directory,
// chosen by weight. The table lives in etc/remote.mirrors under the root path and is re-read
// whenever that file changes.

#include <cstdint>
#include <optional>
#include <string>

#include "engine/FileStamp.h"
#include "engine/KeyedList.h"
#include "engine/ThreadUtil.h"

namespace orvex {

class ServerSite;

struct MirrorEntry {
    int32_t mirrorId = 0;
    std::string alias;
    uint32_t weight = 0;
    int defaultMirror = 0;
};

class MirrorStore {
  public:
    explicit MirrorStore(ServerSite& site);
    MirrorStore(const MirrorStore&) = delete;
    MirrorStore& operator=(const MirrorStore&) = delete;

    // 1 read or unchanged; 0 when the file cannot be found or read (the table is kept).
    int Load();
    // Whether a group of the table has this mirror id (groups are keyed by their id).
    bool HasMirrorId(int32_t id) const;

  private:
    ServerSite& site_;
    mutable Lock lock_;
    std::optional<FileStamp> stamp_;
    KeyedList<MirrorEntry> mirrors_{"Remote Mirrors List Header"};
};

}  // namespace orvex
