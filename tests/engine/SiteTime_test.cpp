#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "engine/FtpSite.h"

namespace orvex {
namespace {

// 2002-03-18 01:19:33 UTC.
constexpr int64_t kMoment = 1016414373;

void Zone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
}

TEST(FormatTime, OffsetEastAndWest) {
    Zone("IST-5:30");
    EXPECT_EQ(FtpSite::UtcOffsetMinutes(), 330);
    EXPECT_EQ(FtpSite::FormatTime("%O"), "+0330");
    Zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(FtpSite::FormatTime("%O"), "+0060");  // standard time, whatever the season
    Zone("UTC0");
    EXPECT_EQ(FtpSite::FormatTime("%O"), "+0000");
    Zone("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ(FtpSite::UtcOffsetMinutes(), -300);
    EXPECT_EQ(FtpSite::FormatTime("%O"), "-0300");
    Zone("NST3:30");
    EXPECT_EQ(FtpSite::FormatTime("%O"), "-0210");
}

TEST(FormatTime, OnlyTheFirstUnescapedOffsetIsReplaced) {
    Zone("IST-5:30");
    EXPECT_EQ(FtpSite::FormatTime("%%O"), "%O");
    EXPECT_EQ(FtpSite::FormatTime("%%%O"), "%+0330");
    EXPECT_EQ(FtpSite::FormatTime("a%Ob%%O"), "a+0330b%O");
    EXPECT_EQ(FtpSite::FormatTime("%%O=%O"), "%O=+0330");
}

TEST(FormatTime, GivenTimeLocalAndUtc) {
    Zone("EST5");
    EXPECT_EQ(FtpSite::FormatTime("%d/%m/%Y:%H:%M:%S%O", kMoment), "17/03/2002:20:19:33-0300");
    EXPECT_EQ(FtpSite::FormatTime("%Y-%m-%d %H:%M:%S", kMoment, true), "2002-03-18 01:19:33");
    // Time 0 means now.
    EXPECT_EQ(FtpSite::FormatTime("%Y", 0, true).size(), 4u);
}

TEST(FormatTime, OverflowLeavesTheResultEmpty) {
    Zone("UTC0");
    EXPECT_EQ(FtpSite::FormatTime("%Y-%m-%d", kMoment, true, 11), "2002-03-18");
    EXPECT_EQ(FtpSite::FormatTime("%Y-%m-%d", kMoment, true, 10), "");
    EXPECT_EQ(FtpSite::FormatTime("%Y-%m-%d", kMoment, true, 1), "");
    EXPECT_EQ(FtpSite::FormatTime("%Y-%m-%d", kMoment, true, 0), "");
    EXPECT_EQ(FtpSite::FormatTime("", kMoment), "");
    // The offset text counts against the room too.
    EXPECT_EQ(FtpSite::FormatTime("x%O", kMoment, false, 6), "");
    EXPECT_EQ(FtpSite::FormatTime("x%O", kMoment, false, 7), "x+0000");
}

TEST(FormatTime, UnconvertibleTimeFallsBackToTheEpoch) {
    Zone("UTC0");
    EXPECT_EQ(FtpSite::FormatTime("%Y", INT64_MAX, true), "1970");
}

TEST(BreakDownTime, Fields) {
    struct tm t {};
    ASSERT_TRUE(FtpSite::BreakDownTime(0, t, true));
    EXPECT_EQ(t.tm_year, 70);
    EXPECT_EQ(t.tm_mon, 0);
    EXPECT_EQ(t.tm_mday, 1);
    EXPECT_EQ(t.tm_wday, 4);
    Zone("IST-5:30");
    ASSERT_TRUE(FtpSite::BreakDownTime(kMoment, t, false));
    EXPECT_EQ(t.tm_hour, 6);
    EXPECT_EQ(t.tm_min, 49);
    EXPECT_FALSE(FtpSite::BreakDownTime(INT64_MAX, t, true));
}

TEST(UtcClock, HourAndMinuteWrap) {
    EXPECT_EQ(FtpSite::UtcHour(2, 330), 21);
    EXPECT_EQ(FtpSite::UtcMinute(0, 330), 30);
    EXPECT_EQ(FtpSite::UtcHour(22, -300), 3);
    EXPECT_EQ(FtpSite::UtcMinute(50, -30), 20);
    EXPECT_EQ(FtpSite::UtcHour(23, 0), 23);
    EXPECT_EQ(FtpSite::UtcMinute(59, 60), 59);
    EXPECT_EQ(FtpSite::UtcHour(0, 60), 23);
}

}  // namespace
}  // namespace orvex
