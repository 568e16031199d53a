#pragma once
// The mirror table as etc/remote.mirrors keeps it: groups of entries sharing a mirror id, each
// entry an alias directory (or the local tree) with a weight and a default mark.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

struct MirrorEntry {
    int32_t mirrorId = 0;
    std::string alias;  // an alias directory in internal form, or kMirrorLocal
    uint32_t weight = 0;
    int defaultMirror = 0;
    bool operator==(const MirrorEntry&) const = default;
};

struct MirrorGroup {
    int32_t mirrorId = 0;
    std::vector<MirrorEntry> entries;
    bool operator==(const MirrorGroup&) const = default;
};

// The entry that stands for the local tree.
inline constexpr const char* kMirrorLocal = "_LOCAL_";

namespace MirrorFile {

inline constexpr const char* kHeader = "# MirrorID;Alias;Weight;DefMirror\n#\n";

// The groups of a file's text in order of first appearance, entries in file order (a repeated
// entry is kept twice). Lines with fewer than three fields, an id that is no mirror id (0 or
// beyond 31 bits) or no alias are skipped. Marks are as read: see NormaliseMarks.
std::vector<MirrorGroup> Parse(std::string_view text);
// Leaves exactly one default mark per group: the first marked entry keeps it, a group without
// one marks its first entry. True when any mark changed.
bool NormaliseMarks(std::vector<MirrorGroup>& groups);
// The header and every entry, group by group.
std::string Format(const std::vector<MirrorGroup>& groups);

// The stored form of an alias text: "_LOCAL_" texts stay as typed, others become directories.
std::string AliasForm(std::string_view text);
bool IsLocal(std::string_view alias);
// An alias text a line can hold and read back unchanged.
bool IsStorable(std::string_view alias);

// The entry a draw `r` lands on: r modulo the sum of the weights, walked in order; none when
// the weights add up to 0.
const MirrorEntry* PickWeighted(const std::vector<MirrorEntry>& entries, uint32_t r);

}  // namespace MirrorFile

// The generator of the weighted choice, the same on every platform: x = x * 214013 + 2531011,
// each draw (x >> 16) & 0x7FFF. Not thread-safe by itself.
class MirrorRandom {
  public:
    void Seed(uint32_t seed) { x_ = seed; }
    uint32_t Next() {
        x_ = x_ * 214013u + 2531011u;
        return (x_ >> 16) & 0x7FFFu;
    }

  private:
    uint32_t x_ = 1;
};

}  // namespace orvex
