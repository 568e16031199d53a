#include "server/session/SiteReports.h"

#include <ctime>

#include "engine/FtpSite.h"
#include "engine/StringUtil.h"

namespace orvex::site {

namespace {

constexpr uint64_t kSecondsPerDay = 86400;
constexpr uint64_t kSecondsPerHour = 3600;

}  // namespace

std::string Duration(int64_t start, int64_t end) {
    const uint64_t span = end > start ? static_cast<uint64_t>(end - start) : 0;
    auto u = [](uint64_t v) { return static_cast<unsigned long long>(v); };
    if (span >= kSecondsPerDay) {
        return StringUtil::Format("%llud %lluh", u(span / kSecondsPerDay),
                                  u(span % kSecondsPerDay / kSecondsPerHour));
    }
    if (span < kSecondsPerHour)
        return StringUtil::Format("%llum %llus", u(span / 60), u(span % 60));
    return StringUtil::Format("%lluh %llum", u(span / kSecondsPerHour),
                              u(span % kSecondsPerHour / 60));
}

std::string StampText(std::string_view format, int64_t time, bool utc) {
    if (time != 0) return FtpSite::FormatTime(format, time, utc);
    struct tm parts {};
    if (!FtpSite::BreakDownTime(0, parts, utc)) return {};
    char buffer[256];
    const size_t n = strftime(buffer, sizeof buffer, std::string(format).c_str(), &parts);
    return std::string(buffer, n);
}

}  // namespace orvex::site
