#pragma once
// Mirrors: groups of places (remote aliases or the local tree) that serve the same directory,
// chosen by weight. The table lives in etc/remote.mirrors under the root path and is re-read
// whenever that file changes; every change rewrites the whole file.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/FileStamp.h"
#include "engine/ThreadUtil.h"
#include "server/remote/MirrorFile.h"

namespace orvex {

class ServerSite;

class MirrorStore {
  public:
    explicit MirrorStore(ServerSite& site);
    MirrorStore(const MirrorStore&) = delete;
    MirrorStore& operator=(const MirrorStore&) = delete;

    // 1 read or unchanged; 0 when the file cannot be found or read (the table is kept).
    int Load();
    // `id` 0 or less makes a new group one above the highest id. 1 added, 2 the alias is in that
    // group already, 0 failure (nothing changed).
    int AddMirror(int32_t id, std::string_view alias, uint32_t weight);
    // 1 removed (an emptied group goes with it), 0 unknown entry or the file not written.
    int DeleteMirror(int32_t id, std::string_view alias);
    // 1 the entry alone carries the default mark now, 0 unknown entry or the file not written.
    int SetDefaultMirror(int32_t id, std::string_view alias);
    // One group, or all for 0.
    std::vector<MirrorGroup> ListMirrors(int32_t id = 0);
    // 1 for 0 (no mirror) or an existing group.
    int MirrorExists(int32_t id);
    // Whether a group of the table has this id.
    bool HasMirrorId(int32_t id);

    // The alias directory that serves a data command in `directory` (absolute internal form),
    // or none: the directory has no mirror id, the choice fell on the local tree, or nothing
    // can be chosen. `useDefault` takes the group's default entry; otherwise the choice is by
    // weight, and `counter` (the session's) is raised by 17 and mixed into the seed.
    std::optional<std::string> ChooseMirror(std::string_view directory, bool useDefault,
                                            uint32_t& counter);
    // The same for a known mirror id.
    std::optional<std::string> ChooseInGroup(int32_t id, bool useDefault, uint32_t& counter);

    // Seconds that seed the weighted choice; the wall clock unless a test fixes it.
    void SetClockForTesting(std::function<int64_t()> now);

  private:
    std::string FilePath() const;
    MirrorGroup* FindLocked(int32_t id);
    // Finds one entry, lets `edit` change the table and commits it; 0 unknown entry or not written.
    int EditEntry(int32_t id, std::string_view alias,
                  const std::function<void(MirrorGroup&, MirrorEntry&)>& edit);
    // Normalises the marks and rewrites the file; on failure the table goes back to `before`.
    bool CommitLocked(std::vector<MirrorGroup> before);
    bool RewriteLocked();

    ServerSite& site_;
    mutable Lock lock_;
    std::optional<FileStamp> stamp_;
    std::vector<MirrorGroup> groups_;
    // The one generator of the process, seeded anew at every weighted choice.
    Lock randomLock_;
    MirrorRandom random_;
    std::function<int64_t()> now_;
};

}  // namespace orvex
