// The site event logs (sysop.log, login.log, nuke.log, request.log): showing them, and the four
// SITE commands that do.

#include <cstdio>
#include <cstdlib>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/session/SiteSession.h"
#include "server/site/community/CommunityCommands.h"

namespace orvex {

namespace {

constexpr size_t kLogLineBuffer = 1024;
constexpr int64_t kSecondsPerDay = 86400;

// The time stamp after the first "[", or none for a line without one.
std::optional<unsigned long> StampOf(const std::string& line) {
    const size_t open = line.find('[');
    if (open == std::string::npos) return std::nullopt;
    return std::strtoul(line.c_str() + open + 1, nullptr, 10);
}

// LOGINS, NUKELOG, REQLOG and SYSLOG: [days] [pattern ...].
int ShowLog(SiteSession& s, const Args& args, const char* file, const char* failure) {
    size_t first = 2;
    long days = 0;
    if (args.size() > 2 && StringUtil::IsInteger(args[2])) {
        days = std::strtol(args[2].c_str(), nullptr, 10);
        first = 3;
    }
    if (!s.ShowEventLog(file, days, Join(args, 0, first))) {
        s.Respond(args, failure, "501");
        return 0;
    }
    s.Respond(args, "Command Successful.", "200");
    return 1;
}

}  // namespace

bool SiteSession::ShowEventLog(std::string_view file, long days, std::string_view pattern) {
    const std::string path = server_.MakeDataPath("logs/", file);
    if (path.empty()) return false;
    UniqueFile f = FileUtil::OpenFile(path, "r");
    // Nothing was logged yet: a log that is not there is an empty one.
    if (!f) return FileUtil::Kind(path) == 0;
    // More days than have passed since 1970 mean the whole log (and never overflow).
    const int64_t now = Clock::NowSeconds();
    const int64_t cutoff =
        days > 0 && days <= now / kSecondsPerDay ? now - days * kSecondsPerDay : 0;
    char buffer[kLogLineBuffer];
    while (std::fgets(buffer, sizeof buffer, f.get())) {
        std::string line = " ";
        line.append(buffer);
        StringUtil::StripEol(line);
        if (cutoff > 0) {
            const std::optional<unsigned long> stamp = StampOf(line);
            if (stamp && static_cast<int64_t>(*stamp) < cutoff) continue;
        }
        if (!pattern.empty() && line.find(pattern) == std::string::npos) continue;
        Line(line);
    }
    return true;
}

namespace site {

int Logins(SiteSession& s, const Args& args) {
    return ShowLog(s, args, "login.log", "Unable to access logins log.");
}

int NukeLog(SiteSession& s, const Args& args) {
    return ShowLog(s, args, "nuke.log", "Unable to access nuke log.");
}

int ReqLog(SiteSession& s, const Args& args) {
    return ShowLog(s, args, "request.log", "Unable to access request log.");
}

int SysLog(SiteSession& s, const Args& args) {
    return ShowLog(s, args, "sysop.log", "Unable to access system log.");
}

}  // namespace site

}  // namespace orvex
