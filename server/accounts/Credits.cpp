#include "server/accounts/Credits.h"

#include <algorithm>
#include <ctime>
#include <limits>

namespace orvex::Credits {

namespace {

// Far above any real transfer, and low enough that nine times it still fits in 64 bits.
constexpr uint64_t kMaxKilobytes = uint64_t(1) << 58;

int32_t ClampCredits(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

uint32_t AddSaturating(uint32_t a, uint64_t b) {
    const uint64_t sum = static_cast<uint64_t>(a) + std::min<uint64_t>(b, UINT32_MAX);
    return static_cast<uint32_t>(std::min<uint64_t>(sum, UINT32_MAX));
}

// The ratio that applies: the path's, else the user's own.
int64_t RatioFor(const UserRecord& user, int32_t ratio) {
    return ratio == -1 ? static_cast<int64_t>(user.ratio) : ratio;
}

int64_t Amount(int64_t ratio, uint64_t bytes, bool applyRatio) {
    const int64_t kb = static_cast<int64_t>(std::min(Kilobytes(bytes), kMaxKilobytes));
    return applyRatio ? ratio * kb : kb;
}

int64_t LocalMidnight(struct tm parts) {
    parts.tm_hour = parts.tm_min = parts.tm_sec = 0;
    parts.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&parts));
}

}  // namespace

uint64_t Kilobytes(uint64_t bytes) {
    return bytes / 1024;
}

Charge Take(UserRecord& user, int32_t ratio, uint64_t bytes, bool applyRatio) {
    if (user.ratio == 0) return Charge::Free;
    const int64_t r = RatioFor(user, ratio);
    if (r == 0) return Charge::Free;
    const int64_t left = static_cast<int64_t>(user.credits) - Amount(r, bytes, applyRatio);
    if (left < 0) return Charge::Insufficient;
    user.credits = ClampCredits(left);
    return Charge::Charged;
}

int32_t EarningRatio(const UserRecord& user, int32_t ratio) {
    return user.ratio == 0 ? 0 : static_cast<int32_t>(RatioFor(user, ratio));
}

bool Add(UserRecord& user, int32_t ratio, uint64_t bytes, bool applyRatio) {
    if (user.ratio == 0) return false;
    const int64_t r = RatioFor(user, ratio);
    if (r == 0) return false;
    const int32_t before = user.credits;
    user.credits = ClampCredits(static_cast<int64_t>(user.credits) + Amount(r, bytes, applyRatio));
    return user.credits != before;
}

uint64_t TakeBack(UserRecord& owner, int32_t ratio, uint64_t bytes) {
    if (owner.HasFlag(kFlagSiteop) || owner.ratio == 0) return 0;
    const int64_t r = RatioFor(owner, ratio);
    if (r <= 0) return 0;
    const int64_t charge = Amount(r, bytes, true);
    owner.credits = ClampCredits(static_cast<int64_t>(owner.credits) - charge);
    return static_cast<uint64_t>(charge);
}

namespace {

int64_t NukeCredits(const UserRecord& user, uint64_t bytes, uint32_t multiplier) {
    if (user.HasFlag(kFlagSiteop) || user.ratio == 0) return 0;
    // The fraction of a KB counts before the multiplier does: 1.5 KB nuked 3x costs 4 KB.
    const unsigned __int128 kb = static_cast<unsigned __int128>(bytes) * multiplier / 1024;
    return static_cast<int64_t>(std::min<unsigned __int128>(kb, INT64_MAX));
}

void MoveNukeStatistics(UserRecord& user, uint64_t megabytes, bool back, int64_t now) {
    if (back) {
        user.timesNuked = user.timesNuked > 0 ? user.timesNuked - 1 : 0;
        user.amountNuked =
            static_cast<uint32_t>(user.amountNuked > megabytes ? user.amountNuked - megabytes : 0);
    } else {
        user.timesNuked = AddSaturating(user.timesNuked, 1);
        user.amountNuked = AddSaturating(user.amountNuked, megabytes);
    }
    user.lastNuke = static_cast<uint32_t>(std::clamp<int64_t>(now, 0, UINT32_MAX));
}

}  // namespace

int64_t ApplyNuke(UserRecord& user, uint64_t bytes, uint32_t multiplier, bool unnuke, int64_t now) {
    const int64_t credits = NukeCredits(user, bytes, multiplier);
    user.credits = ClampCredits(static_cast<int64_t>(user.credits) + (unnuke ? credits : -credits));
    MoveNukeStatistics(user, bytes / (1024 * 1024), unnuke, now);
    return credits;
}

int64_t UndoNuke(UserRecord& user, uint64_t bytes, uint32_t multiplier, int64_t taken,
                 uint64_t megabytes, int64_t now) {
    const int64_t credits =
        std::min(NukeCredits(user, bytes, multiplier), std::max<int64_t>(taken, 0));
    user.credits = ClampCredits(static_cast<int64_t>(user.credits) + credits);
    MoveNukeStatistics(user, megabytes, true, now);
    return credits;
}

void RecordTransfer(UserRecord& user, bool upload, uint64_t bytes, uint32_t rate) {
    const uint64_t seconds = rate > 0 ? bytes / rate : 0;
    const uint64_t kb = Kilobytes(bytes);
    const StatGroup groups[2][4] = {{kAllDown, kWeekDown, kDayDown, kMonthDown},
                                    {kAllUp, kWeekUp, kDayUp, kMonthUp}};
    for (StatGroup g : groups[upload ? 1 : 0]) {
        TransferStats& s = user.stats[g];
        s.files = AddSaturating(s.files, 1);
        s.kilobytes = AddSaturating(s.kilobytes, kb);
        s.seconds = AddSaturating(s.seconds, seconds);
    }
}

PeriodStarts PeriodStartsOf(int64_t now) {
    const time_t t = static_cast<time_t>(now);
    struct tm parts {};
    localtime_r(&t, &parts);
    PeriodStarts p;
    p.day = LocalMidnight(parts);
    struct tm monday = parts;
    monday.tm_mday -= (parts.tm_wday + 6) % 7;  // weeks run Monday to Sunday
    p.week = LocalMidnight(monday);
    struct tm first = parts;
    first.tm_mday = 1;
    p.month = LocalMidnight(first);
    return p;
}

bool ApplyPeriodResets(UserRecord& user, int64_t now) {
    const PeriodStarts starts = PeriodStartsOf(now);
    const int64_t last = user.lastLogin;
    bool applied = false;
    if (last < starts.day) {
        user.stats[kDayUp] = user.stats[kDayDown] = TransferStats{};
        applied = true;
    }
    if (last < starts.week) {
        user.stats[kWeekUp] = user.stats[kWeekDown] = TransferStats{};
        if (user.ratio > 0 && user.credits < user.weeklyAllotment)
            user.credits = user.weeklyAllotment;
        applied = true;
    }
    if (last < starts.month) {
        user.stats[kMonthUp] = user.stats[kMonthDown] = TransferStats{};
        applied = true;
    }
    return applied;
}

bool DailySchedule::Due(int64_t now) {
    const time_t t = static_cast<time_t>(now);
    struct tm parts {};
    localtime_r(&t, &parts);
    if (lastDay_ && *lastDay_ == parts.tm_mday) return false;
    lastDay_ = parts.tm_mday;
    return true;
}

}  // namespace orvex::Credits
