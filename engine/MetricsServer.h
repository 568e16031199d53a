#pragma once
// A small HTTP endpoint on a port of its own that answers GET /metrics with the site's counters.

#include <string>

namespace orvex {

class FtpSite;

// Opens the port and serves it from a thread of its own until the process stops. False (and a
// program-log line) when the port cannot be opened. `program` names the server in build_info.
bool StartMetricsServer(FtpSite& site, const std::string& bindIp, unsigned port,
                        const std::string& program);

// Whether an HTTP request head asks for the metrics page.
bool IsMetricsRequest(std::string_view head);

}  // namespace orvex
