// The informational SITE commands: RULES, WELCOME, SEEN, TIME, UPTIME and VERS.

#include "engine/Clock.h"
#include "engine/StringUtil.h"
#include "engine/TextFileReply.h"
#include "server/accounts/UserStore.h"
#include "server/app/OnlineRegistry.h"
#include "server/app/ServerSite.h"
#include "server/session/SiteSession.h"
#include "server/site/community/CommunityCommands.h"
#include "server/site/community/SiteReports.h"

namespace orvex::site {

namespace {

// The lines of a text file of misc/ (none when it is missing), then "Command Successful.".
int SendMiscFile(SiteSession& s, const Args& args, std::string_view name) {
    const std::string path = s.Server().MakeDataPath("misc/", name);
    if (!path.empty()) TextFileReply::Send(s.Replies(), path, "200", std::nullopt, 1);
    s.Respond(args, "Command Successful.", "200");
    return 1;
}

}  // namespace

int Rules(SiteSession& s, const Args& args) {
    return SendMiscFile(s, args, "site.rules");
}

int Welcome(SiteSession& s, const Args& args) {
    return SendMiscFile(s, args, "welcome.msg");
}

int Seen(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.seen");
    const std::optional<UserRecord> user = s.Server().Users().FindUser(args[2]);
    if (!user) {
        s.Respond(args, StringUtil::Format("User '%s' does not exist.", args[2].c_str()), "501");
        return 0;
    }
    const std::string seen = StampText(kReportTime, user->lastLogin);
    s.Respond(args, StringUtil::Format("I last saw %s on %s", args[2].c_str(), seen.c_str()),
              "200");
    return 1;
}

int Time(SiteSession& s, const Args& args) {
    const int64_t now = Clock::NowSeconds();
    const std::optional<OnlineRecord> online =
        s.Server().Registry().CopyRecord(s.ConnectionNumber());
    const int64_t login = online ? online->loginTime : now;
    const char* frame = " +------------------------------------------------------------+";
    s.Line(frame);
    s.Line(StringUtil::Format(" | Current time: %-24s (GMT)               |",
                              StampText(kReportTime, now, true).c_str()));
    s.Line(StringUtil::Format(" | Local time  : %-24s                     |",
                              StampText(kReportTime, now).c_str()));
    s.Line(StringUtil::Format(" | Logged on at: %-24s                     |",
                              StampText(kReportTime, login).c_str()));
    s.Line(StringUtil::Format(" | Time Online : %-7s                                      |",
                              SiteSession::FormatDuration(login, now).c_str()));
    s.Line(frame);
    s.Respond(args, "Command Successful.", "200");
    return 1;
}

int Uptime(SiteSession& s, const Args& args) {
    const int64_t start = s.Server().StartTime();
    s.Line(" Server started: " + StampText("%a, %B %d, %Y, %I:%M:%S %p %Z", start));
    s.Respond(args, "Total Uptime: " + SiteSession::FormatDuration(start, Clock::NowSeconds()),
              "200");
    return 1;
}

int Vers(SiteSession& s, const Args& args) {
    ServerSite& site = s.Server();
    s.Respond(args,
              StringUtil::Format("%s %s (%s) %s - written by Ardwyn.", site.GetSiteName().c_str(),
                                 site.GetSiteVersion().c_str(), site.GetEngineVersion().c_str(),
                                 kPlatformWord),
              "200");
    return 1;
}

}  // namespace orvex::site
