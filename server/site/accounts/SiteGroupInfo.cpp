// SITE GINFO: a group's members with their all-time transfers, in a box.

#include "engine/StringUtil.h"
#include "server/accounts/GroupStore.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/session/SiteSession.h"
#include "server/site/accounts/AccountCommands.h"

namespace orvex::site {

namespace {

constexpr const char* kSeparator =
    " |-----------+------+--------+------+--------+-------+-------------------|";

}  // namespace

int GInfo(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.ginfo");
    std::string group;
    if (!s.Server().Groups().FindGroup(args[2], &group)) {
        s.Respond(args,
                  StringUtil::Format("'%s' is not a valid group. SITE GROUPS for a list.",
                                     args[2].c_str()),
                  "501");
        return 0;
    }
    s.Line(" .-------------------------[ Group Information ]-------------------------.");
    s.Line(" |T Username |   Up |   Megs |   Dn |   Megs | Ratio | Tagline           |");
    s.Line(kSeparator);
    unsigned megsUp = 0, filesUp = 0, megsDown = 0, filesDown = 0, members = 0, leeches = 0;
    for (const auto& n : s.Server().Users().ListUsers(UserStore::kAllUsers)) {
        const UserRecord& r = n.data;
        if (!StringUtil::EqualNoCase(r.group, group)) continue;
        const TransferStats& up = r.stats[kAllUp];
        const TransferStats& down = r.stats[kAllDown];
        const char mark = r.HasFlag(kFlagSiteop) ? '*' : r.HasFlag(kFlagGadmin) ? '+' : ' ';
        const std::string ratio =
            r.ratio == 0 ? std::string("leech") : StringUtil::Format("1:%u", r.ratio);
        const std::string tagline = r.HasFlag(kFlagDeleted) ? "***DELETED***" : r.tagline;
        s.Line(StringUtil::Format(" |%c%-10s|%5u |%7u |%5u |%7u | %-5s | %-18s|", mark,
                                  n.name.value_or("").c_str(), up.files, up.kilobytes / 1024,
                                  down.files, down.kilobytes / 1024, ratio.c_str(),
                                  tagline.c_str()));
        megsUp += up.kilobytes / 1024;
        filesUp += up.files;
        megsDown += down.kilobytes / 1024;
        filesDown += down.files;
        ++members;
        if (r.ratio == 0) ++leeches;
    }
    s.Line(kSeparator);
    s.Line(" |   * denotes a siteop (flag 1)     + denotes a group admin (flag 2)    |");
    s.Line(kSeparator);
    s.Line(StringUtil::Format(" |   Tot Megs Up: %-10u  Tot Files Up: %-7u  Users in group: %-3u |",
                              megsUp, filesUp, members));
    s.Line(StringUtil::Format(" |   Tot Megs Dn: %-10u  Tot Files Dn: %-7u      With leech: %-3u |",
                              megsDown, filesDown, leeches));
    s.Line(" `-----------------------------------------------------------------------'");
    s.Respond(args, "Command successful.", "200");
    return 1;
}

}  // namespace orvex::site
