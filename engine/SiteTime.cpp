// Time formatting of the site object: strftime plus the UTC offset specifier.
#include <ctime>
#include <mutex>
#include <vector>

#include "engine/Clock.h"
#include "engine/FtpSite.h"
#include "engine/StringUtil.h"

namespace orvex {

namespace {

// Position of the first "%O", treating every "%x" pair as one unit; npos when there is none.
size_t FindOffsetSpecifier(std::string_view format) {
    for (size_t i = 0; i + 1 < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (format[i + 1] == 'O') return i;
        ++i;
    }
    return std::string_view::npos;
}

int Wrap(int value, int range) {
    int r = value % range;
    return r < 0 ? r + range : r;
}

}  // namespace

int FtpSite::UtcOffsetMinutes() {
    // Once: tzset rewrites the zone's globals, so concurrent calls would race on them. A program
    // that changes TZ later calls tzset itself, as the system's own time functions expect.
    static std::once_flag zoneRead;
    std::call_once(zoneRead, [] { tzset(); });
    // `timezone` is seconds west of UTC in standard time.
    return static_cast<int>(-timezone / 60);
}

bool FtpSite::BreakDownTime(int64_t time, struct tm& out, bool utc) {
    time_t t = static_cast<time_t>(time);
    if (static_cast<int64_t>(t) != time) return false;
    return (utc ? gmtime_r(&t, &out) : localtime_r(&t, &out)) != nullptr;
}

std::string FtpSite::FormatTime(std::string_view format, int64_t time, bool utc, size_t capacity) {
    if (capacity == 0 || format.empty()) return {};
    std::string work(format);
    size_t at = FindOffsetSpecifier(work);
    if (at != std::string::npos) {
        int east = UtcOffsetMinutes();
        std::string offset =
            east >= 0 ? StringUtil::Format("+%04d", east) : StringUtil::Format("-%04d", -east);
        work.replace(at, 2, offset);
    }
    if (time == 0) time = Clock::NowSeconds();
    struct tm parts {};
    if (!BreakDownTime(time, parts, utc) && !BreakDownTime(0, parts, utc)) return {};
    std::vector<char> buf(capacity);
    size_t n = strftime(buf.data(), capacity, work.c_str(), &parts);
    // strftime gives 0 when the result does not fit; its buffer is undefined then.
    return std::string(buf.data(), n);
}

int FtpSite::UtcHour(int hour, int offset) {
    return Wrap(hour - offset / 60, 24);
}

int FtpSite::UtcMinute(int minute, int offset) {
    return Wrap(minute - offset % 60, 60);
}

}  // namespace orvex
