// Who is online and what they do: SITE WHO, SWHO and STATE, and ending sessions with KICK and
// KILL. Sessions are ended through the registry's flags: each target thread closes its own
// sockets, and a transfer it runs ends as an aborted one.

#include <cstdlib>

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/accounts/UserStore.h"
#include "server/app/OnlineRegistry.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/remote/AliasStore.h"
#include "server/session/SiteSession.h"
#include "server/site/SiteCommandSupport.h"
#include "server/site/community/CommunityCommands.h"
#include "server/site/community/SiteReports.h"

namespace orvex::site {

namespace {

constexpr const char* kStateTime = "%a %b %d %Y %H:%M:%S %Z";
constexpr size_t kActionArgumentMax = 11;

// Whether a user of another server is one that an alias of this server shares ("S" in SITE
// SWHO), as opposed to one that logged in from another server ("R").
bool SharedThroughAlias(ServerSite& site, std::string_view user) {
    return site.Aliases().IsSharedUser(user);
}

double KiloBytes(double bytes) {
    return bytes / 1024.0;
}

const char* YesNo(bool value) {
    return value ? "Yes" : "No";
}

}  // namespace

std::string FormatAction(ServerSite& site, uint32_t connection, const OnlineRecord& record,
                         int64_t now) {
    const int kind = OnlineRegistry::KindOf(record.lastTransferCommand);
    if (site.Registry().CountTransfers(connection, kNoTransfer) == 0 || kind == kNoTransfer)
        return "IDLE for " + SiteSession::FormatDuration(record.lastActive, now);
    const size_t space = record.lastTransferCommand.find(' ');
    std::string argument =
        space == std::string::npos ? std::string() : record.lastTransferCommand.substr(space + 1);
    StringUtil::Truncate(argument, kActionArgumentMax);
    return StringUtil::Format(kind == kUpload ? "UL: %-11s at %6.1fK/s" : "DL: %-11s at %6.1fK/s",
                              argument.c_str(), KiloBytes(record.currentRate));
}

int Who(SiteSession& s, const Args& args) {
    ServerSite& site = s.Server();
    const std::string shortName = site.Config().GetSiteNameShort();
    s.Line(shortName.empty() ? std::string("  Users Logged Onto Site")
                             : "  Users Logged Onto " + shortName);
    s.Line(" .------------------------------------------------------------------------.");
    s.Line(" | User        Tagline           Group       Action                       |");
    const char* rule =
        " |-----------+-----------------+-----------+------------------------------|";
    s.Line(rule);
    const int64_t now = Clock::NowSeconds();
    unsigned count = 0;
    double upload = 0, download = 0;
    auto rows = [&](OnlineKind kind) {
        for (const auto& n : site.Registry().Snapshot(kind)) {
            const std::string name = n.name.value_or("");
            const std::optional<UserRecord> user = site.Users().FindUser(name);
            if (!user) continue;
            const uint32_t connection = static_cast<uint32_t>(n.id);
            const std::string action = FormatAction(site, connection, n.data, now);
            if (kind == OnlineKind::Local) {
                // A longer tagline is cut to its column.
                s.Line(StringUtil::Format(" | %-9s | %-15.15s | %-9s | %-28s |", name.c_str(),
                                          user->tagline.c_str(), user->group.c_str(),
                                          action.c_str()));
            } else {
                s.Line(StringUtil::Format(" | %-27s | %-9s | %-28s |", name.c_str(),
                                          user->group.c_str(), action.c_str()));
            }
            ++count;
            const int transfer = OnlineRegistry::KindOf(n.data.lastTransferCommand);
            if (transfer == kUpload) upload += n.data.currentRate;
            if (transfer == kDownload) download += n.data.currentRate;
        }
    };
    rows(OnlineKind::Local);
    s.Line(rule);
    rows(OnlineKind::Shared);
    s.Line(" |-----------------------------+-----------+------------------------------|");
    s.Line(StringUtil::Format(" | Total upload speed: %9.2fK/s | Total download speed: %10.2fK/s |",
                              KiloBytes(upload), KiloBytes(download)));
    s.Line(" |----------------------------------+-------------------------------------|");
    s.Line(StringUtil::Format(
        " | %2u of %3u User(s) Currently Online                                     |", count,
        site.Config().GetMaxUsers()));
    s.Line(" `------------------------------------------------------------------------'");
    s.Respond(args, "Command successful.", "200");
    return 1;
}

int SWho(SiteSession& s, const Args& args) {
    ServerSite& site = s.Server();
    const int64_t now = Clock::NowSeconds();
    s.Line(" .------------------------------------------------------------------------.");
    s.Line(" | PiD    User         IP                            Online     Idle      |");
    s.Line(" |------+------------+------------------------------+----------+----------|");
    for (const auto& n : site.Registry().Snapshot(OnlineKind::Local)) {
        s.Line(StringUtil::Format(" | %-4u | %-10s | %-28s | %-8s | %-8s |",
                                  static_cast<unsigned>(n.id), n.name.value_or("").c_str(),
                                  n.data.clientIp.c_str(),
                                  SiteSession::FormatDuration(n.data.loginTime, now).c_str(),
                                  SiteSession::FormatDuration(n.data.lastActive, now).c_str()));
    }
    s.Line(" |------+---+---------------------------------------+----------+----------|");
    for (const auto& n : site.Registry().Snapshot(OnlineKind::Shared)) {
        const std::string name = n.name.value_or("");
        s.Line(StringUtil::Format(" | %-4u | %c | %-37s | %-8s | %-8s |",
                                  static_cast<unsigned>(n.id),
                                  SharedThroughAlias(site, name) ? 'S' : 'R', name.c_str(),
                                  SiteSession::FormatDuration(n.data.loginTime, now).c_str(),
                                  SiteSession::FormatDuration(n.data.lastActive, now).c_str()));
    }
    s.Line(" `------------------------------------------------------------------------'");
    s.Line(" ");
    s.Respond(args, "Command successful.", "200");
    return 1;
}

int State(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.state");
    ServerSite& site = s.Server();
    const char* typed = args[2].c_str();
    std::string name;
    if (!site.Users().FindUser(args[2], &name)) {
        s.Respond(args, StringUtil::Format("User '%s' does not exist.", typed), "501");
        return 0;
    }
    const std::vector<OnlineSessionInfo> sessions = site.Registry().SessionsOf(name);
    if (sessions.empty()) {
        s.Respond(args, StringUtil::Format("User '%s' is not currently online.", typed), "502");
        return 0;
    }
    s.Line("  Current State for " + name);
    s.Line(" " + std::string(74, '-'));
    for (const OnlineSessionInfo& i : sessions) {
        s.Line(StringUtil::Format(" Connection for UserID %u", i.connection));
        s.Line("     Current Directory...: /" + FileUtil::Slashed(i.cwd));
        s.Line(StringUtil::Format("     Client IP...........: %s:%u", i.clientIp.c_str(),
                                  static_cast<unsigned>(i.clientPort)));
        s.Line("     Client Name.........: " + i.clientHost);
        s.Line("     Time Last Active....: " + StampText(kStateTime, i.lastActive));
        s.Line(
            StringUtil::Format("     Num Listing Threads.: %u", static_cast<unsigned>(i.listings)));
        s.Line(StringUtil::Format("     Num Data Threads....: %u",
                                  static_cast<unsigned>(i.transfers)));
        s.Line(StringUtil::Format("     Using SSL...........: %s", YesNo(i.tls)));
        s.Line(StringUtil::Format("     Encrypting Data.....: %s", YesNo(i.dataEncrypted)));
        s.Line(
            StringUtil::Format("     Transfer Mode ......: %s", i.passive ? "Passive" : "Active"));
        const std::optional<OnlineRecord> record = site.Registry().CopyRecord(i.connection);
        if (!record) continue;
        s.Line("     Login Time..........: " + StampText(kStateTime, record->loginTime));
        s.Line("     Last Command........: " + record->lastCommand);
        s.Line("     Last Xfer Command...: " + record->lastTransferCommand);
        s.Line(
            StringUtil::Format("     Current Xfer Rate...: %u (bytes/sec)", record->currentRate));
    }
    s.Respond(args, "Command Successful.", "200");
    return 1;
}

int Kick(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.kick");
    const std::string& pattern = args[2];
    const std::vector<std::string> matching = UsersMatching(s, pattern);
    unsigned kicked = 0;
    int asked = 0;
    std::string last;
    for (const std::string& name : matching) {
        asked = s.Server().Registry().KickUser(name, s.ConnectionNumber());
        last = name;
        if (asked == 0) continue;
        ++kicked;
        s.SysopLog(": kicked user '" + name + "'");
    }
    if (IsPattern(pattern)) {
        s.Respond(args, StringUtil::Format("Kicked %u %s.", kicked, kicked == 1 ? "user" : "users"),
                  "200");
        return 1;
    }
    if (matching.empty()) {
        s.Respond(args, StringUtil::Format("%s: No such user.", pattern.c_str()), "502");
        return 0;
    }
    if (asked == 0) {
        s.Respond(args, StringUtil::Format("User %s is not connected.", last.c_str()), "501");
        return 0;
    }
    s.Respond(args,
              StringUtil::Format("Killed %d %s.", asked, asked == 1 ? "connection" : "connections"),
              "200");
    return 1;
}

int Kill(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.kill");
    OnlineRegistry& registry = s.Server().Registry();
    const long number = std::strtol(args[2].c_str(), nullptr, 10);
    const uint32_t connection = number > 0 ? static_cast<uint32_t>(number) : 0;
    const std::optional<std::string> name = registry.UserName(connection);
    if (connection == 0 || !registry.Kill(connection)) {
        s.Respond(args, StringUtil::Format("%s: Invalid PiD.", args[2].c_str()), "501");
        return 0;
    }
    const int pid = static_cast<int>(connection);
    if (name) {
        s.SysopLog(StringUtil::Format(": killed PID %d (%s)", pid, name->c_str()));
        s.Respond(args, StringUtil::Format("PID %d (%s) killed.", pid, name->c_str()), "200");
    } else {
        s.SysopLog(StringUtil::Format(": killed PID %d", pid));
        s.Respond(args, StringUtil::Format("PID %d killed.", pid), "200");
    }
    return 1;
}

}  // namespace orvex::site
