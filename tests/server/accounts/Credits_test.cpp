// Credit and statistics arithmetic, by table: downloads, uploads, the take-back of deleted
// uploads, statistics, and the day, week and month resets against a fixed clock.

#include "server/accounts/Credits.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>

namespace orvex {
namespace {

using namespace Credits;

constexpr uint64_t kMB10 = 10ull * 1024 * 1024;
constexpr uint64_t kGiB5 = 5ull << 30;

UserRecord User(uint32_t ratio, int32_t credits, const char* flags = "") {
    UserRecord r;
    r.ratio = ratio;
    r.credits = credits;
    r.flags = flags;
    return r;
}

TEST(Credits, DownloadsUploadsAndTakeBacks) {
    const struct {
        uint32_t userRatio;
        int32_t credits;
        int32_t pathRatio;
        uint64_t bytes;
        Charge charge;
        int32_t afterTake, afterAdd, afterTakeBack;
    } cases[] = {
        // A ratio 3 user without an explicit directory ratio: downloads cost their KB, uploads
        // earn three times that.
        {3, 20480, -1, kMB10, Charge::Charged, 10240, 51200, -10240},
        {3, 10240, -1, kMB10, Charge::Charged, 0, 40960, -20480},
        {3, 10239, -1, kMB10, Charge::Insufficient, 10239, 40959, -20481},
        {3, 0, 1, kMB10, Charge::Insufficient, 0, 10240, -10240},
        // Free directories and leeches: nothing moves.
        {3, 5, 0, kMB10, Charge::Free, 5, 5, 5},
        {0, 5, 2, kMB10, Charge::Free, 5, 5, 5},
        {1, 0, -1, 1023, Charge::Charged, 0, 0, 0},
        // Sizes beyond 4 GiB count whole and clamp to what the record holds.
        {9, 2147483647, -1, kGiB5, Charge::Charged, 2142240767, 2147483647, 2100297727},
        {9, -2147483647, 5, kGiB5, Charge::Insufficient, -2147483647, -2121269247, -2147483648},
    };
    for (const auto& c : cases) {
        UserRecord take = User(c.userRatio, c.credits);
        EXPECT_EQ(Take(take, c.pathRatio, c.bytes, false), c.charge) << c.credits;
        EXPECT_EQ(take.credits, c.afterTake) << c.credits;
        UserRecord add = User(c.userRatio, c.credits);
        Add(add, c.pathRatio, c.bytes, true);
        EXPECT_EQ(add.credits, c.afterAdd) << c.credits;
        UserRecord back = User(c.userRatio, c.credits);
        TakeBack(back, c.pathRatio, c.bytes);
        EXPECT_EQ(back.credits, c.afterTakeBack) << c.credits;
    }
    UserRecord op = User(3, 100, "17");
    EXPECT_EQ(TakeBack(op, -1, kMB10), 0u);
    EXPECT_EQ(op.credits, 100);
    UserRecord owner = User(3, 0);
    EXPECT_EQ(TakeBack(owner, -1, kGiB5), 3ull * (kGiB5 / 1024));
}

TEST(Credits, NukesAndUnnukes) {
    constexpr uint64_t kMB = 1024 * 1024;
    const struct {
        const char* flags;
        uint32_t ratio;
        int32_t credits;
        uint32_t timesNuked, mbNuked;
        uint64_t bytes;
        uint32_t multiplier;
        bool unnuke;
        int64_t moved;
        int32_t credits2;
        uint32_t timesNuked2, mbNuked2;
    } cases[] = {
        {"", 3, 10000, 0, 0, 2 * kMB, 3, false, 6144, 3856, 1, 2},
        // A leech and a siteop pay nothing, but the nuke is counted.
        {"", 0, 500, 0, 0, kMB, 3, false, 0, 500, 1, 1},
        {"1", 3, 500, 4, 7, kMB, 3, false, 0, 500, 5, 8},
        {"", 1, 100, 0, 0, kMB, 0, false, 0, 100, 1, 1},
        // The fraction of a KB counts before the multiplier: 1.5 KB three times is 4 KB.
        {"", 1, 0, 0, 0, 1536, 3, false, 4, -4, 1, 0},
        // Far beyond 32 bits, held at the lowest and highest credits.
        {"", 2, 0, 0, 0, 300ull << 30, 10, false, 3145728000, INT32_MIN, 1, 307200},
        {"", 2, 0, 0, 0, ~0ull, ~0u, false, INT64_MAX, INT32_MIN, 1, UINT32_MAX},
        {"", 2, 2147483000, 1, 5, 300ull << 30, 10, true, 3145728000, INT32_MAX, 0, 0},
        // Unnukes give back and count down, never below 0.
        {"", 3, 3856, 1, 2, kMB, 3, true, 3072, 6928, 0, 1},
        {"", 3, 0, 0, 0, 5 * kMB, 1, true, 5120, 5120, 0, 0},
    };
    for (const auto& c : cases) {
        UserRecord u = User(c.ratio, c.credits, c.flags);
        u.timesNuked = c.timesNuked;
        u.amountNuked = c.mbNuked;
        EXPECT_EQ(ApplyNuke(u, c.bytes, c.multiplier, c.unnuke, 1234), c.moved) << c.bytes;
        EXPECT_EQ(u.credits, c.credits2) << c.bytes;
        EXPECT_EQ(u.timesNuked, c.timesNuked2) << c.bytes;
        EXPECT_EQ(u.amountNuked, c.mbNuked2) << c.bytes;
        EXPECT_EQ(u.lastNuke, 1234u);
    }
}

TEST(Credits, UnnukesGiveBackNoMoreThanTheNukeTook) {
    constexpr uint64_t kMB = 1024 * 1024;
    const struct {
        const char* flags;
        uint32_t ratio;
        uint64_t bytes;
        int64_t taken;
        uint64_t megabytes;
        int64_t given;
    } cases[] = {
        {"", 3, 2 * kMB, 6144, 2, 6144},  // all of it
        {"", 3, 5 * kMB, 6144, 2, 6144},  // grown since: still only what was taken
        {"", 3, kMB, 6144, 2, 3072},      // what is left decides below that
        {"", 3, kMB, 0, 0, 0},            // nothing taken, nothing given
        {"", 3, kMB, -5, 0, 0},          {"1", 3, kMB, 6144, 2, 0},  // a siteop paid nothing
        {"", 0, kMB, 6144, 2, 0},
    };
    for (const auto& c : cases) {
        UserRecord u = User(c.ratio, 100, c.flags);
        u.timesNuked = 2;
        u.amountNuked = 5;
        EXPECT_EQ(UndoNuke(u, c.bytes, 3, c.taken, c.megabytes, 1234), c.given) << c.bytes;
        EXPECT_EQ(u.credits, 100 + c.given);
        EXPECT_EQ(u.timesNuked, 1u);
        EXPECT_EQ(u.amountNuked, 5 - c.megabytes);
        EXPECT_EQ(u.lastNuke, 1234u);
    }
}

TEST(Credits, TransfersCountInEveryPeriod) {
    UserRecord r;
    r.stats[kAllUp] = {4294967295u, 4294967000u, 1};
    RecordTransfer(r, true, kGiB5, 1 << 20);
    RecordTransfer(r, false, 1500, 0);
    EXPECT_EQ(r.stats[kAllUp], (TransferStats{4294967295u, 4294967295u, 5121}));
    for (StatGroup g : {kWeekUp, kDayUp, kMonthUp})
        EXPECT_EQ(r.stats[g], (TransferStats{1, 5242880, 5120}));
    for (StatGroup g : {kAllDown, kWeekDown, kDayDown, kMonthDown})
        EXPECT_EQ(r.stats[g], (TransferStats{1, 1, 0}));
}

int64_t At(int year, int month, int day, int hour) {
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_isdst = -1;
    return mktime(&t);
}

TEST(Credits, PeriodResets) {
    setenv("TZ", "UTC", 1);
    tzset();
    const struct {
        int64_t last, now;
        bool day, week, month;
        int32_t credits;  // before: 100, or 8000 when above the allotment of 5000
        int32_t after;
    } cases[] = {
        // Sunday to Monday: a new day and a new week.
        {At(2024, 6, 2, 23), At(2024, 6, 3, 1), true, true, false, 100, 5000},
        {At(2024, 6, 2, 23), At(2024, 6, 3, 1), true, true, false, 8000, 8000},
        // Monday to Sunday of the same week.
        {At(2024, 6, 3, 1), At(2024, 6, 9, 22), true, false, false, 100, 100},
        // December to January.
        {At(2024, 12, 31, 12), At(2025, 1, 1, 9), true, false, true, 100, 100},
        {At(2024, 6, 3, 1), At(2024, 6, 3, 23), false, false, false, 100, 100},
    };
    for (const auto& c : cases) {
        UserRecord r = User(1, c.credits);
        r.weeklyAllotment = 5000;
        r.lastLogin = static_cast<uint32_t>(c.last);
        for (auto& s : r.stats) s = {1, 2, 3};
        EXPECT_EQ(ApplyPeriodResets(r, c.now), c.day || c.week || c.month) << c.now;
        EXPECT_EQ(r.stats[kDayUp].files == 0 && r.stats[kDayDown].files == 0, c.day) << c.now;
        EXPECT_EQ(r.stats[kWeekUp].files == 0 && r.stats[kWeekDown].files == 0, c.week) << c.now;
        EXPECT_EQ(r.stats[kMonthUp].files == 0 && r.stats[kMonthDown].files == 0, c.month) << c.now;
        EXPECT_EQ(r.stats[kAllUp].files, 1u);
        EXPECT_EQ(r.credits, c.after) << c.now;
    }
    UserRecord leech = User(0, 100);
    leech.weeklyAllotment = 5000;
    ApplyPeriodResets(leech, At(2024, 6, 3, 1));
    EXPECT_EQ(leech.credits, 100);

    DailySchedule daily;
    EXPECT_TRUE(daily.Due(At(2024, 6, 3, 1)));
    EXPECT_FALSE(daily.Due(At(2024, 6, 3, 23)));
    EXPECT_TRUE(daily.Due(At(2024, 6, 4, 0)));
    EXPECT_TRUE(daily.Due(At(2024, 7, 3, 0)));
}

}  // namespace
}  // namespace orvex
