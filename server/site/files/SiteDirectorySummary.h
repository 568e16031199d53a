#pragma once
// What a directory holds, by owner: the count behind NUKE, UNNUKE, DIRINFO and NEW.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

class ServerSite;

inline constexpr int64_t kNoOwner = -1;  // entries without a record
inline constexpr const char* kSystemOwner = "system";

struct OwnerSummary {
    int64_t id = kNoOwner;
    std::string name;  // the passwd name; "system" for entries without a record
    double bytes = 0, files = 0, directories = 0;
};

struct DirectorySummary {
    std::vector<OwnerSummary> owners;  // in the order first met
    double bytes = 0, files = 0, directories = 0;
    uint32_t ownerCount = 0;  // owners with a name: "system" is not one
};

// Counts the entries below `dir` (itself not counted), with `recursive` all the way down. An
// owner id without a passwd name reaches only the totals. Symbolic links count as files of no
// size and are never followed. None when the directory cannot be read. No lock is held over
// the disk: each directory's records are copied when the walk reaches it.
std::optional<DirectorySummary> SummariseDirectory(ServerSite& site, const std::string& dir,
                                                   bool recursive);

}  // namespace orvex
