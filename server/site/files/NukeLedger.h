#pragma once
// What each nuke took from each user, kept until the directory is unnuked, so that an unnuke
// gives back no more than a nuke that really happened took. The file "nukes" of misc/ holds one
// "directory;user;credits;megabytes" line per user charged, the directory being where the nuke
// set the directory aside.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

struct NukeShare {
    std::string user;
    int64_t credits = 0;     // KB the nuke took
    uint64_t megabytes = 0;  // added to the user's MB nuked
    bool operator==(const NukeShare&) const = default;
};

struct NukeEntry {
    std::string directory;
    NukeShare share;
    bool operator==(const NukeEntry&) const = default;
};

// Lines with four fields (split at ";", empty fields kept); others are skipped.
std::vector<NukeEntry> ParseNukeLedger(std::string_view text);
// One entry's line, or nothing when its directory or user cannot be stored in a field.
std::string FormatNukeEntry(const NukeEntry& entry);

class NukeLedger {
  public:
    explicit NukeLedger(std::string path) : path_(std::move(path)) {}

    bool Add(const std::string& directory, const std::vector<NukeShare>& shares);
    // Takes the shares of `directory` off the ledger; none when it has none or the file cannot
    // be read or rewritten.
    std::vector<NukeShare> Take(const std::string& directory);

  private:
    std::string path_;
};

}  // namespace orvex
