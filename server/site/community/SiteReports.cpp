#include "server/site/community/SiteReports.h"

#include <ctime>

#include "engine/FtpSite.h"
#include "engine/StringUtil.h"

namespace orvex::site {

std::string StampText(std::string_view format, int64_t time, bool utc) {
    if (time != 0) return FtpSite::FormatTime(format, time, utc);
    struct tm parts {};
    if (!FtpSite::BreakDownTime(0, parts, utc)) return {};
    char buffer[256];
    const size_t n = strftime(buffer, sizeof buffer, std::string(format).c_str(), &parts);
    return std::string(buffer, n);
}

}  // namespace orvex::site
