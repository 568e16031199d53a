// One user's statistics (STATS), the site's traffic (TRAFFIC) and the detailed user listing
// (USERS).

#include <cmath>

#include "engine/StringUtil.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/session/SiteSession.h"
#include "server/site/SiteCommandSupport.h"
#include "server/site/community/CommunityCommands.h"
#include "server/site/community/SiteReports.h"

namespace orvex::site {

namespace {

struct PeriodRow {
    const char* label;
    StatGroup group;
};

// The order of both reports.
constexpr PeriodRow kStatsRows[] = {
    {"ALLTIME UP", kAllUp},     {"ALLTIME DOWN", kAllDown}, {"MONTH UP", kMonthUp},
    {"MONTH DOWN", kMonthDown}, {"WEEK UP", kWeekUp},       {"WEEK DOWN", kWeekDown},
    {"DAY UP", kDayUp},         {"DAY DOWN", kDayDown},
};
constexpr PeriodRow kTrafficRows[] = {
    {"Total Uploads", kAllUp},       {"Total Downloads", kAllDown}, {"Month Uploads", kMonthUp},
    {"Month Downloads", kMonthDown}, {"Week Uploads", kWeekUp},     {"Week Downloads", kWeekDown},
    {"Day Uploads", kDayUp},         {"Day Downloads", kDayDown},
};

unsigned long long Megabytes(uint32_t kilobytes) {
    return kilobytes / 1024;
}

// Credits in whole megabytes, rounded to the nearest; negative credits keep their sign.
long long CreditMegabytes(int32_t credits) {
    const long long shifted = static_cast<long long>(credits) + 512;
    return shifted >= 0 ? shifted / 1024 : -((-shifted + 1023) / 1024);
}

// What USERS selects besides the kind: a flag, the members of a group, or a name pattern (which
// leaves deleted users out).
struct UsersFilter {
    char flag = 0;
    std::string group;
    std::string pattern;
    bool hasPattern = false;

