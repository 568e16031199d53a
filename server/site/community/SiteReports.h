#pragma once
// What the informational, online and statistics commands share.

#include <cstdint>
#include <string>
#include <string_view>

namespace orvex {
class ServerSite;
struct OnlineRecord;
}  // namespace orvex

namespace orvex::site {

// The time format of most reports.
inline constexpr const char* kReportTime = "%a %b %d %H:%M:%S %Y";

// `time` (seconds since 1970) in `format`, local or UTC; 0 is 1970, not now.
std::string StampText(std::string_view format, int64_t time, bool utc = false);

// What a connection does, as SITE WHO shows it: "IDLE for ..." or its running upload or
// download with the current rate.
std::string FormatAction(ServerSite& site, uint32_t connection, const OnlineRecord& record,
                         int64_t now);

}  // namespace orvex::site
