// The top lists: users per statistics period (ALDN ... MONTHUP), the most nuked users (NUKETOP)
// and groups per period (GPAD ... GPWK).

#include "engine/StringUtil.h"
#include "server/accounts/GroupStore.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/session/SiteSession.h"
#include "server/site/community/CommunityCommands.h"
#include "server/site/community/TopRanking.h"

namespace orvex::site {

namespace {

constexpr const char* kTopSeparator =
    " |-----------------------------------------------------------------------|";
constexpr const char* kTopFooter =
    " `-----------------------------------------------------------------------'";

struct UserTop {
    const char* title;
    StatGroup group;
    int decimals;  // of the megabytes; 0 shows whole megabytes
};

constexpr UserTop kTopAllDown{
    " .----------------------[ Top AllTime Downloaders ]----------------------.", kAllDown, 0};
constexpr UserTop kTopAllUp{
    " .-----------------------[ Top AllTime Uploaders ]-----------------------.", kAllUp, 0};
constexpr UserTop kTopDayDown{
    " .---------------------[ Top Downloaders For Today ]---------------------.", kDayDown, 2};
constexpr UserTop kTopDayUp{
    " .----------------------[ Top Uploaders For Today ]----------------------.", kDayUp, 2};
constexpr UserTop kTopWeekDown{
    " .-------------------[ Top Downloaders For This Week ]-------------------.", kWeekDown, 2};
constexpr UserTop kTopWeekUp{
    " .--------------------[ Top Uploaders For This Week ]--------------------.", kWeekUp, 2};
constexpr UserTop kTopMonthDown{
    " .------------------[ Top Downloaders For This Month ]-------------------.", kMonthDown, 1};
constexpr UserTop kTopMonthUp{
    " .-------------------[ Top Uploaders For This Month ]--------------------.", kMonthUp, 1};

// Title, header and separator, the ranked rows, footer and the reply.
void SendTop(SiteSession& s, const Args& args, const char* title, const char* header,
             const std::vector<std::string>& rows) {
    s.Line(title);
    s.Line(header);
    s.Line(kTopSeparator);
    for (const std::string& row : rows) s.Line(row);
    s.Line(kTopFooter);
    s.Respond(args, "Command successful.", "200");
}

std::string Cut(const std::string& text, size_t max) {
    return text.substr(0, max);
}

// Ranks the users of the chosen kind by `key` and formats a row for each, numbered from 1.
template <class KeyFn, class RowFn>
std::vector<std::string> RankUsers(SiteSession& s, const TopArgs& top, KeyFn key, RowFn row) {
    std::vector<std::pair<std::string, UserRecord>> users;
    std::vector<int32_t> keys;
    for (auto& n : s.Server().Users().ListUsers(top.kind)) {
        keys.push_back(key(n.data));
        users.emplace_back(n.name.value_or(""), std::move(n.data));
    }
    std::vector<std::string> rows;
    int rank = 0;
    for (size_t at : RankTop(keys, top.count))
        rows.push_back(row(++rank, users[at].first, users[at].second));
    return rows;
}

int UserTopList(SiteSession& s, const Args& args, const UserTop& list) {
    const std::vector<std::string> rows = RankUsers(
        s, ParseTopArgs(args),
        [&](const UserRecord& u) { return static_cast<int32_t>(u.stats[list.group].kilobytes); },
        [&](int rank, const std::string& name, const UserRecord& u) {
            const TransferStats& t = u.stats[list.group];
            const unsigned rate =
                static_cast<unsigned>(uint64_t{t.kilobytes} / (uint64_t{t.seconds} + 1));
            const std::string who = Cut(name, 17), tagline = Cut(u.tagline, 21);
            if (list.decimals == 0) {
                return StringUtil::Format(" [%02d] %-17s %-21s %6u %8uMB %5uk/s", rank, who.c_str(),
                                          tagline.c_str(), t.files, t.kilobytes / 1024, rate);
            }
            return StringUtil::Format(" [%02d] %-17s %-21s %6u %8.*fMB %5uk/s", rank, who.c_str(),
                                      tagline.c_str(), t.files, list.decimals, t.kilobytes / 1024.0,
                                      rate);
        });
    SendTop(s, args, list.title,
            " | ## User              Tagline                Files  Megabytes  Avg k/s |", rows);
    return 1;
}

// A group with its members' totals: files and megabytes down and up for each period, each
// member adding its kilobytes / 1024.
struct GroupTotals {
    GroupRecord group;
    struct Pair {
        uint64_t files = 0, megabytes = 0;
    };
    Pair totals[kStatGroups];
    unsigned members = 0;
};

std::vector<GroupTotals> TotalsOfGroups(SiteSession& s) {
    std::vector<GroupTotals> out;
    for (auto& g : s.Server().Groups().ListGroups()) out.push_back({std::move(g.data), {}, 0});
    const KeyedList<UserRecord> users = s.Server().Users().ListUsers(UserStore::kAllUsers);
    for (GroupTotals& g : out) {
        for (const auto& u : users) {
            if (!StringUtil::EqualNoCase(u.data.group, g.group.name)) continue;
            ++g.members;
            for (size_t i = 0; i < kStatGroups; ++i) {
                g.totals[i].files += u.data.stats[i].files;
                g.totals[i].megabytes += u.data.stats[i].kilobytes / 1024;
            }
        }
    }
    return out;
}

struct GroupTop {
    const char* title;
    StatGroup group;
};

int GroupTopList(SiteSession& s, const Args& args, const GroupTop& list) {
    const std::vector<GroupTotals> groups = TotalsOfGroups(s);
    std::vector<int32_t> keys;
    for (const GroupTotals& g : groups)
        keys.push_back(static_cast<int32_t>(g.totals[list.group].megabytes));
    std::vector<std::string> rows;
    int rank = 0;
    for (size_t at : RankTop(keys, ParseTopArgs(args).count)) {
        const GroupTotals& g = groups[at];
        rows.push_back(StringUtil::Format(
            " [%02d] %-16s %-25s %8llu %8lluMB %3u", ++rank, Cut(g.group.name, 16).c_str(),
            Cut(g.group.description, 25).c_str(),
            static_cast<unsigned long long>(g.totals[list.group].files),
            static_cast<unsigned long long>(g.totals[list.group].megabytes), g.members));
    }
    const bool up = list.group == kAllUp || list.group == kMonthUp || list.group == kWeekUp;
    SendTop(s, args, list.title,
            up ? " | ## Group Abb.       Group Desc.               Files Up  Megabytes  M# |"
               : " | ## Group Abb.       Group Desc.               Files Dn  Megabytes  M# |",
            rows);
    return 1;
}

}  // namespace

int AlDn(SiteSession& s, const Args& args) {
    return UserTopList(s, args, kTopAllDown);
}
int AlUp(SiteSession& s, const Args& args) {
    return UserTopList(s, args, kTopAllUp);
}
int DayDn(SiteSession& s, const Args& args) {
    return UserTopList(s, args, kTopDayDown);
}
int DayUp(SiteSession& s, const Args& args) {
    return UserTopList(s, args, kTopDayUp);
}
int WkDn(SiteSession& s, const Args& args) {
    return UserTopList(s, args, kTopWeekDown);
}
int WkUp(SiteSession& s, const Args& args) {
    return UserTopList(s, args, kTopWeekUp);
}
int MonthDn(SiteSession& s, const Args& args) {
    return UserTopList(s, args, kTopMonthDown);
}
int MonthUp(SiteSession& s, const Args& args) {
    return UserTopList(s, args, kTopMonthUp);
}

int NukeTop(SiteSession& s, const Args& args) {
    const std::vector<std::string> rows = RankUsers(
        s, ParseTopArgs(args),
        [](const UserRecord& u) { return static_cast<int32_t>(u.amountNuked); },
        [](int rank, const std::string& name, const UserRecord& u) {
            return StringUtil::Format(" [%02d] %-21s %-16s %11u    %10uMB", rank,
                                      Cut(name, 21).c_str(), Cut(u.group, 16).c_str(), u.timesNuked,
                                      u.amountNuked);
        });
    SendTop(s, args, " .--------------------------[ Top Nuked Users ]--------------------------.",
            " | ## User                  Group            Times Nuked     Bytes Nuked |", rows);
    return 1;
}

int GpAd(SiteSession& s, const Args& args) {
    return GroupTopList(
        s, args,
        {" .-------------------[ Top Group AllTime Downloaders ]-------------------.", kAllDown});
}
int GpAl(SiteSession& s, const Args& args) {
    return GroupTopList(
        s, args,
        {" .--------------------[ Top Group AllTime Uploaders ]--------------------.", kAllUp});
}
int GpMd(SiteSession& s, const Args& args) {
    return GroupTopList(
        s, args,
        {" .---------------[ Top Group Downloaders For This Month ]----------------.", kMonthDown});
}
int GpMn(SiteSession& s, const Args& args) {
    return GroupTopList(
        s, args,
        {" .----------------[ Top Group Uploaders For This Month ]-----------------.", kMonthUp});
}
int GpWd(SiteSession& s, const Args& args) {
    return GroupTopList(
        s, args,
        {" .----------------[ Top Group Downloaders For This Week ]----------------.", kWeekDown});
}
int GpWk(SiteSession& s, const Args& args) {
    return GroupTopList(
        s, args,
        {" .-----------------[ Top Group Uploaders For This Week ]-----------------.", kWeekUp});
}

}  // namespace orvex::site