    bool Selects(const std::string& name, const UserRecord& u) const {
        if (flag) return u.HasFlag(flag);
        if (!group.empty()) return StringUtil::EqualNoCase(u.group, group);
        if (!hasPattern) return true;
        return !u.HasFlag(kFlagDeleted) &&
               StringUtil::WildcardMatch(pattern, StringUtil::Lowered(name));
    }
};

}  // namespace

int Stats(SiteSession& s, const Args& args) {
    const std::string typed = args.size() > 2 ? args[2] : s.UserName();
    // The own statistics are always shown; another user's need the permission.
    if (!StringUtil::EqualNoCase(typed, s.UserName()) && !s.CheckSiteAccess("STATS")) {
        s.Respond(args, kNoAccess, "550");
        return 0;
    }
    const std::optional<UserRecord> user = s.Server().Users().FindUser(typed);
    if (!user) {
        s.Respond(args, StringUtil::Format("User '%s' does not exist.", typed.c_str()), "501");
        return 0;
    }
    s.Line(" +-------------------------------[ STATS ]-------------------------------+");
    s.Line(" |               - FILES -            - BYTES -          - AVG RATE -    | ");
    for (const PeriodRow& row : kStatsRows) {
        const TransferStats& t = user->stats[row.group];
        // A period without seconds has no rate to show.
        const double rate = t.seconds == 0 ? 0.0 : std::round(double(t.kilobytes) / t.seconds);
        s.Line(StringUtil::Format(" | %-12s %10u         %10lluMB         %10lluK/s    |",
                                  row.label, t.files, (t.kilobytes + 512ULL) / 1024,
                                  static_cast<unsigned long long>(rate)));
    }
    s.Line(" +-----------------------------------------------------------------------+");
    s.Respond(args, "Command Successful.", "200");
    return 1;
}

int Traffic(SiteSession& s, const Args& args) {
    struct Sum {
        double files = 0, kilobytes = 0, seconds = 0.1;
    };
    Sum sums[kStatGroups];
    for (const auto& n : s.Server().Users().ListUsers(UserStore::kAllUsers)) {
        for (size_t i = 0; i < kStatGroups; ++i) {
            sums[i].files += n.data.stats[i].files;
            sums[i].kilobytes += n.data.stats[i].kilobytes;
            sums[i].seconds += n.data.stats[i].seconds;
        }
    }
    const char* rule = " |-=----------------------------------------------=-|";
    s.Line(" .-=----------------------------------------------=-.");
    s.Line(" |                Traffic Statistics                |");
    s.Line(rule);
    s.Line(" | Totals          |   Files |     Megs | Avg Speed |");
    s.Line(rule);
    for (const PeriodRow& row : kTrafficRows) {
        const Sum& sum = sums[row.group];
        s.Line(StringUtil::Format(" | %-15s | %7.0lf | %8.0lf | %5.0lf K/s |", row.label, sum.files,
                                  sum.kilobytes / 1024, sum.kilobytes / sum.seconds));
    }
    s.Line(" `-=----------------------------------------------=-'");
    s.Respond(args, "Command Successful.", "200");
    return 1;
}

int Users(SiteSession& s, const Args& args) {
    const std::string selector = args.size() > 2 ? args[2] : std::string();
    bool local = true, shared = true;
    UsersFilter filter;
    if (StringUtil::EqualNoCase(selector, "local")) {
        shared = false;
    } else if (StringUtil::EqualNoCase(selector, "remote")) {
        local = false;
    } else if (selector.size() == 1 && std::isalnum(static_cast<unsigned char>(selector[0]))) {
        filter.flag = static_cast<char>(std::toupper(static_cast<unsigned char>(selector[0])));
    } else if (!selector.empty() && selector[0] == '=') {
        filter.group = selector.substr(1);
    } else {
        filter.hasPattern = true;
        filter.pattern = StringUtil::Lowered(selector.empty() ? "*" : selector);
    }

    unsigned long long uploaded = 0, downloaded = 0, filesUp = 0, filesDown = 0;
    unsigned members = 0, siteops = 0, gadmins = 0, leeches = 0, deleted = 0;
    s.Line(" Detailed User Listing...");
    auto list = [&](int kind) {
        for (const auto& n : s.Server().Users().ListUsers(kind)) {
            const UserRecord& u = n.data;
            const std::string name = n.name.value_or("");
            if (u.HasFlag(kFlagDeleted)) ++deleted;
            if (!filter.Selects(name, u)) continue;
            const TransferStats& up = u.stats[kAllUp];
            const TransferStats& down = u.stats[kAllDown];
            const std::string amounts = StringUtil::Format(
                "UL:%7lluMB    DL:%7lluMB    Credit:%7lldMB", Megabytes(up.kilobytes),
                Megabytes(down.kilobytes), CreditMegabytes(u.credits));
            if (kind == UserStore::kLocalUsers) {
                s.Line(StringUtil::Format(" %-14s %-10s ", name.c_str(), u.group.c_str()) +
                       amounts);
            } else {
                s.Line(StringUtil::Format(" %-25s ", name.c_str()) + amounts);
            }
            ++members;
            uploaded += Megabytes(up.kilobytes);
            downloaded += Megabytes(down.kilobytes);
            filesUp += up.files;
            filesDown += down.files;
            if (u.HasFlag(kFlagSiteop)) ++siteops;
            if (u.HasFlag(kFlagGadmin)) ++gadmins;
            if (u.ratio == 0) ++leeches;
        }
    };
    if (local) list(UserStore::kLocalUsers);
    if (shared) list(UserStore::kSharedUsers);
    s.Line(StringUtil::Format(" Uploaded:%8lluMB Downloaded:%9lluMB FilesUp:%6llu FilesDown:%6llu",
                              uploaded, downloaded, filesUp, filesDown));
    s.Line(StringUtil::Format(" SITEOPS=%u, GADMINS=%u, LEECH=%u, DELETED=%u", siteops, gadmins,
                              leeches, deleted));
    s.Respond(args, StringUtil::Format("%u Total members.", members), "200");
    return 1;
}

}  // namespace orvex::site
