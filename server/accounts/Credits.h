#pragma once
// Credit and statistics arithmetic on a user record: what a download costs, what an upload
// earns, the transfer statistics and their day, week and month resets. Values are worked out in
// 64 bits and clamped to what the record stores, so no file size overflows them.

#include <cstdint>
#include <optional>

#include "server/accounts/UserRecord.h"

namespace orvex::Credits {

// 1 KB = 1024 bytes; less than that counts 0.
uint64_t Kilobytes(uint64_t bytes);

// `ratio` is the path's effective ratio: -1 none (the user's own applies), 0 free, else the
// credits earned per uploaded KB. With `applyRatio` clear a KB counts one credit.
enum class Charge { Free, Charged, Insufficient };
// A download's cost: nothing for a leech or a free path; refused (record unchanged) when the
// credits would drop below 0.
Charge Take(UserRecord& user, int32_t ratio, uint64_t bytes, bool applyRatio);
// The ratio an upload to a path of `ratio` earns `user` credits at: 0 for a leech.
int32_t EarningRatio(const UserRecord& user, int32_t ratio);
// An upload's earnings; whether the credits changed.
bool Add(UserRecord& user, int32_t ratio, uint64_t bytes, bool applyRatio);
// What deleting a file takes back from its owner: ratio times its KB, unless the owner is a
// siteop, a leech or the path is free. Credits may go negative. Returns the charge.
uint64_t TakeBack(UserRecord& owner, int32_t ratio, uint64_t bytes);

// A nuke of `bytes` owned by `user` with `multiplier` (an unnuke gives back what it takes): the
// credits move by bytes times the multiplier in whole KB, unless the user is a siteop or a leech;
// times nuked and MB nuked move by one and by the whole MB either way, never below 0, and the last
// nuke time becomes `now`. Worked out in 128 bits and clamped to what the record stores. Returns
// the credits (KB) taken or given.
int64_t ApplyNuke(UserRecord& user, uint64_t bytes, uint32_t multiplier, bool unnuke, int64_t now);
// Undoes one nuke's share of a user that took `taken` KB and added `megabytes` MB: gives back
// what `bytes` times the multiplier come to, but never more than was taken, and moves the nuke
// statistics back by what that nuke added. Returns the credits (KB) given.
int64_t UndoNuke(UserRecord& user, uint64_t bytes, uint32_t multiplier, int64_t taken,
                 uint64_t megabytes, int64_t now);

// One finished transfer in the all-time, week, day and month statistics; seconds are
// bytes / rate (0 for no rate).
void RecordTransfer(UserRecord& user, bool upload, uint64_t bytes, uint32_t rate);

// Zeroes the day, week and month statistics whose period began after the last login (local
// time, weeks from Monday) and tops the credits of a ratio user up to the weekly allotment at a
// new week. Whether anything applied.
bool ApplyPeriodResets(UserRecord& user, int64_t now);

// Local midnight of `now`'s day, of that week's Monday and of the month's first day.
struct PeriodStarts {
    int64_t day = 0, week = 0, month = 0;
};
PeriodStarts PeriodStartsOf(int64_t now);

// When the daily statistics pass is due: the first time asked, and then at the first time asked
// on another day of the month.
class DailySchedule {
  public:
    bool Due(int64_t now);

  private:
    std::optional<int> lastDay_;
};

}  // namespace orvex::Credits
