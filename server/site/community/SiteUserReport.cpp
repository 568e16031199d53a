// SITE USER: the account report of one user, or the names of all users.

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/accounts/UserStore.h"
#include "server/app/OnlineRegistry.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/session/SiteSession.h"
#include "server/site/SiteCommandSupport.h"
#include "server/site/community/CommunityCommands.h"
#include "server/site/community/SiteReports.h"

namespace orvex::site {

namespace {

constexpr const char* kDoubleRule =
    " +=======================================================================+";

std::string NumberOr(long long value, bool unlimited) {
    return unlimited ? std::string("Unlimited") : std::to_string(value);
}

// Every user that is not deleted, local ones four and shared ones two to a line.
int ListAllUsers(SiteSession& s, const Args& args) {
    const std::string shortName = s.Server().Config().GetSiteNameShort();
    s.Line(shortName.empty() ? std::string(" -=[ User Listing ]=-")
                             : " -=[ " + shortName + " User Listing ]=-");
    s.Line("");
    unsigned listed = 0;
    auto names = [&](int kind, const char* cell, int perLine) {
        std::string line;
        int inLine = 0;
        for (const auto& n : s.Server().Users().ListUsers(kind)) {
            if (n.data.HasFlag(kFlagDeleted)) continue;
            line += StringUtil::Format(cell, n.name.value_or("").c_str());
            ++listed;
            if (++inLine < perLine) continue;
            s.Line(line);
            line.clear();
            inLine = 0;
        }
        if (inLine > 0) s.Line(line);
    };
    names(UserStore::kLocalUsers, " %-16s", 4);
    names(UserStore::kSharedUsers, " %-33s", 2);
    s.Line("");
    s.Line(" - Use SITE USER <username> for a more informative listing. -");
    s.Line("");
    s.Respond(args, StringUtil::Format("%u total users on site.", listed), "200");
    return 1;
}

}  // namespace

int User(SiteSession& s, const Args& args) {
    const std::optional<UserRecord> issuer = IssuerRecord(s);
    if (args.size() < 3) {
        if (!issuer || !(issuer->HasFlag(kFlagSiteop) || issuer->HasFlag(kFlagGadmin))) {
            s.Respond(args, kNoAccess, "550");
            return 0;
        }
        return ListAllUsers(s, args);
    }
    ServerSite& site = s.Server();
    std::string name;
    const std::optional<UserRecord> found = site.Users().FindUser(args[2], &name);
    if (!found) {
        s.Respond(args, StringUtil::Format("User '%s' does not exist.", args[2].c_str()), "501");
        return 0;
    }
    const UserRecord& u = *found;
    const bool siteop = issuer && issuer->HasFlag(kFlagSiteop);
    const bool masks =
        siteop || StringUtil::EqualNoCase(name, s.UserName()) ||
        (issuer && issuer->HasFlag(kFlagGadmin) && StringUtil::EqualNoCase(issuer->group, u.group));
    const int64_t now = Clock::NowSeconds();
    const int online = site.Registry().CountLogins(name);
    auto line = [&](const std::string& text) { s.Line(text); };
    auto c = [](const std::string& text) { return text.c_str(); };

    if (siteop) line(" User Comment: " + u.comment);
    line(kDoubleRule);
    line(StringUtil::Format(" | Username: %-24s Created: %-26s|", c(name),
                            c(StampText("%m-%d-%y", u.fileCreated))));
    line(StringUtil::Format(" | Time On Today: %-15s     Last seen: %-24s|",
                            c(online > 0 ? SiteSession::FormatDuration(u.lastLogin, now) : "0m 0s"),
                            c(StampText(kReportTime, u.lastLogin))));
    line(StringUtil::Format(" | Flags: %-27s Permissions: %-22s|", c(u.flags), c(u.permissions)));
    line(StringUtil::Format(" | Ratio: %-27s Credits: %10.2f MB             |",
                            c(u.ratio == 0 ? "Unlimited" : "1:" + std::to_string(u.ratio)),
                            u.credits / 1024.0));
    line(StringUtil::Format(" | Total Logins: %-20u Current Logins: %-19u|", u.loginCount,
                            static_cast<unsigned>(online)));
    line(StringUtil::Format(" | Max Logins: %-10s             From Same IP: %-10s           |",
                            c(NumberOr(u.maxLogins, u.maxLogins <= 0)),
                            c(NumberOr(u.maxLoginsPerIp, u.maxLoginsPerIp == 0))));
    line(StringUtil::Format(" | Max Sim Uploads: %-10s        Max Sim Downloads: %-10s      |",
                            c(NumberOr(u.maxUploads, u.maxUploads < 0)),
                            c(NumberOr(u.maxDownloads, u.maxDownloads < 0))));
    line(
        StringUtil::Format(" | Max Upload Speed: %7.1f K/s      Max Download Speed: %7.1f K/s    |",
                           u.maxUploadSpeed / 1024.0, u.maxDownloadSpeed / 1024.0));
    line(StringUtil::Format(" | Times Nuked: %-7lu               Bytes Nuked: %7lu MB            |",
                            static_cast<unsigned long>(u.timesNuked),
                            static_cast<unsigned long>(u.amountNuked)));
    const bool waiting = FileUtil::Kind(s.InboxOf(name)) == 2;
    line(StringUtil::Format(
        " | Weekly Allotment: %7.1f MB       Messages Waiting: %c                |",
        u.weeklyAllotment / 1024.0, waiting ? 'Y' : 'N'));
    line(StringUtil::Format(
        " | Time Limit: %4u minutes.          (0 = Unlimited)                    |", u.timeLimit));
    line(StringUtil::Format(
        " | Gadmin/Leech Slots: %2d %2d          (-1 = Unlimited, None)             |", u.userSlots,
        u.leechSlots));
    line(StringUtil::Format(
        " | Timeframe: %2u %2u  (0 0 = Anytime)  Max Idle Time: %7lu seconds.    |",
        u.timeFrameStart, u.timeFrameEnd, static_cast<unsigned long>(u.idleLimit)));
    line(StringUtil::Format(" | Tagline: %-61s|", c(u.tagline)));
    line(StringUtil::Format(" | Group: %-63s|", c(u.group)));
    line(" +-----------------------------------------------------------------------+");
    if (masks) {
        for (size_t i = 0; i + 1 < kUserIpMasks; i += 2) {
            line(StringUtil::Format(" | IP%zu: %-29s IP%zu: %-30s|", i, c(u.ipMasks[i]), i + 1,
                                    c(u.ipMasks[i + 1])));
        }
        line(kDoubleRule);
    }
    s.Respond(args, "Command successful.", "200");
    return 1;
}

}  // namespace orvex::site
